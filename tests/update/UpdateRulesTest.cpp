#include "update/UpdateRules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "services/Platform.h"
#include "settings/SectionLists.h"
#include "base/PathRules.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr const char* kFolder = "D:\\Games\\Title";
// Stands in expected texts for the CD-ROM root the platform reports.
constexpr const char* kCd = "<CD>";
// Longest text any rule buffer holds.
constexpr size_t kMaxLine = kExpandBuffer - 1;
// The install folder may be this long (a 260-byte buffer).
constexpr size_t kMaxFolder = kMaxPath - 1;

// The root CdRomRoot should give: natively no drive is a CD-ROM drive unless
// the variable says so; on Windows the platform's own drives decide.
std::string ExpectedRoot() {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string root = std::string(1, letter) + ":\\";
        if (PlatformDriveType(root.c_str()) == kDriveCdRom) return root;
    }
    return "E:\\";
}

std::string WithRoot(std::string text) {
    size_t at = text.find(kCd);
    if (at != std::string::npos) text.replace(at, strlen(kCd), ExpectedRoot());
    return text;
}

std::string OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

class UpdateRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        unsetenv("UPDATER_CDROM_DRIVE");
#endif
        ASSERT_TRUE(SetInstallFolderToken(kFolder));
    }
    void TearDown() override {
#ifndef _WIN32
        unsetenv("UPDATER_CDROM_DRIVE");
#endif
    }
};

