#include "update/InstallFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "services/ScriptedBoxes.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "tests/support/BoxReport.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "update/ScriptedUpdateDialogs.h"

namespace {

constexpr const char* kGlobal = "VornelUpdaterTest";
constexpr const char* kLocal = "InstallFolder";

std::string Normalize(std::string path, bool makeFolder = false, const char* instFol = nullptr,
                      const char* instTo = "Game", int* result = nullptr) {
    char buffer[kInstallPathBuffer] = {};
    CopyText(buffer, sizeof(buffer), path.c_str());
    NormalizeOptions options{makeFolder, instFol, instTo, "C:\\WINDOWS"};
    int r = NormalizeInstallPath(buffer, sizeof(buffer), options);
    if (result != nullptr) *result = r;
    return buffer;
}

TEST(NormalizeInstallPathTest, TypedPathsBecomeFullFolders) {
    struct Case {
        const char* typed;
        bool makeFolder;
        const char* instFol;
        const char* instTo;
        const char* expected;
        int result;
    } cases[] = {
        {"", false, nullptr, "Game", "C:\\", kNormalizeRoot},
        {"", true, nullptr, "Game", "C:\\Game", kNormalizeOk},
        {"D:", false, nullptr, "Game", "D:\\", kNormalizeRoot},
        {"D:\\", false, nullptr, "Game", "D:\\", kNormalizeRoot},
        {"D:Games", false, nullptr, "Game", "D:\\Games", kNormalizeOk},
        {"\\Games", false, nullptr, "Game", "C:\\Games", kNormalizeOk},
        {"D:/Games/Title/", false, nullptr, "Game", "D:\\Games\\Title", kNormalizeOk},
        {"\\\\server\\share", false, nullptr, "Game", "", kNormalizeNetwork},
        {"D:\\Games\\\\Title", false, nullptr, "Game", "", kNormalizeNetwork},
        {"D:\\Games", true, "Maker", "Title", "D:\\Games\\Maker\\Title", kNormalizeOk},
        {"D:\\Games\\Title", true, "Maker", "Title", "D:\\Games\\Title", kNormalizeOk},
        {"D:\\Title2", true, "Maker", "Title", "D:\\Title2", kNormalizeOk},
        // 表 ends in 5C: the backslash after it is a real one and two in a row are no share.
        {"D:\\表\\Title", false, nullptr, "Game", "D:\\表\\Title", kNormalizeOk},
        {"D:\\表\\\\Title", false, nullptr, "Game", "D:\\表\\\\Title", kNormalizeOk},
        {"D:\\ソフト/", false, nullptr, "Game", "D:\\ソフト", kNormalizeOk},
    };
    for (const Case& c : cases) {
        int result = -1;
        std::string out = Normalize(c.typed, c.makeFolder, c.instFol, c.instTo, &result);
        EXPECT_EQ(c.result, result) << c.typed;
        if (c.result != kNormalizeNetwork) {
            EXPECT_EQ(c.expected, out) << c.typed;
        }
    }
}

TEST(NormalizeInstallPathTest, LongPathsAreRefusedNotOverrun) {
    std::string typed = "D:\\" + std::string(250, 'a');
    int result = kNormalizeOk;
    std::string out = Normalize(typed, true, "Maker", "Title", &result);
    EXPECT_EQ(kNormalizeTooLong, result);
    EXPECT_LT(out.size(), kInstallPathBuffer);
    Normalize(std::string(258, 'b'), false, nullptr, "Game", &result);  // the drive would not fit
    EXPECT_EQ(kNormalizeTooLong, result);
}

class InstallFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsForTesting();
        ResetScriptedBoxes();
        ResetScriptedSetupDialog();
        SetDirectOpenAllowed(1);
        UseFreshRegistry(files_.Path());
        DeleteGlobalKey(kGlobal);
#ifndef _WIN32
        setenv("UPDATER_WINDOWS_FOLDER", "C:\\WINDOWS", 1);  // as Wine's own
#endif
    }
    void TearDown() override {
        DeleteGlobalKey(kGlobal);
        ResetSettingsForTesting();
    }
    void Settings(const std::string& extra) {
        std::string text = std::string("REG_GLOBAL ") + kGlobal + "\nREG_LOCAL " + kLocal + "\n" + extra;
        std::string path = files_ / "install.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(text)));
        ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
    }
    void Put(const char* name, const char* value) { RegWriteString(kGlobal, kLocal, name, value); }
    std::vector<std::string> Texts() {
        std::vector<std::string> t;
        for (const ShownBox& b : ShownBoxes()) t.push_back(b.text);
        return t;
    }
    TempFolder files_;
    TempFolder game_;
};

TEST_F(InstallFolderTest, VersionGateBoundaries) {
    Settings("CHKREG Ver\nCHKREGVER 10\nCHKREGVERHIGH 20\n");
    struct Case { const char* stored; bool pass; const char* box; } cases[] = {
        {"10", true, nullptr}, {"20", true, nullptr},
        {"9", false, "アップデート元のバージョンが不適合です"}, {"21", false, "既にアップデート適応済みです"},
    };
    for (const Case& c : cases) {
        ResetScriptedBoxes();
        Put("Ver", c.stored);
        EXPECT_EQ(c.pass, VersionGate()) << c.stored;
        EXPECT_EQ(c.box == nullptr ? std::vector<std::string>{} : std::vector<std::string>{c.box}, Texts());
    }
}

TEST_F(InstallFolderTest, VersionGateWithDefaultBounds) {
    Settings("CHKREG Ver\n");
    EXPECT_TRUE(VersionGate());  // no stored version reads as 0
    Put("Ver", "1");
    EXPECT_FALSE(VersionGate());
    EXPECT_EQ((std::vector<std::string>{"既にアップデート適応済みです"}), Texts());
}

