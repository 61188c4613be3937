// The updater interrupted from outside while it updates a game, as a player's
// system interrupts it: a quit message, a close, the end of the Windows
// session, and a second updater at the same folder. The game folder ends
// wholly old or wholly new with nothing stray (no staging folder, no partly
// written file, no working folder), and the next run updates it cleanly.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/StagingLock.h"
#include "resources/resource.h"
#include "services/Platform.h"
#include "services/PlatformHold.h"
#include "services/Registry.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

// Files the update replaces: enough that its commit takes long enough to be caught.
constexpr int kReplacedFiles = 300;
// A new file of zeros, written in place: it keeps the walk going long enough
// to be interrupted half-way, where it is partly written.
constexpr size_t kLargeFileBytes = 32u << 20;
constexpr uint64_t kOldTime = 130000000000000000ULL;
constexpr int kQuitCode = 5;
constexpr int kAnyCode = 0x7FFFFFFF;

enum Moment {
    kAsTheWalkStarts,  // the progress window has just appeared
    kMidWalk,          // the large file is partly written
    kInTheCommit,      // the journal's list is whole: files are being moved
};
enum Interruption { kQuit, kClose, kSessionEnd };

class InterruptedUpdateTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey("VornelUpdaterTest");
        RegWriteString("VornelUpdaterTest", "Flow", "IsInst", "1");
        RegWriteString("VornelUpdaterTest", "Flow", "InstTo", game_.Path().c_str());
    }
    void TearDown() override {
        DeleteGlobalKey("VornelUpdaterTest");
        UpdaterProcessTest::TearDown();
    }
    void MakeOldTree(int files = kReplacedFiles) {
        RemoveTree(game_.Path());
        PlatformCreateFolder(game_.Path().c_str());
        PlatformCreateFolder((game_ / "data").c_str());
        for (int i = 0; i < files; ++i) {
            std::string path = game_ / ("data\\old" + std::to_string(i) + ".dat");
            WriteFileBytes(path, ToBytes("old"));
            PlatformSetFileTime(path.c_str(), kOldTime);
        }
    }
    Bytes Program(size_t largeBytes, int files = kReplacedFiles) {
        Bytes entries;
        AppendFile(&entries, "install.env",
                   ToBytes("REG_GLOBAL VornelUpdaterTest\r\nREG_LOCAL Flow\r\nTITLEBAR テスト\r\n"));
        AppendFile(&entries, "insttscr.rct", TinyPicture());
        if (largeBytes != 0) AppendFile(&entries, "voice.arc", Bytes(largeBytes, 0));
        AppendFolder(&entries, "data\\");
        for (int i = 0; i < files; ++i)
            AppendFile(&entries, "data\\old" + std::to_string(i) + ".dat", ToBytes("new " + std::to_string(i)));
        return MakeProgramFile(image_, entries);
    }
    // The tree the program makes of the old one, walked here.
    TreeSnapshot NewTree(const Bytes& program) {
        MakeOldTree();
        std::string saved = programs_ / "patch.exe";
        EXPECT_TRUE(WriteFileBytes(saved, program));
        PackageStream stream;
        EXPECT_EQ(kPackageOk, OpenPackageStream(saved.c_str(), &stream));
        EXPECT_EQ(kPackageOk, WalkPackage(&stream, game_.Path().c_str(), kFullMode, nullptr));
        ClosePackageStream(&stream);
        return SnapshotTree(game_.Path());
    }
    std::string FirstDataFile() {
        Bytes b;
        ReadFileBytes(game_ / "data\\old0.dat", &b);
        return std::string(b.begin(), b.end());
    }
    bool WaitFor(Moment moment) {
        std::string large = game_ / "voice.arc";
        std::string journal = game_ / (std::string(kStagingFolderName) + "\\journal.txt");
        for (DWORD start = GetTickCount(); GetTickCount() - start < kProcessTimeoutMs;) {
            if (moment == kAsTheWalkStarts) return true;
            if (moment == kMidWalk) {
                WIN32_FILE_ATTRIBUTE_DATA data;
                if (GetFileAttributesExW(Wide(large.c_str()).c_str(), GetFileExInfoStandard, &data) &&
                    data.nFileSizeLow >= kLargeFileBytes / 4)
                    return true;
            } else {
                Bytes b;
                if (ReadFileBytes(journal, &b) && std::string(b.begin(), b.end()).find("\nE\n") != std::string::npos)
                    return true;
            }
            if (WaitForSingleObject(process_.hProcess, kFilePollMs) == WAIT_OBJECT_0) return false;
        }
        return false;
    }
    // Nothing of the interrupted run is left beside the game or in the temporary folder.
    void ExpectNothingStray(const char* what) {
        EXPECT_FALSE(Exists(game_ / kStagingFolderName)) << what;
        EXPECT_TRUE(WorkingFolders().empty()) << what;
    }
    TempFolder game_;
};

struct Point {
    const char* what;
    Moment moment;
    Interruption interruption;
    bool endsNew;  // else wholly old
    int code;      // the updater's exit code
};

