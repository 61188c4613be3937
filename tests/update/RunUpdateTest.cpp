// The whole update with scripted answers. Natively only: it extracts the
// package of a program file named through UPDATER_PROGRAM_FILE, which a
// Windows program cannot; under Windows the updater itself runs this flow.
#ifndef _WIN32
#include "update/RunUpdate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "services/ScriptedBoxes.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "update/ScriptedElevation.h"
#include "update/ScriptedUpdateDialogs.h"

namespace {

constexpr const char* kGlobal = "VornelUpdaterTest";
constexpr const char* kLocal = "RunUpdate";

class RunUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsForTesting();
        for (int i = 0; i < kSectionCount; ++i) ClearStringList(const_cast<StringList*>(SectionList(i)));
        ResetScriptedBoxes();
        ResetScriptedUpdateDialogs();
        ResetScriptedElevation();
        SetDirectOpenAllowed(1);
        UseFreshRegistry(files_.Path());
        ASSERT_EQ(0, PlatformSetCurrentFolder(files_.Path().c_str()));
        ASSERT_TRUE(WriteFileBytes(game_ / "game.exe", ToBytes("old")));
        ASSERT_EQ(0, PlatformCreateFolder((game_ / "data").c_str()));
        ASSERT_TRUE(WriteFileBytes(game_ / "data\\old.dat", ToBytes("stale")));
        Bytes entries;
        AppendFile(&entries, "game.exe", ToBytes("new"));
        AppendFile(&entries, "追加.dat", ToBytes("added"));
        std::string program = files_ / "update.exe";
        ASSERT_TRUE(WriteFileBytes(program, MakeProgramFile(ToBytes("MZ"), entries)));
        setenv("UPDATER_PROGRAM_FILE", program.c_str(), 1);
    }
    void TearDown() override {
        PlatformSetAttributes(game_.Path().c_str(), 0);
        unsetenv("UPDATER_PROGRAM_FILE");
        ResetSettingsForTesting();
    }
    void Settings(const std::string& extra) {
        std::string text = std::string("REG_GLOBAL ") + kGlobal + "\nREG_LOCAL " + kLocal +
                           "\nEXENAME game.exe\nINI_FILE " + (files_ / "game.ini") + "\nINI_SECTION 設定\n" + extra;
        std::string path = files_ / "install.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(text)));
        ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
        LoadSectionLists(path.c_str());
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> t;
        for (const ShownBox& b : ShownBoxes()) t.push_back(b.text);
        return t;
    }
    TempFolder files_;
    TempFolder game_;
    CurrentFolderGuard cwd_;
};

TEST_F(RunUpdateTest, FoundConfirmedAppliedAndLaunched) {
    Settings("INSTREADME 読む\n"
             "[ini]\nPath=REP_INSTALL\\save\nnot an entry\n-\n"
             "[reg]\n\"InstallDir\"=\"REP_INSTALL\"\n\"Old\"=\"C:\\\\Old\\\\表\"\n-\n"
             "[delfiles_afterinst]\ndata\\old.dat\n-\n");
    RegWriteString(kGlobal, kLocal, "IsInst", "1");
    RegWriteString(kGlobal, kLocal, "InstTo", game_.Path().c_str());
    QueueBoxAnswer(kAnswerYes);
    QueueFinishAnswer(true, true);
    ASSERT_EQ(0, RunUpdate());

    Bytes game;
    ASSERT_TRUE(ReadFileBytes(game_ / "game.exe", &game));
    EXPECT_EQ(ToBytes("new"), game);
    EXPECT_TRUE(Exists(game_ / "追加.dat"));
    EXPECT_FALSE(Exists(game_ / "data"));  // emptied by the deletes, then removed
    Bytes ini;
    ASSERT_TRUE(ReadFileBytes(files_ / "game.ini", &ini));
    EXPECT_EQ("[設定]\r\nPath=" + game_.Path() + "\\save\r\n", std::string(ini.begin(), ini.end()));
    char value[260];
    ASSERT_EQ(0, RegReadString(kGlobal, kLocal, "InstallDir", "", value, sizeof(value)));
    EXPECT_EQ(game_.Path(), std::string(value));
    ASSERT_EQ(0, RegReadString(kGlobal, kLocal, "Old", "", value, sizeof(value)));
    EXPECT_STREQ("C:\\Old\\表", value);
    EXPECT_EQ((std::vector<std::string>{"game.exe"}), StartedPrograms());
    EXPECT_EQ((std::vector<std::string>{"readme.txt"}), OpenedDocuments());
    EXPECT_EQ((std::vector<std::string>{"読む"}), FinishLabels());
    char current[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(current, sizeof(current)));
    EXPECT_TRUE(std::string(current).find(game_.Path().substr(game_.Path().rfind('\\') + 1)) != std::string::npos);
}

