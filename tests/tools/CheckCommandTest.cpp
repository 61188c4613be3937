// The install.env check: what it reports line by line, the values it says the
// updater will use (compared with the updater's own reading of the same file),
// and pack refusing a file the updater would not start with. String literals
// are Shift-JIS (the build compiles them to code page 932), u8 literals UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "services/DataFileOpener.h"
#include "services/Platform.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/CapturedOutput.h"
#include "tools/CheckCommand.h"
#include "tools/PackCommand.h"

namespace {

using Found = std::vector<std::pair<int, int>>;  // line, kind

// LF line ends as written, or each LF turned into CR LF.
std::string WithLineEnds(const std::string& text, bool crlf) {
    if (!crlf) return text;
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

Found Kinds(const SettingsCheck& check) {
    Found found;
    for (const CheckFinding& f : check.findings) found.emplace_back(f.line, f.kind);
    std::sort(found.begin(), found.end());
    return found;
}

std::string Describe(const SettingsCheck& check) {
    std::string text;
    for (const CheckFinding& f : check.findings) text += std::to_string(f.line) + ": " + f.text + "\n";
    return text;
}

const EffectiveSetting& Setting(const SettingsCheck& check, const std::string& key) {
    for (const EffectiveSetting& s : check.settings)
        if (key == s.key) return s;
    ADD_FAILURE() << "no setting " << key;
    return check.settings.front();
}

// Comment and empty lines, each counting towards the 400.
std::string Filler(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += i % 2 ? "\n" : "// filler\n";
    return text;
}

std::string Printed(const SettingsCheck& check) {
    FILE* out = tmpfile();
    PrintEffectiveSettings(check, out);
    std::string text = ReadAll(out);
    fclose(out);
    return text;
}

class CheckCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsForTesting();
        SetDirectOpenAllowed(1);
    }
    void TearDown() override {
        ResetSettingsForTesting();
        for (int s = 0; s < kSectionCount; ++s) ClearStringList(const_cast<StringList*>(SectionList(s)));
    }

    // A folder pack would take but for its install.env (a data file, the
    // background picture), and the request that packs it with the updater.
    void MakePackSource(const std::string& source, const std::string& output, PackRequest* request) {
        ASSERT_EQ(0, PlatformCreateFolder(source.c_str()));
        ASSERT_TRUE(WriteFileBytes(source + "\\game.bin", ToBytes("data")));
        std::string image = root_ / "updater.exe";
        ASSERT_TRUE(WriteFileBytes(image, MakeUpdaterImage()));
        ASSERT_TRUE(WriteFileBytes(source + "\\insttscr.rct", TinyRctPicture()));
        *request = PackRequest{image, output, source, "", kDefaultPackLevel, kPackLimit, nullptr};
    }

    std::string Store(const std::string& name, const std::string& text) {
        std::string path = root_ / name;
        EXPECT_TRUE(WriteFileBytes(path, ToBytes(text)));
        return path;
    }

    // Every value the check reports equals what the updater's accessors
    // give for the same file, and every list what the section pass keeps.
    void ExpectSameAsUpdater(const std::string& text, const SettingsCheck& check) {
        ResetSettingsForTesting();
        std::string path = Store("same.env", text);
        ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
        for (const EffectiveSetting& s : check.settings) {
            SCOPED_TRACE(s.key);
            EXPECT_EQ(s.isDefault, FindSetting(s.key) == nullptr);
            if (s.isInteger) {
                EXPECT_EQ(s.number, SettingInt(s.key, 0));
                continue;
            }
            char buffer[kLongSettingBuffer];
            EXPECT_EQ(s.value, SettingString(s.key, buffer, kSettingBuffer, s.isDefault ? s.value.c_str() : ""));
            EXPECT_EQ(s.fullValue, SettingString(s.key, buffer, kLongSettingBuffer, s.fullValue.c_str()));
        }
        if (check.errors > 0) return;  // the section pass would end the program
        for (int section = 0; section < kSectionCount; ++section)
            ClearStringList(const_cast<StringList*>(SectionList(section)));
        LoadSectionLists(path.c_str());
        for (int section = 0; section < kSectionCount; ++section) {
            std::vector<std::string> kept;
            for (const StringEntry* e = SectionList(section)->first; e != nullptr; e = e->next) kept.push_back(e->text);
            EXPECT_EQ(check.sections[section], kept) << SectionName(section);
        }
    }