// A quit or a session end during the walk rolls it back; during the commit it
// is met only once the commit is done. A close does not stop an update.
const Point kPoints[] = {
    {"quit during the commit", kInTheCommit, kQuit, true, kQuitCode},
    {"session end during the commit", kInTheCommit, kSessionEnd, true, kAnyCode},
    {"close with a new file half written", kMidWalk, kClose, true, 0},
    {"quit as the walk starts", kAsTheWalkStarts, kQuit, false, kQuitCode},
    {"session end as the walk starts", kAsTheWalkStarts, kSessionEnd, false, -1},
    {"quit with a new file half written", kMidWalk, kQuit, false, kQuitCode},
    {"session end with a new file half written", kMidWalk, kSessionEnd, false, -1},
};

TEST_F(InterruptedUpdateTest, QuitCloseAndSessionEndLeaveTheGameWhollyOldOrWhollyNew) {
    Bytes program = Program(kLargeFileBytes);
    TreeSnapshot newTree = NewTree(program);
    MakeOldTree();
    TreeSnapshot oldTree = SnapshotTree(game_.Path());
    ASSERT_NE(oldTree, newTree);
    for (const Point& p : kPoints) {
        MakeOldTree();
        HWND progress = BeginUpdate(program);
        ASSERT_NE(nullptr, progress) << p.what;
        ASSERT_TRUE(WaitFor(p.moment)) << "the update ended before " << p.what;
        if (p.interruption == kQuit) {
            PostThreadMessageW(process_.dwThreadId, WM_QUIT, kQuitCode, 0);
        } else if (p.interruption == kClose) {
            PostMessageW(progress, WM_CLOSE, 0, 0);
            PostMessageW(main_, WM_CLOSE, 0, 0);
        } else {
            DWORD_PTR answer = TRUE;
            LRESULT sent = SendMessageTimeoutW(progress, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                               kProcessTimeoutMs, &answer);
            // During the commit it is met only after it, when the window may be gone.
            if (p.moment != kInTheCommit) {
                EXPECT_NE(0, sent) << p.what;
                EXPECT_EQ(static_cast<DWORD_PTR>(FALSE), answer) << "the session's end is held off, " << p.what;
            }
            SendMessageTimeoutW(progress, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, kProcessTimeoutMs,
                                &answer);
        }
        int code = EndOfRun();
        if (p.code != kAnyCode) {
            EXPECT_EQ(p.code, code) << p.what;
        }
        TreeSnapshot after = SnapshotTree(game_.Path());
        EXPECT_TRUE(after == (p.endsNew ? newTree : oldTree))
            << p.what << ": " << (after == oldTree ? "wholly old" : after == newTree ? "wholly new" : "mixed");
        ExpectNothingStray(p.what);
    }
    // The next run after a rolled-back one starts clean and updates the game.
    ASSERT_TRUE(SnapshotTree(game_.Path()) == oldTree) << "the last point leaves the game as it was";
    BeginUpdate(program);
    EXPECT_EQ(0, EndOfRun());
    EXPECT_TRUE(SnapshotTree(game_.Path()) == newTree) << "the next run";
    ExpectNothingStray("the next run");
}

// Another updater of the same game (here: its hold on the staging folder, and
// the new file it is writing) is never disturbed: the box says so, Cancel ends
// with the folder as it was, Retry once it is done updates.
TEST_F(InterruptedUpdateTest, AnotherUpdaterAtTheSameFolderIsWaitedFor) {
    Bytes program = Program(0, 1);
    std::string staging = game_ / kStagingFolderName;
    for (int answer : {IDCANCEL, IDRETRY}) {
        MakeOldTree(1);
        ASSERT_EQ(0, PlatformCreateFolder(staging.c_str()));
        ASSERT_TRUE(WriteFileBytes(staging + "\\journal.txt", ToBytes("VORNEL staging journal 1\nN other.dat\n")));
        ASSERT_TRUE(WriteFileBytes(game_ / "other.dat", ToBytes("being written")));
        PlatformHold* other = nullptr;
        ASSERT_EQ(kHoldTaken, PlatformHoldFile((staging + "\\" + kStagingLockName).c_str(), &other));
        TreeSnapshot live = SnapshotTree(game_.Path());

        Start(program);
        Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
        ASSERT_EQ(1u, Answer({IDYES}).size()) << answer;
        HWND box = WaitForBox(process_.dwProcessId, main_, kProcessTimeoutMs);
        ASSERT_NE(nullptr, box) << answer;
        EXPECT_EQ(0u, MessageBoxText(box).find(
                          Wide(("ゲームのフォルダ「" + game_.Path() + "」は、別のアップデータが更新中です。").c_str())))
            << answer;
        EXPECT_TRUE(SnapshotTree(game_.Path()) == live) << answer;

        // The other updater ends its run.
        PlatformReleaseHold(other);
        PlatformDeleteFile((game_ / "other.dat").c_str());
        PlatformDeleteFile((staging + "\\journal.txt").c_str());
        PlatformRemoveFolder(staging.c_str());
        ClickButton(box, answer);
        EXPECT_EQ(answer == IDCANCEL ? -1 : 0, EndOfRun());
        EXPECT_EQ(answer == IDCANCEL ? "old" : "new 0", FirstDataFile());
        ExpectNothingStray(answer == IDCANCEL ? "cancelled" : "retried");
    }
}

}  // namespace
