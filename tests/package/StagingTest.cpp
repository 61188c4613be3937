// A Full walk that dies after any number of changes to the file system, then
// the recovery that the next run starts with: the install folder must be
// wholly old or wholly new, byte for byte and time for time, and the run after
// that must update it completely.
#include "package/Staging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        return WalkProgram(program, nullptr);
    }
    int WalkProgram(const std::string& program, const ProgressSink* sink) {
        PackageStream stream;
        int result = OpenPackageStream(program.c_str(), &stream);
        if (result != kPackageOk) return result;
        result = WalkPackage(&stream, game_.c_str(), kFullMode, sink);
        ClosePackageStream(&stream);
        return result;
    }
    std::string Staging() const { return game_ + "\\" + kStagingFolderName; }
    // The released game with an update stopped half-way through its commit:
    // a.dat already replaced (its original set aside as 00000000.old), d.dat
    // new and written in place, and the journal given.
    void MakeHalfCommittedTree(const std::string& journal) {
        MakeOldTree();
        ASSERT_EQ(0, PlatformCreateFolder(Staging().c_str()));
        ASSERT_EQ(0, PlatformMoveFile((game_ + "\\a.dat").c_str(), (Staging() + "\\00000000.old").c_str()));
        ASSERT_TRUE(WriteFileBytes(game_ + "\\a.dat", ToBytes("new a")));
        ASSERT_TRUE(WriteFileBytes(game_ + "\\d.dat", ToBytes("new d")));
        ASSERT_TRUE(WriteFileBytes(Staging() + "\\journal.txt", ToBytes(journal)));
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

// A power cut at any point of a walk: what the disk had not been given is
// lost, as a disk loses it (cut short or left as zeros), and the recovery of
// the next run must still find every file whole, old or new.
TEST_F(StagingTest, PowerCutAtAnyPointLeavesTheOldOrTheNewTreeWhole) {
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_);
    ASSERT_EQ(kPackageOk, Walk());
    TreeSnapshot newTree = SnapshotTree(game_);
    for (PowerCutLoss loss : {kLossTruncated, kLossZeroed}) {
        int finished = -1;
        int sawNew = 0;
        for (int k = 0; k < 200 && finished < 0; ++k) {
            MakeOldTree();
            PlatformWatchUnflushed(true);
            PlatformFailChangesAfter(k);
            if (Walk() == kPackageOk) finished = k;
            PlatformFailChangesAfter(-1);
            PlatformCutPower(loss);
            ASSERT_EQ(kPackageOk, RecoverStaging(game_.c_str())) << "after " << k << " changes, loss " << loss;
            TreeSnapshot recovered = SnapshotTree(game_);
            ASSERT_TRUE(recovered == oldTree || recovered == newTree) << "after " << k << " changes, loss " << loss;
            if (recovered == newTree) ++sawNew;
        }
        EXPECT_GT(finished, 10) << loss;
        EXPECT_GT(sawNew, 0) << loss;
    }
}

// The model bites: the same walk without its flushes loses new files' bytes
// after its journal has already promised them.
TEST_F(StagingTest, PowerCutModelFindsAWalkThatDoesNotFlush) {
    MakeOldTree();
    ASSERT_EQ(kPackageOk, Walk());
    TreeSnapshot newTree = SnapshotTree(game_);
    MakeOldTree();
    SetDurableWrites(false);
    PlatformWatchUnflushed(true);
    int walked = Walk();
    int lost = PlatformCutPower(kLossZeroed);
    SetDurableWrites(true);
    ASSERT_EQ(kPackageOk, walked);
    EXPECT_GT(lost, 0);
    ASSERT_EQ(kPackageOk, RecoverStaging(game_.c_str()));
    EXPECT_FALSE(SnapshotTree(game_) == newTree);
}