    TempFolder root_;
};

TEST_F(CheckCommandTest, FindingsLineByLine) {
    const std::string tabs99(99, '\t'), tabs100(100, '\t');
    const std::string sixHundred =
        "// " + std::string(597, 'x') + "\n" + Filler(397) + "EXENAME in.exe\nKEYFILE out.dat\nfoo bar\n";
    const struct {
        const char* description;
        std::string text;  // LF line ends; each row runs with CR LF too
        Found expected;    // sorted
        const char* says = nullptr;  // part of the last finding's text: "" for no suggestion
    } cases[] = {
        {"a clean file", "TITLEBAR サンプル|ゲーム\nEXENAME game.exe\nCHKREG Ver\nCHKREGVER -3\nCHKREGVERHIGH 2\n", {}},
        {"a key alone keeps its default", "EXENAME\n", {{1, kCheckNoValue}}},
        {"a value after 99 blanks is read", "KEYFILE" + tabs99 + "key.dat\n", {}},
        {"a value after 100 blanks is not", "// c\nKEYFILE" + tabs100 + "key.dat\n", {{2, kCheckValueTooFar}}},
        {"127 bytes are kept", "TITLEBAR " + std::string(127, 'a') + "\n", {}},
        {"128 bytes are cut", "TITLEBAR " + std::string(128, 'a') + "\n", {{1, kCheckValueCut}}},
        {"an integer is not cut", "INSTMAKEFOL " + std::string(130, '1') + "\n", {{1, kCheckNotDecimal}}},
        {"a key in lower case", "titlebar x\n", {{1, kCheckUnknownKey}}, "case-sensitive; did you mean TITLEBAR?"},
        {"a misspelt key", "EXENAME a.exe\nTITLBAR x\n", {{2, kCheckUnknownKey}}, "did you mean TITLEBAR?"},
        {"swapped letters", "CHKREGVERHIHG 3\n", {{1, kCheckUnknownKey}}, "did you mean CHKREGVERHIGH?"},
        {"equally near two keys", "INSTREADMEF x\n", {{1, kCheckUnknownKey}}, "did you mean INSTREADME?"},
        {"a key near none", "EXEFILE x\n", {{1, kCheckUnknownKey}}, ""},
        {"a lone word near none", "hello\n", {}},
        {"a key with '='", "TITLEBAR=サンプル\n", {{1, kCheckUnknownKey}}, "write TITLEBAR, blanks"},
        {"an unknown key with '='", "EXEFILE=sample.exe\n", {{1, kCheckUnknownKey}}, "'=' does not separate"},
        {"a key defined twice", "EXENAME a.exe\n\nEXENAME b.exe\n", {{3, kCheckDuplicateKey}}},
        {"words after the value", "TITLEBAR My Game\n", {{1, kCheckExtraWords}}},
        {"a comment after the value", "TITLEBAR My|Game  // the title\nEXENAME a.exe ; b\n", {}},
        {"an indented key is a comment", " TITLEBAR x\n\tREG_LOCAL y\n",
         {{1, kCheckIndentedKey}, {2, kCheckIndentedKey}}},
        {"[EOF] after a blank ends nothing", "EXENAME a.exe\n  [EOF]\nKEYFILE k\n", {{2, kCheckNotFirstColumn}}},
        {"keys after [EOF]", "EXENAME a.exe\n[EOF] done\nKEYFILE k\n// note\nunknown x\n",
         {{3, kCheckAfterEof}, {5, kCheckAfterEof}}},
        {"[eof] in lower case", "[eof]\nKEYFILE k\n", {{1, kCheckMarkerCase}}},
        {"a header in capitals", "[INI]\nInstall x\n", {{1, kCheckMarkerCase}, {2, kCheckUnknownKey}}},
        {"a closed section", "INI_FILE game.ini\n[ini]\nInstall=REP_INSTALLDIR\n-  // end of [ini]\n", {}},
        {"an [ini] line without \"=\" and no INI_FILE", "[ini]\nInstall\tREP_INSTALLDIR\n-\n",
         {{1, kCheckSectionUnused}, {2, kCheckSkippedLine}}, "has no \"=\" between key and value"},
        {"a [reg] line the updater cannot split", "REG_GLOBAL Maker\n[reg]\nInstallDir=REP_INSTALL\n\"Ok\"=\"1\"\n-\n",
         {{3, kCheckSkippedLine}}, "is not \"name\"=\"data\""},
        {"[reg] lines without REG_GLOBAL", "[reg]\n\"Ok\"=\"1\"\n-\n", {{1, kCheckSectionUnused}},
         "REG_GLOBAL is not set: the updater writes none of them"},
        {"a section left open", "EXENAME a.exe\n[reg]\nHKCU\\Software x\n",
         {{2, kCheckUnterminated}, {2, kCheckSectionUnused}, {3, kCheckSkippedLine}}},
        {"a section open at EOF", "[ini]\na=b\nEOF\n-\n", {{1, kCheckUnterminated}, {1, kCheckSectionUnused}}},
        {"a '-' after a blank does not close", "INI_FILE g.ini\n[ini]\na=b\n -\n-\n",
         {{4, kCheckNotFirstColumn}, {4, kCheckSkippedLine}}},
        {"a header after a blank", "INI_FILE g.ini\n[ini]\n [reg]\n-\n", {{3, kCheckNotFirstColumn}, {3, kCheckSkippedLine}}},
        {"a section again drops its entries", "INI_FILE g.ini\n[ini]\na=b\n-\n[ini]\nc=d\n-\n", {{5, kCheckSectionReopened}}},
        {"an empty section again drops nothing", "INI_FILE g.ini\n[ini]\n-\n[ini]\nc=d\n-\n", {}},
        {"a header after EOF", "EOF\n[reg]\n", {{2, kCheckAfterSectionEof}}},
        {"an entry read as a key hides the real one", "[reg]\nEXENAME entry.exe\n-\nEXENAME real.exe\n",
         {{1, kCheckSectionUnused}, {2, kCheckSkippedLine}, {4, kCheckSectionLineKey}}},
        {"an entry read as a key sets it", "[ini]\nCHKREG x\n-\n",
         {{1, kCheckSectionUnused}, {2, kCheckSectionLineKey}, {2, kCheckSkippedLine}}},
        {"an entry of unknown text is no key", "INI_FILE g.ini\n[ini]\nInstall=x\nInstall y=z\n-\n", {}},
        {"a number with letters", "CHKREGVER 12abc\nCHKREGVERHIGH +17\nINSTMAKEFOL 1|2\nCHKREG Ver\n",
         {{1, kCheckNotDecimal}, {3, kCheckNotDecimal}}},
        {"a number out of range", "CHKREGVERHIGH 99999999999\nCHKREG Ver\n", {{1, kCheckNotDecimal}}},
        {"a line of 510 bytes is one line", "// " + std::string(507, 'x') + "\n", {}},
        {"a line of 511 bytes is two", "// " + std::string(508, 'x') + "\n", {{1, kCheckLongLine}}},
        {"the rest of a long comment sets a key", "//" + std::string(509, 'x') + "TITLEBAR tail\n",
         {{1, kCheckSectionLineKey}, {1, kCheckLongLine}}},
        {"a long value", "INSTREADMEFL " + std::string(600, 'r') + "\n", {{1, kCheckValueCut}, {1, kCheckLongLine}}},
        {"a Ctrl-Z ends the file", "EXENAME a.exe\n\x1AKEYFILE k\n", {{2, kCheckCtrlZ}}},
        {"a final Ctrl-Z is harmless", "EXENAME a.exe\n\x1A", {}},
        {"the 400th line is read, the 401st is not", Filler(399) + "EXENAME in.exe\nKEYFILE out.dat\n// c\n",
         {{401, kCheckPastLineLimit}}},
        {"a 600-byte line counts twice", sixHundred,
         {{1, kCheckLongLine}, {400, kCheckPastLineLimit}, {401, kCheckPastLineLimit}}},
        {"comments and sections past the limit are no keys", "INI_FILE g.ini\n" + Filler(399) + "[ini]\nInstall=x\n-\n KEYFILE y\n", {}},
    };
    for (const auto& c : cases) {
        for (bool crlf : {false, true}) {
            SCOPED_TRACE(std::string(c.description) + (crlf ? " (CR LF)" : " (LF)"));
            std::string text = WithLineEnds(c.text, crlf);
            SettingsCheck check;
            CheckSettingsText(text, nullptr, &check);
            EXPECT_EQ(c.expected, Kinds(check)) << Describe(check);
            if (c.says != nullptr && !check.findings.empty()) {
                const std::string& said = check.findings.back().text;
                EXPECT_EQ(c.says[0] == '\0', said.find(c.says[0] ? c.says : "did you mean") == std::string::npos)
                    << said;
            }
            bool error = std::any_of(c.expected.begin(), c.expected.end(),
                                     [](const std::pair<int, int>& e) { return e.second == kCheckUnterminated; });
            EXPECT_EQ(error ? 1 : 0, check.errors);
            EXPECT_EQ(static_cast<int>(check.findings.size()) - check.errors, check.warnings);
            // The POSIX runtime keeps CR, which moves where long lines are cut.
            if (!crlf) ExpectSameAsUpdater(text, check);
        }
    }
    // The line the limit falls on moves up by one for every extra piece.
    SettingsCheck check;
    CheckSettingsText(sixHundred, nullptr, &check);
    EXPECT_EQ(399, check.linesRead);
    ASSERT_EQ(3u, check.findings.size());
    EXPECT_NE(std::string::npos, check.findings[1].text.find("end at line 399")) << check.findings[1].text;
}

