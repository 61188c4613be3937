// A Full walk of a package with delta entries onto the released game: every
// installed file a delta applies to is checked before anything is written,
// deltas are applied into staged names, and whatever fails or dies leaves
// the folder wholly old or wholly new.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/DeltaEntry.h"
#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "services/Platform.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr uint64_t kOldTime = 130000000000000000ULL;

// What the walk told the sink, phase by phase.
struct PhaseLog {
    std::vector<std::pair<ProgressPhase, int64_t>> phases;
    std::vector<std::string> files;
    int64_t lastFileBytes = -1;
    int64_t lastConsumed = -1;
    int64_t checkedMost = 0;  // the largest count told while checking
};

void LogPhase(void* context, ProgressPhase phase, int64_t total) {
    static_cast<PhaseLog*>(context)->phases.push_back({phase, total});
}
void LogFile(void* context, const char* path, int32_t) { static_cast<PhaseLog*>(context)->files.push_back(path); }
void LogBytes(void* context, int64_t fileBytes, int64_t consumed) {
    PhaseLog* log = static_cast<PhaseLog*>(context);
    log->lastFileBytes = fileBytes;
    log->lastConsumed = consumed;
    if (log->phases.size() == 1) log->checkedMost = consumed;
}

class DeltaWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        // An archive larger than a write-out stride, with an asset inserted in
        // its middle (everything after it shifts) and a few bytes changed.
        oldArchive_ = RandomBytes(1536 * 1024, 1);
        newArchive_ = oldArchive_;
        Bytes asset = RandomBytes(40000, 2);
        newArchive_.insert(newArchive_.begin() + 700000, asset.begin(), asset.end());
        newArchive_[100] ^= 0x5A;
        oldScript_ = RandomBytes(90000, 3);
        newScript_ = oldScript_;
        newScript_[89999] ^= 1;
        MakeOldTree();
    }
    void TearDown() override {
        PlatformFailChangesAfter(-1);
        SetExtractWorkers(0);
    }

    // The released game: the archive and script the deltas apply to, one
    // file the patch replaces whole, and the player's save.
    void MakeOldTree() {
        RemoveTree(game_);
        ASSERT_EQ(0, PlatformCreateFolder(game_.c_str()));
        ASSERT_EQ(0, PlatformCreateFolder((game_ + "\\data").c_str()));
        Put("data\\game.arc", oldArchive_);
        Put("script.dat", oldScript_);
        Put("readme.txt", ToBytes("old readme"));
        Put("save.dat", ToBytes("player's save"));
    }
    void Put(const std::string& name, const Bytes& bytes) {
        std::string path = game_ + "\\" + name;
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), kOldTime));
    }

    // The patch: two deltas around a whole file and a new folder.
    Bytes Patch(const DeltaFields* archiveFields = nullptr) {
        Bytes archiveDelta, scriptDelta;
        EXPECT_EQ(0, EncodeInMemory(oldArchive_, newArchive_, &archiveDelta));
        EXPECT_EQ(0, EncodeInMemory(oldScript_, newScript_, &scriptDelta));
        Bytes entries;
        AppendDeltaEntry(&entries, "data\\game.arc",
                         archiveFields != nullptr ? *archiveFields : DeltaFieldsOf(oldArchive_, newArchive_),
                         Deflate(archiveDelta));
        AppendFile(&entries, "readme.txt", ToBytes("new readme"));
        AppendFolder(&entries, "追加\\");
        AppendFile(&entries, "追加\\c.dat", ToBytes("new c"));
        AppendDeltaEntry(&entries, "script.dat", DeltaFieldsOf(oldScript_, newScript_), Deflate(scriptDelta));
        return MakeProgramFile(ToBytes("MZ image"), entries);
    }

    int WalkProgram(const Bytes& program, ExtractMode mode = kFullMode, const ProgressSink* sink = nullptr) {
        std::string path = packages_ / "patch.exe";
        if (!WriteFileBytes(path, program)) return -1;
        PackageStream stream;
        int result = OpenPackageStream(path.c_str(), &stream);
        if (result != kPackageOk) return result;
        packageLength_ = PackageLength(&stream);
        result = WalkPackage(&stream, mode == kBootMode ? boot_.Path().c_str() : game_.c_str(), mode, sink);
        ClosePackageStream(&stream);
        return result;
    }

    TreeSnapshot NewTree() {
        TreeSnapshot tree = SnapshotTree(game_);
        tree["data\\game.arc"] = {newArchive_, kTestFileTime};
        tree["script.dat"] = {newScript_, kTestFileTime};
        tree["readme.txt"] = {ToBytes("new readme"), kTestFileTime};
        tree["追加\\"] = {{}, 0};
        tree["追加\\c.dat"] = {ToBytes("new c"), kTestFileTime};
        return tree;
    }

    Bytes oldArchive_, newArchive_, oldScript_, newScript_;
    TempFolder root_;
    TempFolder packages_;
    TempFolder boot_;
    std::string game_ = root_ / "game";
    int64_t packageLength_ = 0;
};