TEST_F(InstallFolderTest, FoundThroughTheGameKeyAndConfirmed) {
    Settings("KEYFILE game.exe\n");
    Put("IsInst", "1");
    Put("InstTo", (game_.Path() + "\\").c_str());  // used exactly as stored
    ASSERT_TRUE(WriteFileBytes(game_ / "game.exe", ToBytes("x")));
    char folder[kInstallPathBuffer] = "unchanged";
    QueueBoxAnswer(kAnswerYes);
    EXPECT_EQ(0, FindInstalledCopy(folder));
    EXPECT_EQ(game_.Path() + "\\", std::string(folder));
    EXPECT_EQ((std::vector<std::string>{"[" + game_.Path() + "\\]をアップデートします"}), Texts());

    ResetScriptedBoxes();
    CopyText(folder, sizeof(folder), "unchanged");
    QueueBoxAnswer(kAnswerNo);
    EXPECT_EQ(-2, FindInstalledCopy(folder));
    EXPECT_STREQ("unchanged", folder);
}

TEST_F(InstallFolderTest, NotFoundThroughTheGameKey) {
    Settings("KEYFILE game.exe\nCHKREG Ver\nCHKREGVERHIGH 5\n");
    char folder[kInstallPathBuffer] = "";
    // Not installed, or installed as a number value (which reads as absent).
    EXPECT_EQ(-1, FindInstalledCopy(folder));
    StoreRawValue(kGlobal, kLocal, "IsInst", 4, {1, 0, 0, 0});
    EXPECT_EQ(-1, FindInstalledCopy(folder));
    Put("IsInst", "1");
    EXPECT_EQ(-1, FindInstalledCopy(folder));  // no InstTo
    Put("InstTo", game_.Path().c_str());
    EXPECT_EQ(-1, FindInstalledCopy(folder));  // no key file there
    Put("Ver", "6");
    EXPECT_EQ(-2, FindInstalledCopy(folder));  // the version gate comes first
    std::string unknown = "インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください";
    EXPECT_EQ((std::vector<std::string>{"本体がインストールされていません", "本体がインストールされていません",
                                        unknown, unknown, "既にアップデート適応済みです"}),
              Texts());
}

TEST_F(InstallFolderTest, ChosenByHandWithTheGamesFolderAppended) {
    Settings("INSTMAKEFOL 1\nINSTFOL Maker\nINSTTO Title\n");
    QueueSetupAnswer("D:/Games/");
    QueueBoxAnswer(kAnswerYes);
    char folder[kInstallPathBuffer] = "";
    EXPECT_EQ(0, ChooseInstallFolder(folder));
    EXPECT_STREQ("D:\\Games\\Maker\\Title", folder);
    EXPECT_EQ((std::vector<std::string>{"C:\\Program Files\\Maker\\Title"}), SetupProposals());
    EXPECT_EQ((std::vector<std::string>{"[D:\\Games\\Maker\\Title]をアップデートします"}), Texts());
}

TEST_F(InstallFolderTest, ProposalFollowsTheGameKey) {
    Settings("");
    Put("IsInst", "1");
    char folder[kInstallPathBuffer] = "";
    EXPECT_EQ(-1, ChooseInstallFolder(folder));  // the script cancels
    Put("InstTo", "E:\\Installed");
    EXPECT_EQ(-1, ChooseInstallFolder(folder));
    EXPECT_EQ((std::vector<std::string>{"C:\\Program Files\\VORNEL_APP", "E:\\Installed"}), SetupProposals());
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(InstallFolderTest, ChosenFoldersThatAreRefused) {
    Settings("KEYFILE game.exe\nTITLEBAR サンプル\n");
    char folder[kInstallPathBuffer] = "";
    QueueSetupAnswer("\\\\server\\games");
    EXPECT_EQ(-1, ChooseInstallFolder(folder));
    QueueSetupAnswer(game_.Path());
    EXPECT_EQ(-1, ChooseInstallFolder(folder));  // no key file
    QueueSetupAnswer("D:");
    QueueBoxAnswer(kAnswerRetry);
    EXPECT_EQ(-1, ChooseInstallFolder(folder));
    EXPECT_EQ((std::vector<std::string>{
                  "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。",
                  "指定されたフォルダには [ サンプル ] 本体は発見できませんでした", "ルートには適応できません"}),
              Texts());
    EXPECT_EQ(0x15u, ShownBoxes().back().flags);
}

TEST_F(InstallFolderTest, CurrentFolderIsKeptOnEveryPath) {
    Settings("");
    CurrentFolderGuard guard;
    ASSERT_EQ(0, PlatformSetCurrentFolder(game_.Path().c_str()));
    char before[kRememberedFolderBuffer];
    ASSERT_EQ(0, PlatformGetCurrentFolder(before, sizeof(before)));
    char folder[kInstallPathBuffer] = "";
    FindInstalledCopy(folder);
    QueueSetupAnswer("\\\\net\\x");
    ChooseInstallFolder(folder);
    QueueSetupAnswer("D:\\Games");
    QueueBoxAnswer(kAnswerYes);
    EXPECT_EQ(0, ChooseInstallFolder(folder));
    char after[kRememberedFolderBuffer];
    ASSERT_EQ(0, PlatformGetCurrentFolder(after, sizeof(after)));
    EXPECT_STREQ(before, after);
}

TEST(InstallFolderDeathTest, CancelInTheRootBoxEndsTheProgram) {
    EXPECT_EXIT(
        {
            ReportBoxesAtExit();
            QueueSetupAnswer("D:\\");
            QueueBoxAnswer(kAnswerCancel);
            char folder[kInstallPathBuffer];
            ChooseInstallFolder(folder);
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "box 21: ");
}

}  // namespace