TEST_F(CheckCommandTest, EffectiveValuesAsTheAccessorsGiveThem) {
    const std::string text = WithLineEnds("TITLEBAR\t\tサンプル|ゲーム\n"
                                          "INSTTO ポ|ソ\n"  // ポ is 83 7C: its second byte is not a bar
                                          "EXENAME " + std::string(130, 'e') + "\n"
                                          "INSTREADMEFL " + std::string(126, 'r') + "表\n"  // 表 is 95 5C
                                          "CHKREGVER 12abc\n"
                                          "KEYFILE key.dat\n"
                                          "CHKREG Ver\n"
                                          "CHKREGVERHIGH 20\n"
                                          "[delfiles]\nold.dat\n\tsave\\old.sav\n-\n",
                                          true);
    SettingsCheck check;
    CheckSettingsText(text, nullptr, &check);
    ASSERT_EQ(KnownSettingCount(), static_cast<int>(check.settings.size()));
    ExpectSameAsUpdater(text, check);
    EXPECT_EQ("\x83\x7C\x20\x83\x5C", Setting(check, "INSTTO").value);
    EXPECT_EQ(std::string(127, 'e'), Setting(check, "EXENAME").value);
    EXPECT_EQ(std::string(126, 'r') + "\x95", Setting(check, "INSTREADMEFL").value);
    EXPECT_EQ(std::string(126, 'r') + "表", Setting(check, "INSTREADMEFL").fullValue);
    EXPECT_EQ(12, Setting(check, "CHKREGVER").number);
    EXPECT_EQ((std::vector<std::string>{"old.dat", "\tsave\\old.sav"}), check.sections[kSectionDelfiles]);
    ASSERT_EQ(3u, check.findings.size()) << Describe(check);
    EXPECT_NE(std::string::npos, check.findings[1].text.find("double-byte")) << check.findings[1].text;

    std::string printed = Printed(check);
    const char* lines[] = {
        u8"  TITLEBAR       \"サンプル ゲーム\"  (line 1)\n",
        u8"  INSTTO         \"ポ ソ\"  (line 2)\n",
        "  EXENAME        \"eeeeeeeeee",
        "eeeeeeeeee\"  (line 3, cut from 130 bytes)\n",
        "rrr\\x95\"  (line 4, cut from 128 bytes)\n",
        "  REG_GLOBAL     \"-\"  (default)\n",
        "  INSTFOL        none  (default)\n",
        "  KEYFILE        \"key.dat\"  (line 6)\n",
        "  CHKREGVER      12  (line 5)\n",
        "  CHKREGVERHIGH  20  (line 8)\n",
        "  [delfiles] 2 entries\n    old.dat\n    \tsave\\old.sav\n  [delfiles_user] none\n",
    };
    for (const char* line : lines) EXPECT_NE(std::string::npos, printed.find(line)) << line << "\n" << printed;
    EXPECT_EQ(std::string::npos, printed.find(u8"ＶＯＲＮＥＬ")) << printed;

    CheckSettingsText("", nullptr, &check);
    printed = Printed(check);
    EXPECT_NE(std::string::npos, printed.find(u8"  TITLEBAR       \"ＶＯＲＮＥＬ アプリケーション\"  (default)\n"))
        << printed;
}