TEST_F(RunUpdateTest, AbandonedUpdatesChangeNothing) {
    Settings("CHKREG Ver\nCHKREGVERHIGH 3\n[reg]\n\"A\"=\"b\"\n-\n");
    // Not installed, and the manual choice declined.
    QueueBoxAnswer(kAnswerOk);
    QueueBoxAnswer(kAnswerNo);
    EXPECT_EQ(-1, RunUpdate());
    // Refused by the version gate: no manual choice is offered.
    RegWriteString(kGlobal, kLocal, "Ver", "4");
    EXPECT_EQ(-1, RunUpdate());
    EXPECT_EQ((std::vector<std::string>{
                  "本体がインストールされていません",
                  "[ ＶＯＲＮＥＬ アプリケーション ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？",
                  "アップデートを中止しました", "既にアップデート適応済みです", "アップデートを中止しました"}),
              Texts());
    Bytes game;
    ASSERT_TRUE(ReadFileBytes(game_ / "game.exe", &game));
    EXPECT_EQ(ToBytes("old"), game);
    char value[260];
    EXPECT_EQ(-1, RegReadString(kGlobal, kLocal, "A", "", value, sizeof(value)));
    EXPECT_TRUE(StartedPrograms().empty());
}

TEST_F(RunUpdateTest, ChosenByHandWithoutReadmeOrRegistryWrites) {
    Settings("[reg]\n\"A\"=\"b\"\n-\n");
    ResetSettingsForTesting();  // REG_GLOBAL falls back to "-": no [reg] writes
    std::string path = files_ / "install2.env";
    ASSERT_TRUE(WriteFileBytes(path, ToBytes("EXENAME game.exe\n")));
    ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
    // A native folder has no drive: a Windows folder without one puts none in front.
    setenv("UPDATER_WINDOWS_FOLDER", "/windows", 1);
    QueueBoxAnswer(kAnswerOk);   // not installed
    QueueBoxAnswer(kAnswerYes);  // choose by hand
    QueueSetupAnswer(game_.Path());
    QueueBoxAnswer(kAnswerYes);  // confirm
    QueueFinishAnswer(true, true);
    ASSERT_EQ(0, RunUpdate());
    EXPECT_EQ((std::vector<std::string>{"(short)"}), FinishLabels());
    EXPECT_EQ((std::vector<std::string>{"game.exe"}), StartedPrograms());
    EXPECT_TRUE(OpenedDocuments().empty());
    EXPECT_FALSE(GameKeyExists("-", "-"));
    unsetenv("UPDATER_WINDOWS_FOLDER");
}

