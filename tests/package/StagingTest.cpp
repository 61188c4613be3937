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
// where its original is, and the next run puts everything back.
TEST_F(StagingTest, FailedRestoreIsToldAndFinishedByTheNextRun) {
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_);
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
        EXPECT_TRUE(SnapshotTree(game_) == oldTree) << "the next run puts back what was left, " << k;
    }
    EXPECT_GT(told, 0);
}

// A journal is read back from the disk, where damage or another program may
// have changed it: a target that leaves the install folder is never acted on.
TEST(StagingJournalTest, RecoveryNeverReachesOutsideTheInstallFolder) {
    struct Row {
        const char* fault;
        const char* lines;
    };
    const Row rows[] = {
        {"a new file's deletion reaches a file beside the folder", "N ..\\beside.txt\n"},
        {"a roll-back moves an original over a file beside the folder", "F 00000000 1 ..\\beside.txt\nE\n"},
        {"a roll-back deletes a placed file beside the folder", "F 00000001 0 ..\\beside.txt\nE\n"},
        {"a made folder's removal reaches an empty folder beside it", "D ..\\empty\n"},
    };
    for (const Row& row : rows) {
        TempFolder root;
        std::string game = root / "game";
        std::string staging = game + "\\" + kStagingFolderName;
        ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
        ASSERT_EQ(0, PlatformCreateFolder(staging.c_str()));
        ASSERT_EQ(0, PlatformCreateFolder((root / "empty").c_str()));
        ASSERT_TRUE(WriteFileBytes(root / "beside.txt", ToBytes("not the game's")));
        ASSERT_TRUE(WriteFileBytes(staging + "\\00000000.old", ToBytes("an original")));
        ASSERT_TRUE(WriteFileBytes(staging + "\\journal.txt",
                                   ToBytes(std::string("VORNEL staging journal 1\n") + row.lines)));
        TreeSnapshot before = SnapshotTree(root.Path());
        RecoverStaging(game.c_str());
        TreeSnapshot after = SnapshotTree(root.Path());
        for (const auto& entry : before) {
            if (entry.first.compare(0, 5, "game\\") == 0) continue;
            EXPECT_EQ(1u, after.count(entry.first)) << row.fault << ": " << entry.first;
            if (after.count(entry.first) == 1) EXPECT_EQ(entry.second, after[entry.first]) << row.fault;
        }
    }
}

// The folder a failed walk made is listed in the journal as the backslash
// rules leave its name: 画像\ keeps its final '\' (像 is 91 9C, a second byte
// in a lead range). Recovery must still take it for a folder and remove it.
TEST(StagingJournalTest, FailedWalkRemovesAFolderNamedWithItsFinalBackslash) {
    TempFolder root;
    std::string game = root / "game";
    ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
    ASSERT_TRUE(WriteFileBytes(game + "\\readme.txt", ToBytes("the release's readme")));
    Bytes entries;
    AppendFolder(&entries, "画像\\");
    AppendFile(&entries, "画像\\a.dat", ToBytes("new a"));
    AppendRawFile(&entries, ToBytes(std::string("b.dat") + '\0'), 5, 3, kTestFileTime, ToBytes("bad"));
    std::string program = root / "patch.exe";
    ASSERT_TRUE(WriteFileBytes(program, MakeProgramFile({}, entries)));
    TreeSnapshot before = SnapshotTree(game);
    PackageStream stream;
    ASSERT_EQ(kPackageOk, OpenPackageStream(program.c_str(), &stream));
    EXPECT_EQ(kPackageCorruptStream, WalkPackage(&stream, game.c_str(), kFullMode, nullptr));
    ClosePackageStream(&stream);
    EXPECT_TRUE(SnapshotTree(game) == before);
}

}  // namespace