// A journal that cannot be trusted is never acted on: the half-committed
// folder, the staging folder and anything outside stay exactly as they are,
// and the failure names the staging folder.
TEST_F(StagingTest, ARefusedJournalTouchesNothing) {
    const std::string header = "VORNEL staging journal 1\n";
    // 空 ends in 0xF3, a lead byte: the folder's line keeps its final '\'.
    const std::string sound = "D 空\\\nN d.dat\nF 00000000 1 a.dat\nE\n";
    struct Case {
        const char* fault;
        std::string journal;
    };
    const Case cases[] = {
        {"another version: its lines may mean something else", "VORNEL staging journal 2\n" + sound},
        {"not this program's header", "some other file\n" + sound},
        {"a moved file outside the folder (its original would be put there)",
         header + "N d.dat\nF 00000000 1 ..\\outside\\victim.sav\nE\n"},
        {"a new file outside the folder (it would be deleted)", header + "N ..\\victim.sav\n" + "E\n"},
        {"a new file on another drive", header + "N C:\\victim.sav\nE\n"},
        {"a folder from the root", header + "D \\Windows\nE\n"},
        {"a name inside the staging folder", header + "N TempGPUpdateStaging\\journal.txt\nE\n"},
        {"a number of the wrong width", header + "N d.dat\nF 0 1 a.dat\nE\n"},
        {"a letter this version does not know", header + "Q d.dat\n" + "E\n"},
        {"a file listed after the end of the list", header + "E\nN d.dat\n"},
        {"a line too long for any path", header + "N " + std::string(400, 'x') + "\nE\n"},
    };
    for (const Case& c : cases) {
        MakeHalfCommittedTree(c.journal);
        std::string victim = root_ / "victim.sav";
        ASSERT_TRUE(WriteFileBytes(victim, ToBytes("the player's")));
        TreeSnapshot before = SnapshotTree(root_.Path());
        EXPECT_EQ(kPackageRestoreFailed, RecoverStaging(game_.c_str())) << c.fault;
        EXPECT_EQ(Staging(), LastWriteFailure()->path) << c.fault;
        EXPECT_TRUE(SnapshotTree(root_.Path()) == before) << c.fault;
        EXPECT_EQ(kPackageRestoreFailed, Walk()) << "the walk does not start either: " << c.fault;
        EXPECT_TRUE(SnapshotTree(root_.Path()) == before) << c.fault;
    }
    // The same folder with a sound journal is put back.
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_);
    MakeHalfCommittedTree(header + sound);
    EXPECT_EQ(kPackageOk, RecoverStaging(game_.c_str()));
    EXPECT_TRUE(SnapshotTree(game_) == oldTree);
}

// A journal that exists but cannot be read (here a folder stands at its name;
// on Windows a program holding it open without sharing) is not "no journal".
TEST_F(StagingTest, AnUnreadableJournalTouchesNothing) {
    MakeHalfCommittedTree("");
    std::string journal = Staging() + "\\journal.txt";
    ASSERT_EQ(0, PlatformDeleteFile(journal.c_str()));
    ASSERT_EQ(0, PlatformCreateFolder(journal.c_str()));
    TreeSnapshot before = SnapshotTree(game_);
    EXPECT_EQ(kPackageRestoreFailed, RecoverStaging(game_.c_str()));
    EXPECT_EQ(Staging(), LastWriteFailure()->path);
    EXPECT_TRUE(SnapshotTree(game_) == before);
}

// A journal cut short by a crash while its header was written: the walk
// never began, and the next run starts clean.
TEST_F(StagingTest, AHeaderCutShortIsNoJournal) {
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_);
    ASSERT_EQ(0, PlatformCreateFolder(Staging().c_str()));
    ASSERT_TRUE(WriteFileBytes(Staging() + "\\journal.txt", ToBytes("VORNEL stag")));
    EXPECT_EQ(kPackageOk, RecoverStaging(game_.c_str()));
    EXPECT_TRUE(SnapshotTree(game_) == oldTree);
}

