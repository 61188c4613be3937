#include "update/FinishDialog.h"

#include <gtest/gtest.h>

#include <string>

#include "services/DataFileOpener.h"
#include "settings/SettingsFile.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "update/ScriptedUpdateDialogs.h"

namespace {

class FinishDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsForTesting();
        ResetScriptedUpdateDialogs();
        SetDirectOpenAllowed(1);
    }
    void TearDown() override {
        ResetSettingsForTesting();
        ResetScriptedUpdateDialogs();
    }
    void Load(const std::string& text) {
        ResetSettingsForTesting();
        std::string path = dir_ / "install.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(text)));
        ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
    }
    TempFolder dir_;
};

TEST_F(FinishDialogTest, TemplateFollowsTheReadmeLabel) {
    std::string longLabel(300, 'r');
    struct Case {
        const char* what;
        std::string settings;
        bool answerRun, answerReadme, escape;
        std::string label;  // as the dialog was asked; "(short)" for ENDINSTALL_SHORT
        bool runGame, openReadme;
    } cases[] = {
        {"no INSTREADME", "TITLEBAR t\r\n", true, true, false, "(short)", true, false},
        {"dash", "INSTREADME -\r\n", true, true, false, "(short)", true, false},
        {"dash and more", "INSTREADME -readme\r\n", false, true, false, "(short)", false, false},
        {"label, both ticked", "INSTREADME readme.txtを読む\r\n", true, true, false, "readme.txtを読む", true, true},
        {"label, readme only", "INSTREADME 説明書\r\n", false, true, false, "説明書", false, true},
        {"label, game only", "INSTREADME 説明書\r\n", true, false, false, "説明書", true, false},
        {"bar stands for a blank", "INSTREADME readme|を開く\r\n", true, true, false, "readme を開く", true, true},
        {"escape", "INSTREADME 説明書\r\n", true, true, true, "説明書", false, false},
        {"escape in the short one", "INSTREADME -\r\n", true, true, true, "(short)", false, false},
        // More than a 127-byte setting: INSTREADME has a buffer of its own.
        {"label of 300 bytes", "INSTREADME " + longLabel + "\r\n", true, true, false, longLabel, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(c.settings);
        ResetScriptedUpdateDialogs();
        QueueFinishAnswer(c.answerRun, c.answerReadme, c.escape);
        FinishChoices choices = {!c.runGame, !c.openReadme};
        FinishDialog(&choices);
        EXPECT_EQ(std::vector<std::string>{c.label}, FinishLabels());
        EXPECT_EQ(c.runGame, choices.runGame);
        EXPECT_EQ(c.openReadme, choices.openReadme);
    }
}

TEST_F(FinishDialogTest, UnansweredDialogChoosesNothing) {
    Load("INSTREADME 説明書\r\n");
    FinishChoices choices = {true, true};
    FinishDialog(&choices);
    EXPECT_FALSE(choices.runGame);
    EXPECT_FALSE(choices.openReadme);
    EXPECT_EQ(std::vector<std::string>{"説明書"}, FinishLabels());
}

TEST_F(FinishDialogTest, ScriptRecordsLaunchesUntilReset) {
    EXPECT_NE(0, StartProgram("vornel.exe"));
    EXPECT_NE(0, StartProgram("DirectX\\dxsetup.exe"));
    OpenDocument("readme.txt");
    EXPECT_EQ((std::vector<std::string>{"vornel.exe", "DirectX\\dxsetup.exe"}), StartedPrograms());
    EXPECT_EQ(std::vector<std::string>{"readme.txt"}, OpenedDocuments());
    QueueFinishAnswer(true, true);
    ResetScriptedUpdateDialogs();
    EXPECT_TRUE(StartedPrograms().empty());
    EXPECT_TRUE(OpenedDocuments().empty());
    // The answer queued before the reset is gone too.
    FinishChoices choices = {true, true};
    RunFinishDialog("x", &choices);
    EXPECT_FALSE(choices.runGame);
}

}  // namespace
