// The data file opener and the settings passes on real Windows files, with
// the retry box answered by the robot.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/DataFileOpener.h"
#include "services/Platform.h"
#include "settings/SettingsFile.h"
#include "services/WorkingFolder.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

bool Opens(const char* name) {
    FILE* f = OpenDataFile(name, "rb");
    if (f != nullptr) fclose(f);
    return f != nullptr;
}

TEST(DataFileOpenerWin32Test, OpensRealFilesInAJapaneseFolder) {
    TempFolder dir;
    std::string folder = dir / "ゲーム表";
    ASSERT_EQ(0, PlatformCreateFolder(folder.c_str()));
    ASSERT_EQ(0, PlatformCreateFolder((folder + "\\音").c_str()));
    ASSERT_TRUE(WriteFileBytes(folder + "\\install.env", ToBytes("TITLEBAR\tソフト|表\r\nEXENAME game.exe\r\n")));
    ASSERT_TRUE(WriteFileBytes(folder + "\\音\\bgm.ogg", ToBytes("o")));
    ASSERT_TRUE(WriteFileBytes(folder + "\\se.wav", ToBytes("w")));
    CurrentFolderGuard cwd;
    ASSERT_EQ(0, PlatformSetCurrentFolder(folder.c_str()));
    SetDirectOpenAllowed(1);

    EXPECT_TRUE(Opens("install.env"));
    EXPECT_TRUE(Opens("INSTALL.ENV"));  // the file system finds another case
    EXPECT_TRUE(Opens((folder + "\\install.env").c_str()));
    EXPECT_TRUE(Opens("se.wav"));
    EXPECT_FALSE(Opens("音\\bgm.ogg"));
    EXPECT_TRUE(Opens("音/bgm.ogg"));
    EXPECT_TRUE(DataFileExists((folder + "\\install.env").c_str()));
    EXPECT_FALSE(DataFileExists("key.dat"));

    ResetSettingsForTesting();
    ASSERT_EQ(0, LoadSettingsTable("install.env"));
    EXPECT_STREQ("ソフト 表", TitleBarSetting());
    EXPECT_STREQ("game.exe", ExeNameSetting());
    ResetSettingsForTesting();
}

TEST(DataFileOpenerWin32DeathTest, RetryThenCancelEndsWithMinusOneAndKeepsTheWorkingFolder) {
    std::string temp = FixedTestFolder("updtest_opener_cancel");
    CurrentFolderGuard cwd;
    TempPathOverride tempPath(temp);
    EXPECT_EXIT(
        {
            CreateWorkingFolder();
            SetDirectOpenAllowed(1);
            static BoxAnswerer s_answerer{};
            StartBoxSequence(&s_answerer, GetCurrentProcessId(), {IDRETRY, IDCANCEL});
            OpenDataFileRetry("insttscr.rct", "rb");
        },
        ::testing::ExitedWithCode(-1), "");
    std::vector<std::string> left = ListFolder(temp);
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ(0u, left[0].find("TempGPInstallFolder_"));
    EXPECT_EQ(Wide("Ffopen : ファイル[insttscr.rct]の読み込みで失敗しました"), ClipboardUnicode());
    RemoveTree(temp);
}

}  // namespace