TEST_F(CheckCommandTest, EveryTruncationIsAnalysedSafely) {
    std::string text = WithLineEnds("TITLEBAR サンプル|ゲーム extra\n[ini]\nInstall x\n-\n"
                                    "EXENAME\n" + std::string(520, 'y') + "\nCHKREGVER 1a\n[EOF]\nKEYFILE k\n",
                                    true);
    for (size_t size = 0; size <= text.size(); ++size) {
        SettingsCheck check;
        std::string part = text.substr(0, size);
        CheckSettingsText(part, nullptr, &check);
        ASSERT_EQ(KnownSettingCount(), static_cast<int>(check.settings.size())) << size;
        for (const CheckFinding& f : check.findings) EXPECT_TRUE(f.line >= 1 && f.line <= check.physicalLines) << size;
        // The section is open exactly while its "-" is not yet in the text.
        bool open = part.find("[ini]") != std::string::npos && part.find("\n-") == std::string::npos;
        EXPECT_EQ(open ? 1 : 0, check.errors) << size;
    }
}

TEST_F(CheckCommandTest, CommandExitCodesAndReadme) {
    const struct {
        const char* description;
        const char* text;
        const char* present;  // a top-level file made for this case, or null
        int exitCode;
        const char* printed;  // part of the output
    } cases[] = {
        {"nothing to say", "EXENAME a.exe\r\n", nullptr, 0, "0 errors, 0 warnings"},
        {"warnings only", "Titlebar x\r\n", nullptr, 0, ":1: warning: unknown key \"Titlebar\""},
        {"a section left open", "[ini]\r\na b\r\n", nullptr, 1, ":1: error: [ini] is not closed"},
        {"the label is a dash", "INSTREADME -\n", nullptr, 0, "0 warnings"},
        {"the default readme is missing", "EXENAME a.exe\nINSTREADME 読んでね\n", nullptr, 0,
         ":2: warning: INSTREADME is set, but the package carries no \"readme.txt\""},
        {"the default readme in another case", "INSTREADME 読んでね\n", "README.TXT", 0, "0 warnings"},
        {"a named readme is missing", "INSTREADME 読む\nINSTREADMEFL notes.txt\n", nullptr, 0,
         ":2: warning: INSTREADME is set"},
        {"a named readme is there", "INSTREADME 読む\nINSTREADMEFL 表.txt\n", nullptr, 0, "0 warnings"},
        {"a readme only in a folder", "INSTREADME 読む\nINSTREADMEFL docs\\readme.txt\n", nullptr, 0,
         ":2: warning: INSTREADME is set"},
    };
    std::string folder = root_ / "pkg";
    ASSERT_EQ(0, PlatformCreateFolder(folder.c_str()));
    ASSERT_EQ(0, PlatformCreateFolder((folder + "\\docs").c_str()));
    ASSERT_EQ(0, PlatformCreateFolder((folder + "\\notes.txt").c_str()));  // a folder is no readme
    ASSERT_TRUE(WriteFileBytes(folder + "\\docs\\readme.txt", ToBytes("x")));
    ASSERT_TRUE(WriteFileBytes(folder + "\\表.txt", ToBytes("x")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::string made = c.present != nullptr ? folder + "\\" + c.present : "";
        EXPECT_TRUE(made.empty() || WriteFileBytes(made, ToBytes("x")));
        std::string path = Store("install.env", c.text);
        FILE* out = tmpfile();
        EXPECT_EQ(c.exitCode, CheckCommand(path.c_str(), folder.c_str(), out, out));
        std::string printed = ReadAll(out);
        EXPECT_NE(std::string::npos, printed.find(c.printed)) << printed;
        EXPECT_NE(std::string::npos, printed.find("settings as the updater reads them:")) << printed;
        fclose(out);
        // Without the folder there is nothing to check the readme against.
        SettingsCheck check;
        CheckSettingsText(c.text, nullptr, &check);
        EXPECT_TRUE(std::none_of(check.findings.begin(), check.findings.end(),
                                 [](const CheckFinding& f) { return f.kind == kCheckReadmeMissing; }));
        EXPECT_TRUE(made.empty() || PlatformDeleteFile(made.c_str()) == 0);
    }
    FILE* err = tmpfile();
    EXPECT_EQ(1, CheckCommand((root_ / "missing.env").c_str(), nullptr, err, err));
    EXPECT_EQ(1, CheckCommand((root_ / "install.env").c_str(), (root_ / "nofolder").c_str(), err, err));
    std::string said = ReadAll(err);
    EXPECT_NE(std::string::npos, said.find("cannot read")) << said;
    EXPECT_NE(std::string::npos, said.find("cannot read the folder")) << said;
    fclose(err);
}

TEST_F(CheckCommandTest, PackRefusesAnErrorAndPassesWarningsOn) {
    std::string source = root_ / "src";
    std::string output = root_ / "out.exe";
    PackRequest request{};
    ASSERT_NO_FATAL_FAILURE(MakePackSource(source, output, &request));

    ASSERT_TRUE(WriteFileBytes(source + "\\install.env", ToBytes("TITLEBAR game\r\n[ini]\r\nInstall x\r\n")));
    PackReport report;
    EXPECT_EQ(kPackSettingsError, PackUpdater(request, &report)) << DescribePackReport(report);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    EXPECT_EQ(1, PackCommand(request, out, err));
    std::string said = ReadAll(err);
    EXPECT_NE(std::string::npos, said.find("install.env:2: error: [ini] is not closed")) << said;
    EXPECT_NE(std::string::npos, said.find("patchtool: refused: install.env, line 2: [ini] is not closed")) << said;
    EXPECT_EQ("", ReadAll(out));
    fclose(out);
    fclose(err);
    EXPECT_FALSE(Exists(output));
    EXPECT_FALSE(Exists(output + ".partial"));

    // Closed, with a misspelt key and a readme that is not packed: warnings only.
    ASSERT_TRUE(WriteFileBytes(source + "\\install.env",
                               ToBytes("TITLEBAR game\r\n[ini]\r\nInstall=x\r\n-\r\nTITLBAR x\r\nINSTREADME 読む\r\nINI_FILE g.ini\r\n")));
    out = tmpfile();
    err = tmpfile();
    EXPECT_EQ(0, PackCommand(request, out, err));
    said = ReadAll(err);
    EXPECT_NE(std::string::npos, said.find("install.env:5: warning: unknown key \"TITLBAR\"")) << said;
    EXPECT_NE(std::string::npos, said.find("install.env:6: warning: INSTREADME is set")) << said;
    EXPECT_NE(std::string::npos, ReadAll(out).find("packed 3 files"));
    fclose(out);
    fclose(err);
    EXPECT_TRUE(Exists(output));

    // The readme counts when the package carries it, under whatever letter case.
    ASSERT_TRUE(WriteFileBytes(source + "\\ReadMe.TXT", ToBytes("read me")));
    EXPECT_EQ(kPackDone, PackUpdater(request, &report)) << DescribePackReport(report);
    ASSERT_EQ(1u, report.settingsFindings.size());
    EXPECT_EQ(kCheckUnknownKey, report.settingsFindings[0].kind);
}

// Each mistake that makes a patch unable to work, as check and pack say it:
// check exits 1 and pack refuses on an error; a warning passes both.
TEST_F(CheckCommandTest, CheckAndPackSayEveryMistakeWithItsExitCode) {
    const struct {
        const char* fault;  // what the maker would ship without the row
        std::string text;   // install.env
        const char* says;   // part of what check prints
        int exitCode;       // of check and of pack alike
    } cases[] = {
        {"a deletion that climbs out of the install folder",
         "TITLEBAR game\r\n[delfiles_afterinst]\r\nold.dat\r\n..\\..\\windows\\*.ini\r\n-\r\n",
         ":4: error: [delfiles_afterinst] \"..\\..\\windows\\*.ini\" leaves the install folder", 1},
        {"a deletion from the root of the drive", "[delfiles_afterinst]\r\n\\autoexec.bat\r\n-\r\n",
         ":2: error: [delfiles_afterinst] \"\\autoexec.bat\" leaves the install folder (a path from the root", 1},
        {"a deletion on a drive", "[delfiles_afterinst]\r\nC:\\Windows\\win.ini\r\n-\r\n", "(a drive)", 1},
        {"a settings file with a byte-order mark", "\xEF\xBB\xBFTITLEBAR game\r\n", ":1: error: the file begins with a UTF-8 byte-order mark", 1},
        {"a settings file in UTF-8", std::string("EXENAME a.exe\r\n") + u8"TITLEBAR ゲーム\r\n",
         ":2: error: the file is UTF-8", 1},
        {"a version range that lets nobody through", "CHKREG Ver\r\nCHKREGVER 200\r\nCHKREGVERHIGH 100\r\n",
         ":3: error: no installed version passes the version check", 1},
        {"CHKREGVERHIGH left out", "CHKREG Ver\r\nCHKREGVER 2\r\n", "CHKREGVERHIGH, not set, counts as 0", 1},
        {"a version check that is silently off", "CHKREGVER 2\r\nCHKREGVERHIGH 3\r\n",
         ":1: warning: CHKREGVER is set but CHKREG is not", 0},
    };
    std::string source = root_ / "src";
    std::string output = root_ / "out.exe";
    PackRequest request{};
    ASSERT_NO_FATAL_FAILURE(MakePackSource(source, output, &request));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string path = source + "\\install.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(c.text)));
        FILE* out = tmpfile();
        EXPECT_EQ(c.exitCode, CheckCommand(path.c_str(), nullptr, out, out));
        std::string said = ReadAll(out);
        fclose(out);
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        PlatformDeleteFile(output.c_str());
        out = tmpfile();
        EXPECT_EQ(c.exitCode, PackCommand(request, out, out));
        said = ReadAll(out);
        fclose(out);
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        EXPECT_EQ(c.exitCode == 0, Exists(output)) << said;
    }
}