// An INI file that cannot be written is named in a box; it stays as it was,
// and the registry values, the deletes and the finish dialog still follow.
TEST_F(RunUpdateTest, AnIniFileThatCannotBeWrittenIsToldAndTheUpdateGoesOn) {
    Settings("[ini]\nPath=REP_INSTALL\nVolume=5\n-\n"
             "[reg]\n\"InstallDir\"=\"REP_INSTALL\"\n-\n"
             "[delfiles_afterinst]\ndata\\old.dat\n-\n");
    RegWriteString(kGlobal, kLocal, "IsInst", "1");
    RegWriteString(kGlobal, kLocal, "InstTo", game_.Path().c_str());
    std::string ini = files_ / "game.ini";
    const std::string text = "[設定]\r\nPath=old\r\n";
    struct Case {
        const char* what;
        uint32_t attributes;  // of the INI file
        std::string message;
    } cases[] = {
        {"read-only", kAttrReadOnly, "INIファイル[" + ini + "]は読み取り専用のため、設定を書き込めませんでした。"},
        {"a folder in its place", kAttrFolder,
         "INIファイル[" + ini + "]を読み込めなかったため、設定を書き込みませんでした。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetScriptedBoxes();
        if (c.attributes == kAttrFolder) {
            ASSERT_EQ(0, PlatformCreateFolder(ini.c_str()));
        } else {
            ASSERT_TRUE(WriteFileBytes(ini, ToBytes(text)));
            ASSERT_EQ(0, PlatformSetAttributes(ini.c_str(), c.attributes));
        }
        RegWriteString(kGlobal, kLocal, "InstallDir", "");
        QueueBoxAnswer(kAnswerYes);  // confirm
        QueueBoxAnswer(kAnswerOk);   // the INI file's box
        QueueFinishAnswer(false, false);
        ASSERT_EQ(0, RunUpdate());
        EXPECT_EQ(c.message, Texts().back());
        char value[260];
        ASSERT_EQ(0, RegReadString(kGlobal, kLocal, "InstallDir", "", value, sizeof(value)));
        EXPECT_EQ(game_.Path(), std::string(value));
        EXPECT_FALSE(Exists(game_ / "data"));
        if (c.attributes == kAttrFolder) {
            EXPECT_TRUE(IsFolder(ini));
            ASSERT_EQ(0, PlatformRemoveFolder(ini.c_str()));
        } else {
            Bytes kept;
            ASSERT_TRUE(ReadFileBytes(ini, &kept));
            EXPECT_EQ(text, std::string(kept.begin(), kept.end()));
            ASSERT_EQ(0, PlatformSetAttributes(ini.c_str(), 0));
            ASSERT_EQ(0, PlatformDeleteFile(ini.c_str()));
        }
        ASSERT_EQ(0, PlatformCreateFolder((game_ / "data").c_str()));
        ASSERT_TRUE(WriteFileBytes(game_ / "data\\old.dat", ToBytes("stale")));
    }
    // Writable again: both entries go in.
    ResetScriptedBoxes();
    QueueBoxAnswer(kAnswerYes);
    QueueFinishAnswer(false, false);
    ASSERT_EQ(0, RunUpdate());
    Bytes written;
    ASSERT_TRUE(ReadFileBytes(ini, &written));
    EXPECT_EQ("[設定]\r\nPath=" + game_.Path() + "\r\nVolume=5\r\n", std::string(written.begin(), written.end()));
    EXPECT_EQ(1u, Texts().size());
}

// Prints, as the child of a death test ends, how many boxes it showed and
// the last one's flags, and whether that was the damaged-package box.
void ReportLastBoxAtExit() {
    atexit([] {
        const std::vector<ShownBox>& boxes = ShownBoxes();
        bool damaged = !boxes.empty() && boxes.back().text == kDamagedPackageMessage;
        fprintf(stderr, "boxes %zu, last %u %s\n", boxes.size(), boxes.empty() ? 0u : boxes.back().flags,
                damaged ? "damaged" : "other");
    });
}

// The program file with a stream that zlib refuses after a good entry.
Bytes DamagedProgramFile() {
    Bytes entries;
    AppendFile(&entries, "game.exe", ToBytes("new"));
    AppendRawFile(&entries, ToBytes("broken.dat"), 4, 4, kTestFileTime, ToBytes("junk"));
    return MakeProgramFile(ToBytes("MZ"), entries);
}

// How an extraction ends is the caller's to tell: the walk itself tells only
// a write failure, with Retry, and never ends the program.
TEST_F(RunUpdateTest, ExtractionEndsInAResultTheCallerTells) {
    struct Case {
        const char* fault;  // guarded
        bool damaged;       // the program file
        bool lockGame;      // game.exe read-only in the game folder
        ExtractMode mode;
        ExtractResult expected;
        unsigned boxFlags;  // of the one box asked, 0 for none
    } cases[] = {
        {"a good package reported as failed", false, false, kFullMode, kExtractDone, 0},
        {"a damaged package told inside the walk", true, false, kFullMode, kExtractDamaged, 0},
        {"a damaged Boot walk told inside the walk", true, false, kBootMode, kExtractDamaged, 0},
        {"Cancel after a refused write ending the program, or taken as damage", false, true, kFullMode,
         kExtractCancelled, 0x15},
    };
    std::string program = files_ / "update.exe";
    for (const Case& c : cases) {
        ResetScriptedBoxes();
        if (c.damaged) {
            ASSERT_TRUE(WriteFileBytes(program, DamagedProgramFile())) << c.fault;
        }
        if (c.lockGame) {
            ASSERT_EQ(0, PlatformSetAttributes((game_ / "game.exe").c_str(), kAttrReadOnly));
        }
        TempFolder destination;
        std::string into = c.mode == kFullMode ? game_.Path() : destination.Path();
        EXPECT_EQ(c.expected, ExtractPackage(into.c_str(), c.mode)) << c.fault;
        ASSERT_EQ(c.boxFlags == 0 ? 0u : 1u, ShownBoxes().size()) << c.fault;
        if (c.boxFlags != 0) {
            EXPECT_EQ(c.boxFlags, ShownBoxes()[0].flags) << c.fault;
        }
        PlatformSetAttributes((game_ / "game.exe").c_str(), 0);
    }
}

TEST_F(RunUpdateTest, ADamagedPackageIsToldAndEndsTheProgramWithTheFolderAsItWas) {
    Settings("");
    RegWriteString(kGlobal, kLocal, "IsInst", "1");
    RegWriteString(kGlobal, kLocal, "InstTo", game_.Path().c_str());
    ASSERT_TRUE(WriteFileBytes(files_ / "update.exe", DamagedProgramFile()));
    EXPECT_EXIT(
        {
            ReportLastBoxAtExit();
            QueueBoxAnswer(kAnswerYes);  // confirm
            RunUpdate();
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "boxes 2, last 16 damaged");
    Bytes game;
    ASSERT_TRUE(ReadFileBytes(game_ / "game.exe", &game));
    EXPECT_EQ(ToBytes("old"), game);
}

TEST_F(RunUpdateTest, CancelAfterARefusedWriteEndsTheProgramWithoutTheDamagedBox) {
    Settings("");
    RegWriteString(kGlobal, kLocal, "IsInst", "1");
    RegWriteString(kGlobal, kLocal, "InstTo", game_.Path().c_str());
    ASSERT_EQ(0, PlatformSetAttributes((game_ / "game.exe").c_str(), kAttrReadOnly));
    // The last box is the Retry/Cancel question: nothing follows it.
    EXPECT_EXIT(
        {
            ReportLastBoxAtExit();
            QueueBoxAnswer(kAnswerYes);  // confirm
            QueueBoxAnswer(kAnswerCancel);
            RunUpdate();
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "boxes 2, last 21 other");
    PlatformSetAttributes((game_ / "game.exe").c_str(), 0);
}

// A game folder this account may not write, with the game registered there.
class RefusedFolderTest : public RunUpdateTest {
protected:
    void SetUp() override {
        RunUpdateTest::SetUp();
        Settings("[ini]\nPath=REP_INSTALL\n-\n"
                 "[reg]\n\"InstallDir\"=\"REP_INSTALL\"\n-\n"
                 "[delfiles_afterinst]\ndata\\old.dat\n-\n");
        RegWriteString(kGlobal, kLocal, "IsInst", "1");
        RegWriteString(kGlobal, kLocal, "InstTo", game_.Path().c_str());
        ASSERT_EQ(0, PlatformSetAttributes(game_.Path().c_str(), kAttrReadOnly));
    }
    // Nothing of the update is anywhere: the folder, the INI file, the registry.
    void ExpectNothingChanged() {
        Bytes game;
        ASSERT_TRUE(ReadFileBytes(game_ / "game.exe", &game));
        EXPECT_EQ(ToBytes("old"), game);
        EXPECT_FALSE(Exists(game_ / kStagingFolderName));
        EXPECT_FALSE(Exists(game_ / "追加.dat"));
        EXPECT_TRUE(Exists(game_ / "data\\old.dat"));
        EXPECT_FALSE(Exists(files_ / "game.ini"));
        char value[260];
        EXPECT_EQ(-1, RegReadString(kGlobal, kLocal, "InstallDir", "", value, sizeof(value)));
    }
};

TEST_F(RefusedFolderTest, TheProbeKnowsBeforeTheWalkAndLeavesNothing) {
    TempFolder crashed;
    ASSERT_EQ(0, PlatformCreateFolder((crashed / kStagingFolderName).c_str()));
    std::string leftover = crashed / kStagingFolderName + "\\00000000.old";
    ASSERT_TRUE(WriteFileBytes(leftover, ToBytes("original")));
    struct Case {
        const char* fault;
        std::string folder;
        bool refuses;
    } cases[] = {
        {"a refused folder not known before the walk", game_.Path(), true},
        {"a writable folder taken for a refused one", files_.Path(), false},
        {"a crashed run's staging folder removed by the probe", crashed.Path(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.refuses, DestinationRefusesWrites(c.folder.c_str())) << c.fault;
        EXPECT_EQ(c.folder == crashed.Path(), Exists(c.folder + "\\" + kStagingFolderName)) << c.fault;
    }
    EXPECT_TRUE(Exists(leftover));
    EXPECT_TRUE(ShownBoxes().empty());
    ExpectNothingChanged();
}

// The helper wrote the folder: this process does not walk again, and keeps
// the registry, the finish dialog and the launch for the player's account.
TEST_F(RefusedFolderTest, AfterTheHelperThisProcessWritesTheRegistryAndLaunchesButDoesNotWalk) {
    QueueBoxAnswer(kAnswerYes);  // confirm
    QueueAdministratorAnswer(true);
    QueueHelperOutcome(kHelperFinished);
    QueueFinishAnswer(true, false);
    ASSERT_EQ(0, RunUpdate());
    EXPECT_EQ((std::vector<std::string>{game_.Path()}), AdministratorBoxFolders());
    EXPECT_EQ((std::vector<std::string>{game_.Path()}), HelperFolders());
    EXPECT_EQ(1u, ShownBoxes().size());  // the confirmation only: no Retry/Cancel
    Bytes game;
    ASSERT_TRUE(ReadFileBytes(game_ / "game.exe", &game));
    EXPECT_EQ(ToBytes("old"), game);
    EXPECT_FALSE(Exists(files_ / "game.ini"));
    EXPECT_TRUE(Exists(game_ / "data\\old.dat"));
    char value[260];
    ASSERT_EQ(0, RegReadString(kGlobal, kLocal, "InstallDir", "", value, sizeof(value)));
    EXPECT_EQ(game_.Path(), std::string(value));
    EXPECT_EQ(1u, FinishLabels().size());
    EXPECT_EQ((std::vector<std::string>{"game.exe"}), StartedPrograms());
}

// Prints, as a death test's child ends, what it asked and started, and which
// box it showed last.
void ReportElevationAtExit() {
    atexit([] {
        const std::vector<ShownBox>& boxes = ShownBoxes();
        std::string last = boxes.empty() ? "" : boxes.back().text;
        const char* kind = last.find("に書き込む権限がありません") != std::string::npos ? "denied"
                           : last.find("をアップデートします") != std::string::npos   ? "confirm"
                                                                                          : "other";
        fprintf(stderr, "admin %zu, helper %zu, finish %zu, last box %s\n", AdministratorBoxFolders().size(),
                HelperFolders().size(), FinishLabels().size(), kind);
    });
}

TEST_F(RefusedFolderTest, EndingsThatLeaveEverythingAsItWas) {
    struct Case {
        const char* fault;
        bool cont;
        HelperOutcome outcome;
        std::string report;
    } cases[] = {
        {"Cancel in the administrator box going on", false, kHelperFinished,
         "admin 1, helper 0, finish 0, last box confirm"},
        {"a failure the helper told followed by the registry and the finish", true, kHelperFailedTold,
         "admin 1, helper 1, finish 0, last box confirm"},
        {"a refused elevation losing today's Retry/Cancel box", true, kHelperNotStarted,
         "admin 1, helper 1, finish 0, last box denied"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                ReportElevationAtExit();
                QueueBoxAnswer(kAnswerYes);  // confirm
                QueueAdministratorAnswer(c.cont);
                QueueHelperOutcome(c.outcome);
                QueueBoxAnswer(kAnswerCancel);  // the Retry/Cancel box, when there is one
                QueueFinishAnswer(true, false);
                RunUpdate();
            },
            ::testing::ExitedWithCode(kExitCodeMinusOne), c.report)
            << c.fault;
        ExpectNothingChanged();
    }
}

// What the helper runs: everything inside the folder, nothing of the player's.
TEST_F(RefusedFolderTest, TheHelpersPartWritesTheFolderButNoRegistryAndLaunchesNothing) {
    ASSERT_EQ(0, PlatformSetAttributes(game_.Path().c_str(), 0));  // as the administrator may
    ASSERT_EQ(kHelperExitDone, WriteInstallFolder(game_.Path().c_str()));
    Bytes game;
    ASSERT_TRUE(ReadFileBytes(game_ / "game.exe", &game));
    EXPECT_EQ(ToBytes("new"), game);
    EXPECT_TRUE(Exists(game_ / "追加.dat"));
    EXPECT_FALSE(Exists(game_ / "data"));
    Bytes ini;
    ASSERT_TRUE(ReadFileBytes(files_ / "game.ini", &ini));
    EXPECT_EQ("[設定]\r\nPath=" + game_.Path() + "\r\n", std::string(ini.begin(), ini.end()));
    char value[260];
    EXPECT_EQ(-1, RegReadString(kGlobal, kLocal, "InstallDir", "", value, sizeof(value)));
    EXPECT_TRUE(FinishLabels().empty());
    EXPECT_TRUE(StartedPrograms().empty());
    EXPECT_TRUE(AdministratorBoxFolders().empty());
    // A damaged package is told and ends the helper's part with the folder as it was.
    ASSERT_TRUE(WriteFileBytes(files_ / "update.exe", DamagedProgramFile()));
    ResetScriptedBoxes();
    EXPECT_EQ(kHelperExitFailed, WriteInstallFolder(game_.Path().c_str()));
    ASSERT_EQ(1u, ShownBoxes().size());
    EXPECT_EQ(kDamagedPackageMessage, ShownBoxes()[0].text);
}

}  // namespace
#endif
