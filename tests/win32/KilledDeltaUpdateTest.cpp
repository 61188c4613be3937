// The real updater killed at a spread of points of a patch with delta
// entries, as a crash or a power cut ends it: once the folder shows the point
// (the staging journal's lines, the staged and set-aside files), the process
// is ended at once. The next run recovers before anything else; it carries a
// delta for an archive no game holds, so it then stops with the box that says
// so, having written nothing: the folder is then wholly the released game or
// wholly the updated one, every file's bytes and time, as the killed run's
// journal says ("C" on the disk or not). No race with the run decides what
// is seen.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package/PackageFormat.h"
#include "resources/resource.h"
#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

constexpr uint64_t kReleasedTime = 130000000000000000ULL;
// Files the patch replaces whole besides the deltas: enough moves that the
// commit is seen half done.
constexpr int kReplacedFiles = 16;
// The archive a delta applies to: large enough that checking and applying
// it take a while, small enough to keep the run short.
constexpr size_t kArchiveBytes = 4u << 20;
constexpr size_t kScriptBytes = 90000;

// What the staging folder shows at one moment.
struct Look {
    bool journalExists = false;
    std::string journal;
    int stagedFiles = 0;  // NNNNNNNN.new
    int asideFiles = 0;   // NNNNNNNN.old
};

bool Has(const Look& look, const char* line) { return look.journal.find(line) != std::string::npos; }

// Reads without a share mode the updater's deletes and moves would trip on.
bool ReadShared(const std::wstring& path, std::string* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0) text->append(block, got);
    CloseHandle(file);
    return true;
}

Look LookAt(const std::string& staging) {
    Look look;
    std::wstring folder = Wide(staging.c_str());
    look.journalExists = ReadShared(folder + L"\\journal.txt", &look.journal);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return look;
    do {
        std::wstring name = data.cFileName;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, L".new") == 0) ++look.stagedFiles;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, L".old") == 0) ++look.asideFiles;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return look;
}

// The names whose bytes or time differ from expected, for the failure messages.
std::string Differences(const TreeSnapshot& tree, const TreeSnapshot& expected) {
    std::string names;
    for (const auto& e : expected) {
        auto found = tree.find(e.first);
        if (found == tree.end()) names += " " + e.first + " (missing)";
        else if (found->second.first != e.second.first) names += " " + e.first + " (bytes)";
        else if (found->second.second != e.second.second) names += " " + e.first + " (time)";
    }
    for (const auto& t : tree)
        if (expected.count(t.first) == 0) names += " " + t.first + " (stray)";
    return names;
}

// Where the killed run stood, for the failure messages.
std::string Describe(const Look& look) {
    if (!look.journalExists) return "no journal";
    int lines = 0;
    for (char c : look.journal) lines += c == '\n';
    return std::to_string(lines) + " journal lines" + (Has(look, "\nE\n") ? ", list ended" : "") +
           (Has(look, "\nC\n") ? ", moves done" : "") + ", " + std::to_string(look.stagedFiles) + " staged, " +
           std::to_string(look.asideFiles) + " set aside";
}

struct KillPoint {
    const char* fault;  // what the next run would get wrong if the journal's rule failed there
    bool (*reached)(const Look&);
};

// In the order a run passes them.
const KillPoint kKillPoints[] = {
    {"journal begun, the installed files being checked: an empty staging folder left for good",
     [](const Look& l) { return l.journalExists && !l.journal.empty(); }},
    {"a folder the walk made: left behind in the released game", [](const Look& l) { return Has(l, "\nD "); }},
    {"new files listed, being written in place: a partial new file left in the released game",
     [](const Look& l) { return Has(l, "\nN "); }},
    {"a delta applied into its staged name: a half-made archive taken for the new one",
     [](const Look& l) { return l.stagedFiles > 0; }},
    {"the list ended, moves beginning: an original left set aside", [](const Look& l) { return Has(l, "\nE\n"); }},
    {"a quarter of the originals set aside: new and old files mixed",
     [](const Look& l) { return l.asideFiles >= kReplacedFiles / 4; }},
    {"three quarters of the originals set aside: new and old files mixed",
     [](const Look& l) { return l.asideFiles >= kReplacedFiles * 3 / 4; }},
    {"every move done, originals being deleted: a committed update undone",
     [](const Look& l) { return Has(l, "\nC\n"); }},
};

class KilledDeltaUpdateTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey(kTestGameKey);
        oldArchive_ = RandomBytes(kArchiveBytes, 31);
        newArchive_ = oldArchive_;
        Bytes asset = RandomBytes(50000, 32);
        newArchive_.insert(newArchive_.begin() + kArchiveBytes / 2, asset.begin(), asset.end());
        oldScript_ = RandomBytes(kScriptBytes, 33);
        newScript_ = oldScript_;
        newScript_[kScriptBytes / 3] ^= 0x11;
        ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
        settings_ = GameSettings("Flow", "差分");
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    std::string Replaced(int i) { return "data\\s" + std::to_string(i) + ".dat"; }
    void Put(const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(WriteFileBytes(game_ / name, bytes));
        ASSERT_EQ(0, PlatformSetFileTime((game_ / name).c_str(), kReleasedTime));
    }
    // The released game: the files the deltas apply to, files replaced
    // whole, and the player's save.
    void MakeOldTree() {
        RemoveTree(game_.Path());
        ASSERT_EQ(0, PlatformCreateFolder(game_.Path().c_str()));
        ASSERT_EQ(0, PlatformCreateFolder((game_ / "data").c_str()));
        Put("data\\game.arc", oldArchive_);
        Put("script.dat", oldScript_);
        for (int i = 0; i < kReplacedFiles; ++i) Put(Replaced(i), ToBytes("old " + std::to_string(i)));
        Put("save.dat", ToBytes("player's save"));
    }
    // The patch: a delta first and last, files whole between them, and a new
    // folder with a new file in it.
    // sourceOf is the archive the delta says it applies to: the released one,
    // or for the probe that follows each kill one no game holds, so that the
    // run recovers, finds the archive is not that one and stops before it
    // writes anything, leaving the game as its recovery made it.
    Bytes Patch(const Bytes& sourceOf) {
        Bytes archiveDelta, scriptDelta;
        EXPECT_EQ(0, EncodeInMemory(oldArchive_, newArchive_, &archiveDelta));
        EXPECT_EQ(0, EncodeInMemory(oldScript_, newScript_, &scriptDelta));
        Bytes entries = StartupEntries(settings_);
        AppendDeltaEntry(&entries, "data\\game.arc", DeltaFieldsOf(sourceOf, newArchive_), Deflate(archiveDelta));
        for (int i = 0; i < kReplacedFiles; ++i) AppendFile(&entries, Replaced(i), ToBytes("new " + std::to_string(i)));
        AppendFolder(&entries, "追加\\");
        AppendFile(&entries, "追加\\c.dat", ToBytes("new c"));
        AppendDeltaEntry(&entries, "script.dat", DeltaFieldsOf(oldScript_, newScript_), Deflate(scriptDelta));
        return MakeProgramFile(image_, entries);
    }
    TreeSnapshot NewTree() {
        TreeSnapshot tree = SnapshotTree(game_.Path());
        tree["data\\game.arc"] = {newArchive_, kTestFileTime};
        tree["script.dat"] = {newScript_, kTestFileTime};
        for (int i = 0; i < kReplacedFiles; ++i) tree[Replaced(i)] = {ToBytes("new " + std::to_string(i)), kTestFileTime};
        tree["追加\\"] = {{}, 0};
        tree["追加\\c.dat"] = {ToBytes("new c"), kTestFileTime};
        // A Full walk writes the start-up files too.
        tree["install.env"] = {ToBytes(settings_), kTestFileTime};
        tree["insttscr.rct"] = {TinyPicture(), kTestFileTime};
        return tree;
    }
    std::string MismatchBox(const char* name) {
        char text[kMessageBuffer];
        snprintf(text, sizeof(text), kSourceMismatchMessage, name, kKeptAsItWas);
        return text;
    }
    void StartAndConfirm(const Bytes& program) {
        Start(program);
        ASSERT_NO_FATAL_FAILURE(Press(IDC_SLOT_FIRST + 1));  // Update, above Exit
        ASSERT_EQ(1u, Answer({IDYES}).size());
    }
    // The probe after a kill: its recovery, then the box naming the
    // archive, then nothing written. The game must be expected, with nothing
    // staged or set aside left.
    void ExpectRecoveredTo(const Bytes& probe, const TreeSnapshot& expected, const std::string& before) {
        ASSERT_NO_FATAL_FAILURE(StartAndConfirm(probe));
        std::vector<std::wstring> texts = Answer({IDOK});
        ASSERT_EQ(1u, texts.size()) << before;
        EXPECT_EQ(Wide(MismatchBox("data\\game.arc").c_str()), texts[0]) << before;
        EXPECT_EQ(-1, Finish()) << before;
        Look left = LookAt(game_ / kStagingFolderName);
        TreeSnapshot tree = SnapshotTree(game_.Path());
        for (auto it = tree.begin(); it != tree.end();)
            it = it->first.compare(0, strlen(kStagingFolderName), kStagingFolderName) == 0 ? tree.erase(it) : ++it;
        EXPECT_TRUE(tree == expected) << before << ": recovered to a mixed folder:" << Differences(tree, expected);
        EXPECT_EQ(0, left.stagedFiles + left.asideFiles) << "staged files outlived recovery, after " << before;
    }
    // Kills the update as soon as the folder shows the point; where it
    // actually stood once dead (the kill comes a little later).
    Look KillAt(const KillPoint& point, bool* reached) {
        std::string staging = game_ / kStagingFolderName;
        *reached = false;
        for (DWORD start = GetTickCount(); !*reached && GetTickCount() - start < kProcessTimeoutMs;) {
            *reached = point.reached(LookAt(staging));
            if (!*reached && WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) break;
        }
        Kill();
        return LookAt(staging);
    }

    std::string settings_;
    Bytes oldArchive_, newArchive_, oldScript_, newScript_;
    TempFolder game_;
};