// A file that recovery cannot delete (a virus scanner holds it; here it is
// read-only) keeps the journal and is named, with whether the update stands;
// the next run, once it can, finishes.
TEST_F(StagingTest, ARecoveryThatCannotDeleteKeepsItsJournal) {
    struct Case {
        const char* fault;  // what the player would be told wrongly, or what would be lost
        const char* journal;
        const char* held;      // the file that cannot be deleted, in the game folder
        const char* original;  // where the failure says the original is, in the staging folder
        bool applied;
    } cases[] = {
        {"a roll-back that cannot delete a new file, told as done", "VORNEL staging journal 1\nN d.dat\nF 00000000 1 a.dat\nE\n",
         "d.dat", "", false},
        {"a committed update whose original stays, told as undone",
         "VORNEL staging journal 1\nN d.dat\nF 00000000 1 a.dat\nE\nC\n", "TempGPUpdateStaging\\00000000.old",
         "00000000.old", true},
    };
    for (const Case& c : cases) {
        MakeHalfCommittedTree(c.journal);
        std::string held = game_ + "\\" + c.held;
        ASSERT_EQ(0, PlatformSetAttributes(held.c_str(), kAttrReadOnly)) << c.fault;
        // Nor can an original be set aside for a later deletion.
        std::string discarded = Staging() + "\\00000000.del";
        ASSERT_EQ(0, PlatformCreateFolder(discarded.c_str())) << c.fault;
        TreeSnapshot stuck = SnapshotTree(game_);
        EXPECT_EQ(kPackageRestoreFailed, RecoverStaging(game_.c_str())) << c.fault;
        EXPECT_EQ(game_ + (c.applied ? "\\a.dat" : "\\d.dat"), LastWriteFailure()->path) << c.fault;
        EXPECT_EQ(c.original[0] != '\0' ? Staging() + "\\" + c.original : "", LastWriteFailure()->original)
            << c.fault;
        EXPECT_EQ(c.applied, LastWriteFailure()->applied) << c.fault;
        EXPECT_TRUE(Exists(Staging() + "\\journal.txt")) << c.fault;
        if (c.applied) {
            EXPECT_TRUE(SnapshotTree(game_) == stuck) << "a standing update is never undone: " << c.fault;
        }

        ASSERT_EQ(0, PlatformSetAttributes(held.c_str(), 0)) << c.fault;
        ASSERT_EQ(0, PlatformRemoveFolder(discarded.c_str())) << c.fault;
        EXPECT_EQ(kPackageOk, RecoverStaging(game_.c_str())) << c.fault;
        EXPECT_FALSE(Exists(Staging())) << c.fault;
        Bytes a;
        ASSERT_TRUE(ReadFileBytes(game_ + "\\a.dat", &a)) << c.fault;
        EXPECT_EQ(ToBytes(c.applied ? "new a" : "old a.dat"), a) << c.fault;
        EXPECT_EQ(c.applied, Exists(game_ + "\\d.dat")) << c.fault;
    }
}

struct TakeNameOnFirstFile {
    std::string path;
    bool done = false;
};

// A file that appears under a new file's name during the walk is the
// player's: the walk refuses it as in the way and leaves it, and the next
// walk replaces it like any other file, its bytes kept by the roll-back.
TEST_F(StagingTest, ANameTakenSinceThePlanIsLeftToWhoeverTookIt) {
    MakeOldTree();
    Bytes entries;
    AppendFile(&entries, "x.dat", ToBytes("new x"));
    AppendFile(&entries, "d.dat", ToBytes("new d"));
    std::string program = packages_ / "taken.exe";
    ASSERT_TRUE(WriteFileBytes(program, MakeProgramFile({}, entries)));
    TakeNameOnFirstFile take{game_ + "\\d.dat"};
    ProgressSink sink{[](void* context, const char*, int32_t) {
                          auto* t = static_cast<TakeNameOnFirstFile*>(context);
                          if (!t->done) t->done = WriteFileBytes(t->path, ToBytes("the player's"));
                      },
                      [](void*, int64_t, int64_t) {}, &take};
    SetExtractWorkers(1);
    int result = WalkProgram(program, &sink);
    SetExtractWorkers(0);
    ASSERT_TRUE(take.done);
    EXPECT_EQ(kPackageCannotWrite, result);
    EXPECT_EQ(kWriteFailureFolder, LastWriteFailure()->reason);
    EXPECT_EQ(take.path, LastWriteFailure()->path);
    Bytes bytes;
    ASSERT_TRUE(ReadFileBytes(take.path, &bytes));
    EXPECT_EQ(ToBytes("the player's"), bytes);
    EXPECT_FALSE(Exists(game_ + "\\x.dat"));
    EXPECT_FALSE(Exists(Staging()));
    ASSERT_EQ(kPackageOk, WalkProgram(program, nullptr));
    ASSERT_TRUE(ReadFileBytes(take.path, &bytes));
    EXPECT_EQ(ToBytes("new d"), bytes);
}

// Two entries that NTFS takes for one file are one target: the later one is
// the file, and the earlier one is never written beside it.
TEST_F(StagingTest, EntriesNtfsTakesForOneFileAreOneTarget) {
    MakeOldTree();
    Bytes entries;
    AppendFile(&entries, "Ａ.dat", ToBytes("first"));
    AppendFile(&entries, "ａ.dat", ToBytes("second"));
    std::string program = packages_ / "folded.exe";
    ASSERT_TRUE(WriteFileBytes(program, MakeProgramFile({}, entries)));
    ASSERT_EQ(kPackageOk, WalkProgram(program, nullptr));
    std::vector<std::string> expected = {"a.dat", "save.dat", "sub\\", "sub\\b.dat", "ａ.dat"};
    EXPECT_EQ(expected, ListTree(game_));
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
            if (after.count(entry.first) == 1) {
                EXPECT_EQ(entry.second, after[entry.first]) << row.fault;
            }
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