TEST_F(UpdateRulesTest, CdRomRootAsksTheDrivesEachTime) {
#ifdef _WIN32
    EXPECT_EQ(ExpectedRoot(), CdRomRoot());
#else
    struct Case {
        const char* what;
        const char* drive;  // null: variable unset
        const char* root;
    } cases[] = {
        {"no CD-ROM drive", nullptr, "E:\\"},
        {"drive Q", "Q", "Q:\\"},
        {"first letter", "A", "A:\\"},
        {"last letter", "Z", "Z:\\"},
        {"lower case letter", "d", "D:\\"},
        {"no CD-ROM drive again: nothing cached", nullptr, "E:\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.drive != nullptr) setenv("UPDATER_CDROM_DRIVE", c.drive, 1);
        else unsetenv("UPDATER_CDROM_DRIVE");
        EXPECT_STREQ(c.root, CdRomRoot());
    }
#endif
}

TEST_F(UpdateRulesTest, ExpandReplacesTheFirstOfEachToken) {
    struct Case {
        const char* what;
        const char* line;
        const char* token;
        const char* expected;  // kCd stands for the CD-ROM root
    } cases[] = {
        {"install folder in a path", "Path=REP_INSTALL\\save", kIniCdRomToken, "Path=D:\\Games\\Title\\save"},
        {"only the first install token", "a=REP_INSTALL;REP_INSTALL", kIniCdRomToken,
         "a=D:\\Games\\Title;REP_INSTALL"},
        {"ini CD-ROM token", "cd=REP_CDROMDRIVE", kIniCdRomToken, "cd=<CD>"},
        {"only the first CD-ROM token", "REP_CDROMDRIVE,REP_CDROMDRIVE", kIniCdRomToken, "<CD>,REP_CDROMDRIVE"},
        {"short token left alone in ini", "cd=REP_CDROM", kIniCdRomToken, "cd=REP_CDROM"},
        {"long token in reg keeps DRIVE", "REP_CDROMDRIVE", kRegCdRomToken, "<CD>DRIVE"},
        {"both tokens", "REP_INSTALL|REP_CDROMDRIVE", kIniCdRomToken, "D:\\Games\\Title|<CD>"},
        {"no token", "plain=text", kIniCdRomToken, "plain=text"},
        {"empty line", "", kRegCdRomToken, ""},
        // コ is 83 52: its second byte is an R that never starts a token.
        {"token inside a character", "コEP_INSTALL", kIniCdRomToken, "コEP_INSTALL"},
        {"CD token inside a character", "コEP_CDROMDRIVE", kIniCdRomToken, "コEP_CDROMDRIVE"},
        // 表 is 95 5C: the token right after it starts on a character boundary.
        {"token after a double-byte character", "表REP_INSTALL", kIniCdRomToken, "表D:\\Games\\Title"},
        {"token in the middle of a word", "xREP_INSTALLy", kRegCdRomToken, "xD:\\Games\\Titley"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WithRoot(c.expected), OrNull(ExpandTokens(c.line, c.token)));
    }
}

TEST_F(UpdateRulesTest, EachSectionKeepsItsOwnExpansion) {
    const char* ini = ExpandTokens("ini=REP_INSTALL", kIniCdRomToken);
    const char* reg = ExpandTokens("reg REP_INSTALL", kRegCdRomToken);
    ASSERT_NE(nullptr, ini);
    ASSERT_NE(nullptr, reg);
    EXPECT_NE(ini, reg);
    EXPECT_STREQ("ini=D:\\Games\\Title", ini);
    EXPECT_STREQ("reg D:\\Games\\Title", reg);
    // The next expansion of a kind overwrites only that kind's text.
    EXPECT_STREQ("next", ExpandTokens("next", kIniCdRomToken));
    EXPECT_STREQ("reg D:\\Games\\Title", reg);
}

TEST_F(UpdateRulesTest, ExpansionsThatDoNotFitAreRefused) {
    std::string folder(kMaxFolder, 'f');
    ASSERT_TRUE(SetInstallFolderToken(folder.c_str()));
    std::string head = "k=REP_INSTALL";
    // Filler so that the expansion is exactly the longest text that fits.
    std::string fits(kMaxLine - (head.size() - strlen(kInstallToken) + folder.size()), 'x');
    struct Case {
        const char* what;
        std::string line;
        const char* token;
        size_t length;  // of the expansion; 0 when it is refused
    } cases[] = {
        {"line of 511 bytes", std::string(kMaxLine, 'a'), kIniCdRomToken, kMaxLine},
        {"line of 512 bytes", std::string(kMaxLine + 1, 'a'), kIniCdRomToken, 0},
        {"expansion of 511 bytes", head + fits, kIniCdRomToken, kMaxLine},
        {"expansion of 512 bytes", head + fits + "x", kRegCdRomToken, 0},
        {"CD-ROM token shrinks a full line", std::string(kMaxLine - 14, 'c') + "REP_CDROMDRIVE", kIniCdRomToken,
         kMaxLine - 14 + 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const char* result = ExpandTokens(c.line.c_str(), c.token);
        if (c.length == 0) {
            EXPECT_EQ(nullptr, result);
        } else {
            ASSERT_NE(nullptr, result);
            EXPECT_EQ(c.length, strlen(result));
        }
    }
    // A refused expansion leaves its buffer empty, not half written.
    const char* before = ExpandTokens("kept", kRegCdRomToken);
    ASSERT_NE(nullptr, before);
    EXPECT_EQ(nullptr, ExpandTokens((head + fits + "xx").c_str(), kRegCdRomToken));
    EXPECT_STREQ("", before);

    // A folder over 259 bytes is refused and then stands for nothing.
    EXPECT_FALSE(SetInstallFolderToken(std::string(kMaxPath, 'g').c_str()));
    EXPECT_STREQ("a==b", ExpandTokens("a=REP_INSTALL=b", kIniCdRomToken));
}

TEST_F(UpdateRulesTest, RemoveEscapesKeepsWhatFollowsEachBackslash) {
    struct Case {
        const char* what;
        const char* line;
        const char* expected;
    } cases[] = {
        {"no escapes", "\"a\"=\"b\"", "\"a\"=\"b\""},
        {"doubled backslash", "C:\\\\Games", "C:\\Games"},
        {"escaped quote", "say \\\"hi\\\"", "say \"hi\""},
        {"two doubled backslashes", "\\\\\\\\", "\\\\"},
        {"three backslashes", "\\\\\\", "\\"},
        {"lone final backslash dropped", "end\\", "end"},
        {"only a backslash", "\\", ""},
        {"escaped letter", "\\n", "n"},
        {"empty", "", ""},
        // 表 and ソ end in 5C, which is never an escape.
        {"second byte 5C", "表ソ", "表ソ"},
        {"doubled backslash after ソ", "ソ\\\\表", "ソ\\表"},
        {"escaped double-byte character kept whole", "\\表\\\\", "表\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected, OrNull(RemoveEscapes(c.line)));
    }
    EXPECT_NE(nullptr, RemoveEscapes(std::string(kMaxLine, '\\').c_str()));
    EXPECT_EQ(std::string(kMaxLine / 2, '\\'), OrNull(RemoveEscapes(std::string(kMaxLine, '\\').c_str())));
    EXPECT_EQ(nullptr, RemoveEscapes(std::string(kMaxLine + 1, 'a').c_str()));
}

TEST_F(UpdateRulesTest, IniLinesSplitAtTheFirstEquals) {
    struct Case {
        const char* what;
        const char* line;
        int result;
        const char* key;
        const char* value;  // kCd stands for the CD-ROM root
    } cases[] = {
        {"install folder in the value", "Path=REP_INSTALL\\save", 0, "Path", "D:\\Games\\Title\\save"},
        {"further equals signs stay in the value", "a=b=c", 0, "a", "b=c"},
        {"empty value", "a=", 0, "a", ""},
        {"empty key", "=x", 0, "", "x"},
        {"no equals sign", "just text", -1, "", ""},
        {"empty line", "", -1, "", ""},
        {"nothing trimmed", " a = b ", 0, " a ", " b "},
        {"CD-ROM drive", "Cd=REP_CDROMDRIVE", 0, "Cd", "<CD>"},
        {"short CD-ROM token left alone", "Cd=REP_CDROM", 0, "Cd", "REP_CDROM"},
        {"only the first install token", "Two=REP_INSTALL;REP_INSTALL", 0, "Two", "D:\\Games\\Title;REP_INSTALL"},
        {"token in the key", "REP_INSTALL=REP_INSTALL", 0, "D:\\Games\\Title", "REP_INSTALL"},
        {"Shift-JIS key and value", "表ソ=ゲーム\\データ", 0, "表ソ", "ゲーム\\データ"},
        // No character has 3D as its second byte, but the table pairs it with
        // any lead byte, so it is never taken for the separator.
        {"equals sign as a second byte only", "\x81=abc", -1, "", ""},
        {"separator after a paired equals sign", "\x81=a=b", 0, "\x81=a", "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char key[kExpandBuffer] = "stale";
        char value[kExpandBuffer] = "stale";
        EXPECT_EQ(c.result, SplitIniLine(c.line, key, sizeof(key), value, sizeof(value)));
        EXPECT_STREQ(c.key, key);
        EXPECT_EQ(WithRoot(c.value), value);
    }
}

TEST_F(UpdateRulesTest, IniLinesThatDoNotFitAreSkipped) {
    std::string folder(kMaxFolder, 'f');
    ASSERT_TRUE(SetInstallFolderToken(folder.c_str()));
    char key[kExpandBuffer];
    char value[kExpandBuffer];
    std::string longest = "k=REP_INSTALL" + std::string(kMaxLine - 2 - folder.size(), 'v');
    ASSERT_EQ(0, SplitIniLine(longest.c_str(), key, sizeof(key), value, sizeof(value)));
    EXPECT_STREQ("k", key);
    EXPECT_EQ(kMaxLine - 2, strlen(value));
    EXPECT_EQ(-1, SplitIniLine((longest + "v").c_str(), key, sizeof(key), value, sizeof(value)));
    EXPECT_STREQ("", key);
    EXPECT_STREQ("", value);

    // Buffers smaller than the key or the value: the line is skipped, never cut.
    char small[4];
    EXPECT_EQ(-1, SplitIniLine("long key=v", small, sizeof(small), value, sizeof(value)));
    EXPECT_STREQ("", small);
    EXPECT_EQ(0, SplitIniLine("abc=xyz", small, sizeof(small), value, sizeof(value)));
    EXPECT_EQ(-1, SplitIniLine("k=long value", key, sizeof(key), small, sizeof(small)));
}

TEST_F(UpdateRulesTest, RegLinesSplitAsTheRegistryEditorExports) {
    struct Case {
        const char* what;
        const char* line;
        int result;
        const char* name;
        const char* data;  // kCd stands for the CD-ROM root
    } cases[] = {
        {"install folder as data", "\"InstallDir\"=\"REP_INSTALL\"", 0, "InstallDir", "D:\\Games\\Title"},
        {"install folder with a sub-folder", "\"Save\"=\"REP_INSTALL\\\\save\"", 0, "Save", "D:\\Games\\Title\\save"},
        {"doubled backslashes become single", "\"Path\"=\"C:\\\\Program Files\\\\Game\\\\\"", 0, "Path",
         "C:\\Program Files\\Game\\"},
        {"escaped quotes", "\"Say\"=\"\\\"hi\\\"\"", 0, "Say", "\"hi\""},
        {"long CD-ROM token keeps DRIVE", "\"Cd\"=\"REP_CDROMDRIVE\"", 0, "Cd", "<CD>DRIVE"},
        {"short CD-ROM token", "\"Cd\"=\"REP_CDROM\\\\data\"", 0, "Cd", "<CD>\\data"},
        {"empty name is the default value", "\"\"=\"x\"", 0, "", "x"},
        {"empty data", "\"Empty\"=\"\"", 0, "Empty", ""},
        {"nothing after the separator", "\"Bare\"=\"", 0, "Bare", ""},
        {"only the first install token", "\"Two\"=\"REP_INSTALL;REP_INSTALL\"", 0, "Two",
         "D:\\Games\\Title;REP_INSTALL"},
        {"key header", "[HKEY_CURRENT_USER\\Software\\Maker\\Game]", -1, "", ""},
        {"default value as exported", "@=\"default\"", -1, "", ""},
        {"number value", "\"Count\"=dword:00000001", -1, "", ""},
        {"separator only at the first byte", "\"=\"x\"", -1, "", ""},
        {"separator again after the first byte", "\"=\"=\"x\"", 0, "=", "x"},
        // 表 and ソ end in 5C: kept whole, and the escape after ト still removed.
        {"Shift-JIS name and data", "\"表\"=\"ソフト\\\\表\"", 0, "表", "ソフト\\表"},
        // A lead byte before the quote pairs with it, so no separator begins there.
        {"separator quote as a second byte", "\"a\x81\"=\"b\"", -1, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char name[kExpandBuffer] = "stale";
        char data[kExpandBuffer] = "stale";
        EXPECT_EQ(c.result, SplitRegLine(c.line, name, sizeof(name), data, sizeof(data)));
        EXPECT_STREQ(c.name, name);
        EXPECT_EQ(WithRoot(c.data), data);
    }
}

TEST_F(UpdateRulesTest, EscapesAreRemovedBeforeTheFolderGoesIn) {
    // A folder with backslashes, a doubled one included, is inserted as it is.
    ASSERT_TRUE(SetInstallFolderToken("E:\\\\Odd\\ソ"));
    char name[kExpandBuffer];
    char data[kExpandBuffer];
    ASSERT_EQ(0, SplitRegLine("\"Dir\"=\"REP_INSTALL\"", name, sizeof(name), data, sizeof(data)));
    EXPECT_STREQ("E:\\\\Odd\\ソ", data);
}

TEST_F(UpdateRulesTest, CdRomTokenGoesBeforeTheFolder) {
    // A folder that itself holds the CD-ROM token keeps it.
    ASSERT_TRUE(SetInstallFolderToken("C:\\REP_CDROMDRIVE"));
    EXPECT_STREQ("C:\\REP_CDROMDRIVE", ExpandTokens("REP_INSTALL", kIniCdRomToken));
    EXPECT_STREQ("C:\\REP_CDROMDRIVE", ExpandTokens("REP_INSTALL", kRegCdRomToken));
}

TEST_F(UpdateRulesTest, RegLinesThatDoNotFitAreSkipped) {
    std::string folder(kMaxFolder, 'f');
    ASSERT_TRUE(SetInstallFolderToken(folder.c_str()));
    char name[kExpandBuffer];
    char data[kExpandBuffer];
    // "n"="REP_INSTALL<pad>" expands to exactly 511 bytes.
    std::string head = "\"n\"=\"REP_INSTALL";
    std::string pad(kMaxLine - (head.size() - strlen(kInstallToken) + folder.size() + 1), 'p');
    std::string longest = head + pad + "\"";
    ASSERT_EQ(0, SplitRegLine(longest.c_str(), name, sizeof(name), data, sizeof(data)));
    EXPECT_EQ(folder + pad, data);
    std::string over = head + pad + "p\"";
    EXPECT_EQ(-1, SplitRegLine(over.c_str(), name, sizeof(name), data, sizeof(data)));
    EXPECT_STREQ("", name);
    EXPECT_STREQ("", data);
    // The unescaped copy starts as a copy of the whole line: 512 bytes never
    // fit, however many escapes would go.
    auto escaped = [](size_t xs) { return "\"e\"=\"" + std::string(xs, 'x') + "\\\\\""; };
    ASSERT_EQ(kMaxLine + 1, escaped(kMaxLine - 7).size());
    EXPECT_EQ(-1, SplitRegLine(escaped(kMaxLine - 7).c_str(), name, sizeof(name), data, sizeof(data)));
    EXPECT_EQ(0, SplitRegLine(escaped(kMaxLine - 8).c_str(), name, sizeof(name), data, sizeof(data)));
    EXPECT_EQ(std::string(kMaxLine - 8, 'x') + "\\", data);
    char small[3];
    EXPECT_EQ(-1, SplitRegLine("\"abc\"=\"d\"", small, sizeof(small), data, sizeof(data)));
    EXPECT_EQ(-1, SplitRegLine("\"a\"=\"def\"", name, sizeof(name), small, sizeof(small)));
    EXPECT_EQ(0, SplitRegLine("\"ab\"=\"de\"", small, sizeof(small), data, sizeof(data)));
}

class DeleteAfterInstallTest : public ::testing::Test {
protected:
    // Loads a settings file whose [delfiles_afterinst] section holds entries.
    void LoadEntries(const std::string& entries) {
        std::string path = settings_ / "install.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes("[delfiles_afterinst]\r\n" + entries + "-\r\n")));
        LoadSectionLists(path.c_str());
    }
    void Make(const std::string& relative) {
        if (relative.back() == '\\') {
            ASSERT_EQ(0, PlatformCreateFolder((install_ / relative.substr(0, relative.size() - 1)).c_str()));
        } else {
            ASSERT_TRUE(WriteFileBytes(install_ / relative, ToBytes("x")));
        }
    }
    TempFolder settings_;
    TempFolder install_;
    CurrentFolderGuard cwd_;
};

TEST_F(DeleteAfterInstallTest, DeletesEntriesAndEmptiedFirstFolders) {
    for (const char* path : {"data\\", "data\\old.dat", "keep\\", "keep\\a.tmp", "keep\\b.dat", "top.bak", "top.txt",
                             "sub\\", "sub\\inner\\", "sub\\inner\\x.dat", "表\\", "表\\ソ.dat"}) {
        Make(path);
    }
    LoadEntries("data\\old.dat\r\n"
                "keep\\*.tmp\r\n"
                "*.bak\r\n"
                "sub\\inner\\x.dat\r\n"
                "表\\*.*\r\n"
                "missing\\none.dat\r\n");
    char before[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(before, sizeof(before)));

    DeleteAfterInstall(install_.Path().c_str());

    // data was emptied and removed; keep still holds a file; only sub, the
    // first folder of its entry, is tried, and it is not empty.
    EXPECT_EQ((std::vector<std::string>{"keep\\", "keep\\b.dat", "sub\\", "sub\\inner\\", "top.txt"}),
              ListTree(install_.Path()));
    char after[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(after, sizeof(after)));
    EXPECT_STREQ(before, after);
}

TEST_F(DeleteAfterInstallTest, FolderPathsOver259BytesAreNotRemoved) {
    size_t base = install_.Path().size();
    ASSERT_LT(base + 2, kMaxPath - 1);
    // Folder names giving paths of exactly 259 and 260 bytes.
    std::string fits(kMaxPath - 1 - base - 1, 'a');
    std::string over(kMaxPath - base - 1, 'b');
    if (PlatformCreateFolder((install_ / fits).c_str()) != 0 || PlatformCreateFolder((install_ / over).c_str()) != 0)
        GTEST_SKIP() << "this system makes no folders that long";
    LoadEntries(fits + "\\*.dat\r\n" + over + "\\*.dat\r\n");
    DeleteAfterInstall(install_.Path().c_str());
    EXPECT_FALSE(Exists(install_ / fits));
    EXPECT_TRUE(Exists(install_ / over));
}

TEST_F(DeleteAfterInstallTest, LinesThatLeaveTheInstallFolderDeleteNothingThere) {
    // The game lies in a folder of its own, with files beside it that an
    // entry climbing out would reach.
    std::string game = install_ / "game";
    ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
    ASSERT_TRUE(WriteFileBytes(install_ / "win.ini", ToBytes("x")));
    ASSERT_TRUE(WriteFileBytes(install_ / "system.ini", ToBytes("x")));
    ASSERT_EQ(0, PlatformCreateFolder((game + "\\data").c_str()));
    ASSERT_TRUE(WriteFileBytes(game + "\\data\\old.dat", ToBytes("x")));
    ASSERT_TRUE(WriteFileBytes(game + "\\old.ini", ToBytes("x")));
    ASSERT_TRUE(WriteFileBytes(game + "\\keep.dat", ToBytes("x")));
    LoadEntries("..\\*.ini\r\n"
                "data\\..\\..\\win.ini\r\n" +
                (install_ / "system.ini") + "\r\n"
                "\\system.ini\r\n"
                "data\\old.dat\r\n"
                "*.ini\r\n");

    DeleteAfterInstall(game.c_str());

    EXPECT_EQ((std::vector<std::string>{"game\\", "game\\keep.dat", "system.ini", "win.ini"}),
              ListTree(install_.Path()));
}

TEST_F(DeleteAfterInstallTest, EmptyListDeletesNothing) {
    Make("a.dat");
    Make("data\\");
    LoadEntries("");
    DeleteAfterInstall(install_.Path().c_str());
    EXPECT_EQ((std::vector<std::string>{"a.dat", "data\\"}), ListTree(install_.Path()));
}

}  // namespace