TEST_F(KilledDeltaUpdateTest, AKillAnywhereEndsWhollyOldOrWhollyNewAfterTheNextRunsRecovery) {
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_.Path());
    TreeSnapshot newTree = NewTree();
    Bytes patch = Patch(oldArchive_);
    Bytes elsewhere = oldArchive_;
    elsewhere[0] ^= 1;
    Bytes probe = Patch(elsewhere);
    int endedOld = 0, endedNew = 0;
    for (const KillPoint& point : kKillPoints) {
        ASSERT_NO_FATAL_FAILURE(MakeOldTree());
        ASSERT_NO_FATAL_FAILURE(StartAndConfirm(patch));
        bool reached = false;
        Look dead = KillAt(point, &reached);
        ASSERT_TRUE(reached) << "the update ended before: " << point.fault;
        // "C" on the disk (or the journal gone once the commit is through)
        // is where the update comes to stand.
        bool committed = !dead.journalExists || Has(dead, "\nC\n");
        (committed ? endedNew : endedOld)++;
        std::string before = std::string(point.fault) + " (killed at: " + Describe(dead) + ")";
        printf("  killed: %s\n", before.c_str());
        ASSERT_NO_FATAL_FAILURE(ExpectRecoveredTo(probe, committed ? newTree : oldTree, before));
    }
    // A kill before the check is done cannot end new, nor one after "C" old.
    EXPECT_GT(endedOld, 0);
    EXPECT_GT(endedNew, 0);
    EXPECT_FALSE(Exists(game_ / kStagingFolderName));
}

}  // namespace