// The updater deletes the [delfiles_afterinst] entries after it has written
// the package: check names the line of an entry that leaves the install
// folder or deletes a file the patch brings, with and without the package.
TEST_F(CheckCommandTest, DeleteEntriesThatLeaveTheFolderOrDeleteWhatThePatchBrings) {
    const std::string text =
        "TITLEBAR game\r\n"
        "[delfiles_afterinst]\r\n"
        "data\\scene00.dat\r\n"
        "..\\save\\*.*\r\n"
        "data\\*.dat\r\n"
        "DATA\\SCENE01.DAT\r\n"
        "-\r\n"
        "[EOF]\r\n";
    const std::vector<std::string> package = {"install.env", "data\\scene01.dat", "data\\scene02.dat"};
    SettingsCheck check;
    CheckSettingsText(text, &package, &check);
    EXPECT_EQ((Found{{4, kCheckDeleteOutside}, {5, kCheckDeletesPatchFile}, {6, kCheckDeletesPatchFile}}), Kinds(check))
        << Describe(check);
    // The updater skips a line that leaves its folder: an error, which pack refuses.
    EXPECT_EQ(1, check.errors);
    EXPECT_EQ((std::vector<int>{3, 4, 5, 6}), check.sectionLines[kSectionDelfilesAfterinst]);
    EXPECT_NE(std::string::npos, Describe(check).find("5: [delfiles_afterinst] \"data\\*.dat\" finds \"data\\scene01.dat\" "
                                                      "and 1 more, which this patch brings"))
        << Describe(check);
    ExpectSameAsUpdater(text, check);

    // Without the package only the reach can be judged.
    CheckSettingsText(text, nullptr, &check);
    EXPECT_EQ((Found{{4, kCheckDeleteOutside}}), Kinds(check)) << Describe(check);

    // check --package-folder looks at every file below the folder.
    std::string folder = root_ / "pkg";
    ASSERT_EQ(0, PlatformCreateFolder(folder.c_str()));
    ASSERT_EQ(0, PlatformCreateFolder((folder + "\\data").c_str()));
    ASSERT_TRUE(WriteFileBytes(folder + "\\data\\scene02.dat", ToBytes("x")));
    std::string path = Store("install.env", text);
    FILE* out = tmpfile();
    EXPECT_EQ(1, CheckCommand(path.c_str(), folder.c_str(), out, out));
    std::string printed = ReadAll(out);
    fclose(out);
    EXPECT_NE(std::string::npos, printed.find(":5: warning: [delfiles_afterinst] \"data\\*.dat\" finds \"data\\scene02.dat\""))
        << printed;
    EXPECT_EQ(std::string::npos, printed.find(":6: warning")) << printed;
}

