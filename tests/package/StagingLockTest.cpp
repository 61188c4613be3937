// A second updater at the same install folder, while the first one walks or
// commits: it finds the staging folder held and touches nothing, neither its
// start-up recovery nor its walk; once the first lets go, it updates as usual.
#include "package/StagingLock.h"

#include <gtest/gtest.h>

#include <string>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "services/Platform.h"
#include "services/PlatformHold.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

class StagingLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, PlatformCreateFolder(game_.c_str()));
        ASSERT_TRUE(WriteFileBytes(game_ + "\\a.dat", ToBytes("old a")));
    }
    int Walk() {
        Bytes entries;
        AppendFile(&entries, "a.dat", ToBytes("new a"));
        AppendFile(&entries, "b.dat", ToBytes("new b"));
        std::string program = root_ / "patch.exe";
        if (!WriteFileBytes(program, MakeProgramFile({}, entries))) return -1;
        PackageStream stream;
        int result = OpenPackageStream(program.c_str(), &stream);
        if (result != kPackageOk) return result;
        result = WalkPackage(&stream, game_.c_str(), kFullMode, nullptr);
        ClosePackageStream(&stream);
        return result;
    }
    TempFolder root_;
    std::string game_ = root_ / "game";
    std::string staging_ = game_ + "\\" + kStagingFolderName;
};

// What the other updater's staging folder holds at the moment it is looked at.
struct LiveCase {
    const char* fault;  // what a second updater that took it for a crashed run's would do
    const char* journal;
    const char* stagedName;  // a staged file beside it, or null
    const char* inPlace;     // a new file already written in place, or null
};

const LiveCase kLiveCases[] = {
    {"its new file in place deleted as a crashed run's",
     "VORNEL staging journal 1\nN b.dat\n", "00000000.new", "b.dat"},
    {"its half-done commit undone under it", "VORNEL staging journal 1\nF 00000000 1 a.dat\nE\n", "00000000.old",
     nullptr},
    {"its set-aside originals deleted while it still deletes them",
     "VORNEL staging journal 1\nF 00000000 1 a.dat\nE\nC\n", "00000000.old", nullptr},
};

TEST_F(StagingLockTest, HeldStagingFolderMakesRecoveryAndTheWalkRefuseWithoutTouchingAnything) {
    for (const LiveCase& c : kLiveCases) {
        RemoveTree(staging_);
        PlatformDeleteFile((game_ + "\\b.dat").c_str());
        ASSERT_TRUE(WriteFileBytes(game_ + "\\a.dat", ToBytes("old a")));
        ASSERT_EQ(0, PlatformCreateFolder(staging_.c_str()));
        ASSERT_TRUE(WriteFileBytes(staging_ + "\\journal.txt", ToBytes(c.journal)));
        if (c.stagedName != nullptr) {
            ASSERT_TRUE(WriteFileBytes(staging_ + "\\" + c.stagedName, ToBytes("staged")));
        }
        if (c.inPlace != nullptr) {
            ASSERT_TRUE(WriteFileBytes(game_ + "\\" + c.inPlace, ToBytes("being written")));
        }
        // The other updater: its hold is what this process would take.
        PlatformHold* other = nullptr;
        ASSERT_EQ(kHoldTaken, PlatformHoldFile((staging_ + "\\" + kStagingLockName).c_str(), &other)) << c.fault;
        TreeSnapshot live = SnapshotTree(game_);

        EXPECT_EQ(kPackageFolderBusy, RecoverStaging(game_.c_str())) << c.fault;
        EXPECT_TRUE(SnapshotTree(game_) == live) << c.fault;
        EXPECT_EQ(kPackageFolderBusy, Walk()) << c.fault;
        EXPECT_TRUE(SnapshotTree(game_) == live) << c.fault;
        EXPECT_EQ(game_, LastWriteFailure()->path) << "the box names the folder, " << c.fault;

        // Once the other lets go, its leftovers are an interrupted run's: the
        // next walk recovers them and updates, and leaves no staging folder.
        PlatformReleaseHold(other);
        ASSERT_EQ(kPackageOk, Walk()) << c.fault;
        Bytes bytes;
        ASSERT_TRUE(ReadFileBytes(game_ + "\\a.dat", &bytes));
        EXPECT_EQ(ToBytes("new a"), bytes) << c.fault;
        EXPECT_FALSE(Exists(staging_)) << c.fault;
    }
}

}  // namespace
