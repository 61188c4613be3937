// A Full walk that dies after any number of changes to the file system, then
// the recovery that the next run starts with: the install folder must be
// wholly old or wholly new, byte for byte and time for time, and the run after
// that must update it completely.
#include "package/Staging.h"

#include <gtest/gtest.h>

#include <string>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "services/Platform.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr uint64_t kOldTime = 130000000000000000ULL;

class StagingTest : public ::testing::Test {
protected:
    void TearDown() override { PlatformFailChangesAfter(-1); }

    // The released game: two files the patch replaces, one of the player's.
    void MakeOldTree() {
        RemoveTree(game_);
        ASSERT_EQ(0, PlatformCreateFolder(game_.c_str()));
        ASSERT_EQ(0, PlatformCreateFolder((game_ + "\\sub").c_str()));
        for (const char* name : {"a.dat", "sub\\b.dat", "save.dat"}) {
            std::string path = game_ + "\\" + name;
            ASSERT_TRUE(WriteFileBytes(path, ToBytes(std::string("old ") + name)));
            ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), kOldTime));
        }
    }
    Bytes Patch() {
        Bytes entries;
        AppendFile(&entries, "a.dat", ToBytes("new a"));
        AppendFolder(&entries, "追加\\");
        AppendFolder(&entries, "追加\\深い\\");
        AppendFile(&entries, "追加\\深い\\c.dat", ToBytes("new c"));
        AppendFile(&entries, "sub\\b.dat", ToBytes("new b"));
        AppendFile(&entries, "d.dat", ToBytes("new d"));
        return MakeProgramFile({}, entries);
    }
    int Walk() {
        std::string program = packages_ / "patch.exe";
        if (!Exists(program) && !WriteFileBytes(program, Patch())) return -1;
        PackageStream stream;
        int result = OpenPackageStream(program.c_str(), &stream);
        if (result != kPackageOk) return result;
        result = WalkPackage(&stream, game_.c_str(), kFullMode, nullptr);
        ClosePackageStream(&stream);
        return result;
    }
    TempFolder root_;
    TempFolder packages_;
    std::string game_ = root_ / "game";
};

TEST_F(StagingTest, DeathAtAnyPointRecoversToTheOldOrTheNewTree) {
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_);
    ASSERT_EQ(kPackageOk, Walk());
    TreeSnapshot newTree = SnapshotTree(game_);
    ASSERT_NE(oldTree, newTree);
    int finished = -1;
    int sawOld = 0, sawNew = 0;
    for (int k = 0; k < 200 && finished < 0; ++k) {
        MakeOldTree();
        PlatformFailChangesAfter(k);
        int result = Walk();
        PlatformFailChangesAfter(-1);
        if (result == kPackageOk) finished = k;
        ASSERT_EQ(kPackageOk, RecoverStaging(game_.c_str())) << "after " << k << " changes";
        TreeSnapshot recovered = SnapshotTree(game_);
        ASSERT_TRUE(recovered == oldTree || recovered == newTree) << "mixed after " << k << " changes";
        (recovered == oldTree ? sawOld : sawNew)++;
        ASSERT_EQ(kPackageOk, Walk()) << "the next run, after " << k << " changes";
        ASSERT_TRUE(SnapshotTree(game_) == newTree) << "the next run, after " << k << " changes";
    }
    EXPECT_GT(finished, 10) << "the walk makes more changes than that";
    EXPECT_GT(sawOld, 0);
    // Deaths after the journal's commit mark are finished forward.
    EXPECT_GT(sawNew, 1);
}

// A roll-back whose moves keep failing (here: every change stops after the
// commit's first moves) leaves the journal: the failure names the file and
// where its original is, and the next run puts everything back (or, when the
// journal's commit mark had reached the disk, finishes the update).
TEST_F(StagingTest, FailedRestoreIsToldAndFinishedByTheNextRun) {
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_);
    ASSERT_EQ(kPackageOk, Walk());
    TreeSnapshot newTree = SnapshotTree(game_);
    int told = 0;
    for (int k = 0; k < 200; ++k) {
        MakeOldTree();
        PlatformFailChangesAfter(k);
        int result = Walk();
        PlatformFailChangesAfter(-1);
        if (result == kPackageOk) break;
        if (result != kPackageRestoreFailed) continue;
        ++told;
        const WriteFailure* failure = LastWriteFailure();
        EXPECT_EQ(0u, std::string(failure->path).find(game_ + "\\")) << k;
        if (failure->original[0] != '\0') {
            EXPECT_TRUE(Exists(failure->original)) << k;
        }
        ASSERT_EQ(kPackageOk, RecoverStaging(game_.c_str())) << k;
        TreeSnapshot recovered = SnapshotTree(game_);
        EXPECT_TRUE(recovered == oldTree || recovered == newTree) << "the next run ends what was left, " << k;
    }
    EXPECT_GT(told, 0);
}

}  // namespace
