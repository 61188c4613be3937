#include "services/DataFileOpener.h"

#include <gtest/gtest.h>

#include <string>

#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "services/ScriptedBoxes.h"
#include "tests/support/BoxReport.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

class DataFileOpenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScriptedBoxes();
        SetDirectOpenAllowed(1);
        ASSERT_EQ(0, PlatformCreateFolder((dir_ / "sub").c_str()));
        for (const char* name : {"install.env", "bgm.ogg", "sub\\se.WAV", "sub\\key.dat", "ソ.wav"})
            ASSERT_TRUE(WriteFileBytes(dir_ / name, ToBytes("x")));
        ASSERT_EQ(0, PlatformSetCurrentFolder(dir_.Path().c_str()));
    }
    bool Opens(const std::string& name) {
        FILE* f = OpenDataFile(name.c_str(), "rb");
        if (f != nullptr) fclose(f);
        return f != nullptr;
    }
    TempFolder dir_;
    CurrentFolderGuard cwd_;
};

TEST_F(DataFileOpenerTest, SoundNamesByTheirExtension) {
    struct Case { const char* name; bool sound; } cases[] = {
        {"a.ogg", true},         {"A.OGG", true},          {"x\\b.Wav", true},     {"C:c.wav", true},
        {"a.ogg.txt", false},    {"ogg", false},           {"a.oggx", false},      {"dir.ogg\\file", false},
        {"ソ.wav", true},        {"表\\.ogg", true},        {"a.", false},          {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.sound, IsSoundName(c.name)) << c.name;
}

TEST_F(DataFileOpenerTest, OpensByNameWithTheSoundRule) {
    EXPECT_TRUE(Opens("install.env"));
    EXPECT_TRUE(Opens("sub\\key.dat"));
    EXPECT_TRUE(Opens(dir_ / "sub\\key.dat"));  // absolute
    EXPECT_TRUE(Opens("bgm.ogg"));
    EXPECT_TRUE(Opens("ソ.wav"));               // its 5C is a second byte, not a backslash
    EXPECT_FALSE(Opens("sub\\se.WAV"));        // a sound name with a backslash is never found
    EXPECT_FALSE(Opens(dir_ / "bgm.ogg"));
    EXPECT_TRUE(Opens("sub/se.WAV"));          // forward slashes only: opened by that path
    EXPECT_FALSE(Opens("missing.dat"));
    EXPECT_TRUE(DataFileExists("install.env"));
    EXPECT_FALSE(DataFileExists("sub\\se.WAV"));
    ASSERT_EQ(0, PlatformDeleteFile("install.env"));
    EXPECT_FALSE(DataFileExists("install.env"));
}

TEST_F(DataFileOpenerTest, NothingIsFoundWhileDirectOpeningIsOff) {
    SetDirectOpenAllowed(0);
    EXPECT_FALSE(Opens("install.env"));
    EXPECT_FALSE(DataFileExists("bgm.ogg"));
    SetDirectOpenAllowed(1);
    EXPECT_TRUE(Opens("install.env"));
}

TEST_F(DataFileOpenerTest, RetryAsksAgainAfterEveryRetryUntilCancel) {
    QueueBoxAnswer(kAnswerRetry);
    QueueBoxAnswer(kAnswerRetry);
    QueueBoxAnswer(kAnswerCancel);
    EXPECT_EXIT(
        {
            ReportBoxesAtExit();
            OpenDataFileRetry("gone.rct", "rb");
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne),
        "box 21: Ffopen : .*\\[gone.rct\\].*\nbox 21: Ffopen : .*\\[gone.rct\\].*\nbox 21: Ffopen : .*\\[gone.rct\\]");
    // With the file there, no box at all.
    FILE* f = OpenDataFileRetry("install.env", "rt");
    ASSERT_NE(nullptr, f);
    fclose(f);
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(DataFileOpenerTest, NothingIsOpenedWhileOffSoRetryKeepsAsking) {
    SetDirectOpenAllowed(0);
    QueueBoxAnswer(kAnswerRetry);
    QueueBoxAnswer(kAnswerCancel);
    EXPECT_EXIT(
        {
            ReportBoxesAtExit();
            OpenDataFileRetry("install.env", "rt");
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "box 21: .*install.env.*\nbox 21: .*install.env");
}

}  // namespace