TEST_F(CheckCommandTest, PackPassesOnADeleteEntryThatFindsAPackedFile) {
    std::string source = root_ / "src";
    ASSERT_EQ(0, PlatformCreateFolder(source.c_str()));
    ASSERT_EQ(0, PlatformCreateFolder((source + "\\save").c_str()));
    ASSERT_TRUE(WriteFileBytes(source + "\\save\\slot.dat", ToBytes("new")));
    ASSERT_TRUE(WriteFileBytes(source + "\\install.env",
                               ToBytes("TITLEBAR game\r\n[delfiles_afterinst]\r\nsave\\*.dat\r\n-\r\n")));
    std::string image = root_ / "updater.exe";
    ASSERT_TRUE(WriteFileBytes(image, MakeUpdaterImage()));
    ASSERT_TRUE(WriteFileBytes(source + "\\insttscr.rct", TinyRctPicture()));
    PackRequest request{image, root_ / "out.exe", source, "", kDefaultPackLevel, kPackLimit, nullptr};
    PackReport report;
    ASSERT_EQ(kPackDone, PackUpdater(request, &report)) << DescribePackReport(report);
    ASSERT_EQ(1u, report.settingsFindings.size());
    EXPECT_EQ(kCheckDeletesPatchFile, report.settingsFindings[0].kind);
    EXPECT_EQ(3, report.settingsFindings[0].line);
}

