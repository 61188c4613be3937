#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <string>

#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/ScriptedBoxes.h"
#include "tests/support/BoxReport.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsForTesting();
        ResetScriptedBoxes();
        SetDirectOpenAllowed(1);
    }
    void TearDown() override { ResetSettingsForTesting(); }
    void Load(const std::string& text) {
        std::string path = dir_ / "install.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(text)));
        ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
    }
    std::string Value(const char* key, size_t size = kSettingBuffer, const char* def = "(default)") {
        char buffer[kLongSettingBuffer];
        return SettingString(key, buffer, size, def);
    }
    TempFolder dir_;
};

TEST_F(SettingsFileTest, TokensSeparatorsAndBars) {
    std::string tabs99(99, '\t'), tabs100(100, '\t');
    Load("// comment\r\n"
         "TITLEBAR\t\tサンプル|ゲーム  trailing words\r\n"
         "INSTTO ポ|ソ\n"           // ポ is 83 7C: its second byte is not a bar
         "EXENAME\r\n"              // no value: ignored
         "KEYFILE" + tabs99 + "key.dat\r\n"
         "CHKREG" + tabs100 + "Version\r\n"
         " REG_LOCAL indented\r\n"  // a leading blank skips the line
         "/REG_LOCAL slash\r\n"
         ";INI_FILE semicolon\r\n"  // not a comment for this pass
         "INSTFOL |\r\n");
    EXPECT_EQ("サンプル ゲーム", Value("TITLEBAR"));
    EXPECT_EQ("ポ ソ", Value("INSTTO"));
    EXPECT_EQ("(default)", Value("EXENAME"));
    EXPECT_EQ("key.dat", Value("KEYFILE"));
    EXPECT_EQ("(default)", Value("CHKREG"));
    EXPECT_EQ(nullptr, FindSetting("REG_LOCAL"));
    EXPECT_EQ(nullptr, FindSetting("/REG_LOCAL"));
    EXPECT_EQ("semicolon", Value(";INI_FILE"));
    EXPECT_EQ(" ", Value("INSTFOL"));
}

TEST_F(SettingsFileTest, FirstDefinitionWinsAndKeysAreCaseSensitive) {
    Load("EXENAME first.exe\nexename lower.exe\nEXENAME second.exe\n");
    EXPECT_EQ("first.exe", Value("EXENAME"));
    EXPECT_EQ("lower.exe", Value("exename"));
}

TEST_F(SettingsFileTest, LineAndFileLimits) {
    // [EOF] in the first column ends the pass; after a blank it is skipped.
    Load("REG_GLOBAL a\n [EOF]\nREG_LOCAL b\n[EOF] trailing\nINI_FILE c\n");
    EXPECT_EQ("a", Value("REG_GLOBAL"));
    EXPECT_EQ("b", Value("REG_LOCAL"));
    EXPECT_EQ(nullptr, FindSetting("INI_FILE"));

    // 399 filler lines: the 400th line is read, the 401st is not.
    ResetSettingsForTesting();
    std::string text;
    for (int i = 0; i < 399; ++i) text += i % 2 ? "\r\n" : "// filler\r\n";
    Load(text + "EXENAME in.exe\r\nKEYFILE out.dat\r\n");
    EXPECT_EQ("in.exe", Value("EXENAME"));
    EXPECT_EQ(nullptr, FindSetting("KEYFILE"));

    // A 600-byte line arrives as a 511-byte piece and the rest, each a line.
    ResetSettingsForTesting();
    std::string longValue(600 - 7, 'v');
    Load("INSTTO " + longValue + "\nEXENAME x.exe\n");
    EXPECT_EQ(std::string(511 - 7, 'v'), Value("INSTTO", kLongSettingBuffer));
    EXPECT_EQ(nullptr, FindSetting(std::string(89, 'v').c_str()));  // the second piece is one token
    EXPECT_EQ("x.exe", Value("EXENAME"));
}

