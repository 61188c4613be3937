// A patch with delta entries run as the player runs it: onto the released
// game it updates the files; onto a game whose archive the player changed it
// says so before anything is written and leaves every file as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

constexpr uint64_t kReleasedTime = 130000000000000000ULL;

class DeltaPatchTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey(kTestGameKey);
        // An archive of three transfer blocks and more, an asset inserted in its middle.
        oldArchive_ = RandomBytes(3 * 0x20000 + 777, 11);
        newArchive_ = oldArchive_;
        Bytes asset = RandomBytes(30000, 12);
        newArchive_.insert(newArchive_.begin() + 200000, asset.begin(), asset.end());
        ASSERT_EQ(0, PlatformCreateFolder((game_ / "data").c_str()));
        Put("data\\game.arc", oldArchive_);
        Put("game.dat", ToBytes("old"));
        Put("save.dat", ToBytes("player's save"));
        ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    void Put(const char* name, const Bytes& bytes) {
        ASSERT_TRUE(WriteFileBytes(game_ / name, bytes));
        ASSERT_EQ(0, PlatformSetFileTime((game_ / name).c_str(), kReleasedTime));
    }
    Bytes Patch() {
        Bytes delta;
        EXPECT_EQ(0, EncodeInMemory(oldArchive_, newArchive_, &delta));
        Bytes entries = StartupEntries(GameSettings("Flow", "差分"));
        AppendFile(&entries, "game.dat", ToBytes("new"));
        AppendDeltaEntry(&entries, "data\\game.arc", DeltaFieldsOf(oldArchive_, newArchive_), Deflate(delta));
        return MakeProgramFile(image_, entries);
    }
    Bytes oldArchive_, newArchive_;
    TempFolder game_;
};

TEST_F(DeltaPatchTest, ADeltaPatchUpdatesTheReleasedGame) {
    Start(Patch());
    ASSERT_NO_FATAL_FAILURE(Press(IDC_SLOT_FIRST + 1));  // Update, above Exit
    ASSERT_EQ(1u, Answer({IDYES}).size());
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(false));
    EXPECT_EQ(0, Finish());
    TreeSnapshot tree = SnapshotTree(game_.Path());
    EXPECT_TRUE(tree["data\\game.arc"].first == newArchive_);
    EXPECT_EQ(kTestFileTime, tree["data\\game.arc"].second);
    EXPECT_EQ(ToBytes("new"), tree["game.dat"].first);
    EXPECT_EQ(kTestFileTime, tree["game.dat"].second);
    EXPECT_EQ(ToBytes("player's save"), tree["save.dat"].first);
    EXPECT_EQ(kReleasedTime, tree["save.dat"].second);
    EXPECT_TRUE(WorkingFolders().empty());
}

TEST_F(DeltaPatchTest, AnArchiveThePlayerChangedIsToldAndNothingIsWritten) {
    Bytes changed = oldArchive_;
    changed[1234] ^= 0x20;
    Put("data\\game.arc", changed);
    TreeSnapshot before = SnapshotTree(game_.Path());
    Start(Patch());
    ASSERT_NO_FATAL_FAILURE(Press(IDC_SLOT_FIRST + 1));
    std::vector<std::wstring> texts = Answer({IDYES, IDOK});
    ASSERT_EQ(2u, texts.size());
    char expected[kMessageBuffer];
    snprintf(expected, sizeof(expected), kSourceMismatchMessage, "data\\game.arc", kKeptAsItWas);
    EXPECT_EQ(Wide(expected), texts[1]);
    EXPECT_EQ(-1, Finish());
    EXPECT_TRUE(SnapshotTree(game_.Path()) == before);
    EXPECT_TRUE(WorkingFolders().empty());
}

}  // namespace