// The printing on its own: findings made by hand, whatever the analysis would
// say, become exactly the tool's lines.
TEST_F(CheckCommandTest, PrintingTurnsFindingsIntoTheToolsLines) {
    const struct {
        const char* fault;  // what a wrong line would do to the maker
        CheckFinding finding;
        const char* line;
    } cases[] = {
        {"an error printed as a warning: the maker does not see why the updater will not start",
         {3, kCheckError, kCheckUnterminated, "[ini] is not closed"}, "install.env:3: error: [ini] is not closed"},
        {"a warning printed as an error: the maker looks for a refusal that never comes",
         {12, kCheckWarning, kCheckUnknownKey, "unknown key"}, "install.env:12: warning: unknown key"},
        {"the UTF-8 text of a finding altered on its way out",
         {1, kCheckWarning, kCheckExtraWords, u8"only \"ポ\" is read"},
         u8"install.env:1: warning: only \"ポ\" is read"},
    };
    std::vector<CheckFinding> findings;
    std::string expected;
    for (const auto& c : cases) {
        EXPECT_EQ(c.line, FindingLine(c.finding, "install.env")) << c.fault;
        findings.push_back(c.finding);
        expected += std::string(c.line) + "\n";
    }
    FILE* out = tmpfile();
    PrintFindings(findings, "install.env", out);
    EXPECT_EQ(expected, ReadAll(out)) << "one line each, in the order given";
    fclose(out);
}

}  // namespace