// Applied in order on the window thread and by several workers, each delta
// makes its new bytes and time; the player's file stays; the bars check the
// installed bytes first, then count the package's bytes exactly.
TEST_F(DeltaWalkTest, DeltasUpdateTheReleasedGame) {
    for (unsigned workers : {1u, 4u}) {
        MakeOldTree();
        TreeSnapshot expected = NewTree();
        PhaseLog log;
        ProgressSink sink{LogFile, LogBytes, &log, LogPhase};
        SetExtractWorkers(workers);
        ASSERT_EQ(kPackageOk, WalkProgram(Patch(), kFullMode, &sink)) << workers;
        TreeSnapshot tree = SnapshotTree(game_);
        EXPECT_TRUE(tree["data\\game.arc"].first == newArchive_) << workers;
        EXPECT_EQ(kTestFileTime, tree["data\\game.arc"].second) << workers;
        EXPECT_TRUE(tree["script.dat"].first == newScript_) << workers;
        EXPECT_EQ(ToBytes("player's save"), tree["save.dat"].first) << workers;
        EXPECT_TRUE(tree == expected) << workers;
        EXPECT_FALSE(Exists(game_ + "\\" + kStagingFolderName)) << workers;

        int64_t installed = static_cast<int64_t>(oldArchive_.size() + oldScript_.size());
        ASSERT_EQ(2u, log.phases.size()) << workers;
        EXPECT_EQ(kCheckingPhase, log.phases[0].first);
        EXPECT_EQ(installed, log.phases[0].second) << "the checking phase runs over the installed bytes";
        EXPECT_EQ(installed, log.checkedMost) << "every installed byte hashed is told";
        EXPECT_EQ(kCopyingPhase, log.phases[1].first);
        EXPECT_EQ(packageLength_, log.phases[1].second);
        EXPECT_EQ(packageLength_ - static_cast<int64_t>(kNameLengthSize + kPackageFillerSize), log.lastConsumed)
            << workers << ": every byte before the end marker is counted once";
        ASSERT_GE(log.files.size(), 2u);
        EXPECT_EQ(game_ + "\\data\\game.arc", log.files[0]) << "the check names the file it reads";
    }
}

// A package without deltas has no checking phase: its bars are as before.
TEST_F(DeltaWalkTest, APlainPackageHasNoCheckingPhase) {
    Bytes entries;
    AppendFile(&entries, "readme.txt", ToBytes("new readme"));
    PhaseLog log;
    ProgressSink sink{LogFile, LogBytes, &log, LogPhase};
    ASSERT_EQ(kPackageOk, WalkProgram(MakeProgramFile({}, entries), kFullMode, &sink));
    EXPECT_TRUE(log.phases.empty());
}

// Whatever is wrong with the installed file, nothing in the folder changes
// (no folder made, no file replaced, no staging left) and the walk names it.
TEST_F(DeltaWalkTest, AnInstalledFileThatIsNotTheReleasedOneRefusesBeforeAnyWrite) {
    struct Case {
        const char* fault;  // what writing anyway would do
        void (*spoil)(const std::string& game, const Bytes& old);
        const char* named;
    } cases[] = {
        {"an edited archive: the delta would make garbage", [](const std::string& game, const Bytes& old) {
             Bytes edited = old;
             edited[500000] ^= 0xFF;
             WriteFileBytes(game + "\\data\\game.arc", edited);
         }, "data\\game.arc"},
        {"a shortened archive: copies would read past its end", [](const std::string& game, const Bytes& old) {
             WriteFileBytes(game + "\\data\\game.arc", Bytes(old.begin(), old.end() - 1));
         }, "data\\game.arc"},
        {"a deleted script: the delta has nothing to apply to", [](const std::string& game, const Bytes&) {
             PlatformDeleteFile((game + "\\script.dat").c_str());
         }, "script.dat"},
        {"a folder where the script was", [](const std::string& game, const Bytes&) {
             PlatformDeleteFile((game + "\\script.dat").c_str());
             PlatformCreateFolder((game + "\\script.dat").c_str());
         }, "script.dat"},
    };
    Bytes program = Patch();
    for (const Case& c : cases) {
        for (unsigned workers : {1u, 4u}) {
            MakeOldTree();
            c.spoil(game_, oldArchive_);
            TreeSnapshot before = SnapshotTree(game_);
            SetExtractWorkers(workers);
            EXPECT_EQ(kPackageSourceMismatch, WalkProgram(program)) << c.fault;
            EXPECT_STREQ(c.named, LastFailedEntry()) << c.fault;
            EXPECT_TRUE(SnapshotTree(game_) == before) << c.fault;
            EXPECT_FALSE(Exists(game_ + "\\追加")) << c.fault;
            EXPECT_FALSE(Exists(game_ + "\\" + kStagingFolderName)) << c.fault;
        }
    }
}