TEST_F(SettingsFileTest, StringAndIntegerConversions) {
    std::string value130(130, 'a');
    Load("INSTREADMEFL " + value130 + "\nCHKREGVER 12abc\nCHKREGVERHIGH -3\nINSTMAKEFOL x\n"
         "TITLEBAR " + std::string(126, 'b') + "表\n"
         "BIG 99999999999\n");
    EXPECT_EQ(std::string(127, 'a'), Value("INSTREADMEFL"));
    EXPECT_EQ(value130, Value("INSTREADMEFL", kLongSettingBuffer));
    EXPECT_EQ(12, SettingInt("CHKREGVER", 5));
    EXPECT_EQ(-3, SettingInt("CHKREGVERHIGH", 5));
    EXPECT_EQ(0, SettingInt("INSTMAKEFOL", 5));
    EXPECT_EQ(5, SettingInt("MISSING", 5));
    EXPECT_EQ(2147483647, SettingInt("BIG", 0));
    // A value cut at 127 bytes keeps the lead byte of 表 and drops its second byte.
    std::string title = Value("TITLEBAR");
    ASSERT_EQ(127u, title.size());
    EXPECT_EQ('\x95', title.back());
}

TEST_F(SettingsFileTest, AccessorsDefaultsAndCaching) {
    Load("REG_GLOBAL VORNEL\nCHKREGVER -1\nCHKREGVERHIGH 7\n");
    EXPECT_STREQ("VORNEL", RegGlobalSetting());
    EXPECT_STREQ("-", RegLocalSetting());
    EXPECT_STREQ("-", IniFileSetting());
    EXPECT_STREQ("-", IniSectionSetting());
    EXPECT_STREQ("ＶＯＲＮＥＬ アプリケーション", TitleBarSetting());
    EXPECT_STREQ("ＶＯＲＮＥＬ アプリケーション アップデータ", UpdaterTitle());
    EXPECT_STREQ("VORNEL_APP", InstToSetting());
    EXPECT_STREQ("vornel.exe", ExeNameSetting());
    EXPECT_EQ(nullptr, InstFolSetting());
    EXPECT_EQ(nullptr, KeyFileSetting());
    EXPECT_EQ(nullptr, ChkRegSetting());
    EXPECT_EQ(0, InstMakeFolSetting());
    EXPECT_EQ(-1, ChkRegVerSetting());
    EXPECT_EQ(7, ChkRegVerHighSetting());

    // First-use accessors keep what they read; every-call ones follow the table.
    ReleaseSettingsTable();
    Load("REG_GLOBAL OTHER\nTITLEBAR 新しい\nCHKREGVER 3\nCHKREGVERHIGH 9\nKEYFILE k.dat\n");
    EXPECT_STREQ("VORNEL", RegGlobalSetting());
    EXPECT_EQ(7, ChkRegVerHighSetting());
    EXPECT_EQ(3, ChkRegVerSetting());  // -1 means "not read yet", so it is read again
    EXPECT_STREQ("新しい アップデータ", UpdaterTitle());
    EXPECT_STREQ("k.dat", KeyFileSetting());
}

}  // namespace

namespace {

TEST(SettingsFileDeathTest, AnExhaustedHeapEndsTheProgramAfterItsBox) {
    TempFolder dir;
    std::string path = dir / "install.env";
    ASSERT_TRUE(WriteFileBytes(path, ToBytes("TITLEBAR a\nEXENAME b\n")));
    SetDirectOpenAllowed(1);
    for (int allocations : {0, 1, 2, 4}) {
        EXPECT_EXIT(
            {
                ReportBoxesAtExit();
                FailAllocationsAfter(allocations);
                LoadSettingsTable(path.c_str());
            },
            ::testing::ExitedWithCode(kExitCodeMinusOne), "box 16: メモリ容量が不足しています")
            << allocations;
    }
}

}  // namespace