// A delta that makes another file than its entry promises (here: a target
// hash of another file) is a damaged package: the files already staged are
// rolled back and the installed files stay.
TEST_F(DeltaWalkTest, ATargetOfAnotherHashRollsBack) {
    DeltaFields wrong = DeltaFieldsOf(oldArchive_, newArchive_);
    wrong.targetHash[7] ^= 1;
    for (unsigned workers : {1u, 4u}) {
        MakeOldTree();
        TreeSnapshot before = SnapshotTree(game_);
        SetExtractWorkers(workers);
        EXPECT_EQ(kPackageCorruptStream, WalkProgram(Patch(&wrong))) << workers;
        EXPECT_STREQ("data\\game.arc", LastFailedEntry());
        EXPECT_TRUE(SnapshotTree(game_) == before) << workers;
        EXPECT_FALSE(Exists(game_ + "\\" + kStagingFolderName)) << workers;
    }
}

// The start of the updater takes only the start-up files and passes over
// deltas, whatever they hold.
TEST_F(DeltaWalkTest, TheStartPassesOverDeltas) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR=x\r\n"));
    AppendDeltaEntry(&entries, "game.arc", DeltaFieldsOf(oldScript_, newScript_), ToBytes("not even a stream"));
    AppendFile(&entries, "insttscr.rct", ToBytes("picture"));
    ASSERT_EQ(kPackageOk, WalkProgram(MakeProgramFile({}, entries), kBootMode));
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct"}), ListTree(boot_.Path()));
}

// A walk with deltas that dies after any number of changes, and one cut off
// by a power failure, recovers to the released game or the updated one.
TEST_F(DeltaWalkTest, DeathOrPowerCutAtAnyPointLeavesTheOldOrTheNewGame) {
    TreeSnapshot oldTree = SnapshotTree(game_);
    Bytes program = Patch();
    ASSERT_EQ(kPackageOk, WalkProgram(program));
    TreeSnapshot newTree = SnapshotTree(game_);
    ASSERT_TRUE(newTree == NewTree());
    for (int power = 0; power < 2; ++power) {
        int finished = -1, sawOld = 0, sawNew = 0;
        for (int k = 0; k < 300 && finished < 0; ++k) {
            MakeOldTree();
            if (power) PlatformWatchUnflushed(true);
            PlatformFailChangesAfter(k);
            if (WalkProgram(program) == kPackageOk) finished = k;
            PlatformFailChangesAfter(-1);
            if (power) PlatformCutPower(kLossZeroed);
            ASSERT_EQ(kPackageOk, RecoverStaging(game_.c_str())) << "after " << k << " changes, power " << power;
            TreeSnapshot recovered = SnapshotTree(game_);
            ASSERT_TRUE(recovered == oldTree || recovered == newTree) << "after " << k << " changes, power " << power;
            (recovered == oldTree ? sawOld : sawNew)++;
            // The next run applies the deltas onto whatever was recovered only when it is the released game.
            if (recovered == oldTree) {
                ASSERT_EQ(kPackageOk, WalkProgram(program)) << "the next run, after " << k;
                ASSERT_TRUE(SnapshotTree(game_) == newTree) << "the next run, after " << k;
            }
        }
        EXPECT_GT(finished, 10) << power;
        EXPECT_GT(sawOld, 0) << power;
        EXPECT_GT(sawNew, 0) << power;
    }
}

}  // namespace
