// A game in a folder this account may not write: its Unix permissions taken
// away (chmod 555, started from Wine), which Wine enforces for a user without
// root's override of them. The updater asks to continue as administrator
// before it writes anything; Wine starts the "runas" process as the same user
// without a consent prompt, so the whole handshake runs here.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/PackageFormat.h"
#include "resources/resource.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "services/WorkingFolder.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/UpdaterProcess_win32.h"
#include "update/Elevation.h"
#include "update/Elevation_win32.h"
#include "update/HelperHandshake.h"

namespace {

constexpr const char* kElevateTitle = "管理者の権限が必要です";
// Large enough that the helper's progress window stays up to be seen.
constexpr size_t kHelperFileBytes = 96u << 20;
// How long the launched game lasts: long enough to be found among the processes.
constexpr const char* kGameScript = "@echo ran> launched.txt\r\n@ping -n 4 127.0.0.1 >nul\r\n";

// Sets the Unix permissions of folder and waits until Wine shows it read-only
// (no write permission) or not. False when that never shows.
bool SetUnixMode(const std::string& folder, const char* mode, bool readOnly) {
    std::wstring wide = Wide(folder.c_str());
    DWORD now = GetFileAttributesW(wide.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && ((now & FILE_ATTRIBUTE_READONLY) != 0) == readOnly) return true;
    std::string unixPath = UnixPath(folder);
    if (unixPath.empty() || !StartUnixShell("chmod " + std::string(mode) + " '" + unixPath + "'")) return false;
    for (DWORD waited = 0; waited < kProcessTimeoutMs; waited += kWindowPollMs, Sleep(kWindowPollMs)) {
        DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_READONLY) != 0) == readOnly)
            return true;
    }
    return false;
}

// The parent of processId and its program's file name, from a snapshot of
// the processes; parent 0 when it is not found.
DWORD ParentOf(DWORD processId, std::wstring* name = nullptr) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != processId) continue;
        parent = entry.th32ParentProcessID;
        if (name != nullptr) *name = entry.szExeFile;
    }
    CloseHandle(snapshot);
    return parent;
}

// The first process named name (no letter case) whose parent is parentId,
// looked for until timeoutMs; 0 when none showed.
DWORD WaitForChild(DWORD parentId, const wchar_t* name, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += kWindowPollMs, Sleep(kWindowPollMs)) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return 0;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        DWORD found = 0;
        for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
             more = Process32NextW(snapshot, &entry))
            if (entry.th32ParentProcessID == parentId && lstrcmpiW(entry.szExeFile, name) == 0)
                found = entry.th32ProcessID;
        CloseHandle(snapshot);
        if (found != 0) return found;
    }
    return 0;
}

class ElevationTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey(kTestGameKey);
        ASSERT_TRUE(WriteFileBytes(game_ / "game.dat", ToBytes("old")));
        ASSERT_EQ(0, PlatformCreateFolder((game_ / "data").c_str()));
        ASSERT_TRUE(WriteFileBytes(game_ / "data\\old.dat", ToBytes("stale")));
        ASSERT_EQ(0, RegisterGame("Elev", game_.Path()));
        before_ = SnapshotTree(game_.Path());
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    TempFolder game_;
    TempFolder ini_;
    TreeSnapshot before_;
};

// The game's folder refuses this account; skipped where Wine runs with
// root's override of permissions, which no folder refuses.
class UnwritableGameTest : public ElevationTest {
protected:
    void SetUp() override {
        ElevationTest::SetUp();
        ASSERT_TRUE(SetUnixMode(game_.Path(), "555", true)) << "the game folder could not be made read-only";
        std::wstring probe = Wide((game_ / "probe.tmp").c_str());
        HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            DeleteFileW(probe.c_str());
            // The test run promises a player's permissions; by hand, root may lack them.
            if (GetEnvironmentVariableW(L"UPDATER_PERMISSIONS_ENFORCED", nullptr, 0) != 0)
                FAIL() << "the game folder still takes writes after chmod 555: Wine runs with root's override of permissions";
            GTEST_SKIP() << "folder permissions are not enforced here (run without root's override of them)";
        }
    }
    void TearDown() override {
        SetUnixMode(game_.Path(), "755", false);
        ElevationTest::TearDown();
    }
    void StartUpdater() {
        std::string settings = GameSettings("Elev", "管理") + "EXENAME game.bat\r\nINI_FILE " + (ini_ / "game.ini") +
                               "\r\nINI_SECTION 表示\r\n[ini]\r\nパス=REP_INSTALL\r\n-\r\n"
                               "[reg]\r\n\"InstallDir\"=\"REP_INSTALL\"\r\n-\r\n"
                               "[delfiles_afterinst]\r\ndata\\old.dat\r\n-\r\n";
        Bytes entries = StartupEntries(settings);
        AppendFile(&entries, "game.dat", ToBytes("new"));
        AppendFile(&entries, "game.bat", ToBytes(kGameScript));
        AppendFile(&entries, "voice.arc", Bytes(kHelperFileBytes, 0));
        Start(MakeProgramFile(image_, entries));
    }
    // Presses Update, confirms the folder and waits for the administrator box.
    HWND ReachAdministratorBox() {
        Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
        if (Answer({IDYES}).size() != 1u) return nullptr;
        return WaitFor(kElevateTitle);
    }
    bool RegistryWritten() {
        char value[260];
        return RegReadString(kTestGameKey, "Elev", "InstallDir", "", value, sizeof(value)) == 0 &&
               game_.Path() == value;
    }
};

TEST_F(UnwritableGameTest, ContinuingAsAdministratorUpdatesThroughTheHelperAndTheRestStaysThePlayers) {
    StartUpdater();
    HWND box = ReachAdministratorBox();
    ASSERT_NE(nullptr, box);
    std::wstring text = WindowText(GetDlgItem(box, IDC_ELEVATE_TEXT));
    EXPECT_NE(std::wstring::npos, text.find(Wide(("「" + game_.Path() + "」").c_str()))) << "the folder is not named";
    EXPECT_EQ(Wide("管理者として続行"), WindowText(GetDlgItem(box, IDOK)));
    EXPECT_TRUE(SaveShot(box, L"administrator-box"));
    // Nothing was written before the box: no staging folder, no lock, the same bytes.
    EXPECT_TRUE(SnapshotTree(game_.Path()) == before_);
    EXPECT_FALSE(Exists(game_ / kStagingFolderName));
    ASSERT_TRUE(SetUnixMode(game_.Path(), "755", false));  // as the administrator may write it
    ClickButton(box, IDOK);

    // The helper is a second updater, started by the first, behind its own progress window.
    HWND progress = WaitForAnyWindow(Wide(kProgressTitle), kProcessTimeoutMs);
    ASSERT_NE(nullptr, progress);
    DWORD helper = 0;
    GetWindowThreadProcessId(progress, &helper);
    EXPECT_NE(process_.dwProcessId, helper);
    std::wstring helperName;
    EXPECT_EQ(process_.dwProcessId, ParentOf(helper, &helperName));
    EXPECT_EQ(L"更新.exe", helperName);
    EXPECT_FALSE(IsWindowEnabled(main_)) << "the first process's window takes input while the helper runs";

    // The finish dialog is the first process's.
    HWND finish = WaitFor(kFinishTitle);
    ASSERT_NE(nullptr, finish);
    EXPECT_TRUE(RegistryWritten());
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true));
    DWORD game = WaitForChild(process_.dwProcessId, L"cmd.exe", kProcessTimeoutMs);
    EXPECT_NE(0u, game) << "the game was not started by the first process";
    EXPECT_EQ(0, Finish());

    Bytes bytes;
    ASSERT_TRUE(ReadFileBytes(game_ / "game.dat", &bytes));
    EXPECT_EQ(ToBytes("new"), bytes);
    uint64_t time = 0;
    ASSERT_EQ(0, PlatformGetFileTime((game_ / "game.dat").c_str(), &time));
    EXPECT_EQ(kTestFileTime, time);
    EXPECT_TRUE(Exists(game_ / "voice.arc"));
    EXPECT_FALSE(Exists(game_ / "data"));  // the deletion, then the emptied folder
    EXPECT_FALSE(Exists(game_ / kStagingFolderName));
    ASSERT_TRUE(ReadFileBytes(ini_ / "game.ini", &bytes));
    std::string ini(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, ini.find("パス=" + game_.Path())) << ini;
    bool launched = false;
    for (int i = 0; i < 100 && !launched; ++i, Sleep(100)) launched = Exists(game_ / "launched.txt");
    EXPECT_TRUE(launched);
    EXPECT_TRUE(WorkingFolders().empty());
}

TEST_F(UnwritableGameTest, CancelInTheAdministratorBoxLeavesEverythingAsItWas) {
    StartUpdater();
    HWND box = ReachAdministratorBox();
    ASSERT_NE(nullptr, box);
    ClickButton(box, IDCANCEL);
    EXPECT_EQ(-1, Finish());
    ASSERT_TRUE(SetUnixMode(game_.Path(), "755", false));
    EXPECT_TRUE(SnapshotTree(game_.Path()) == before_);
    EXPECT_FALSE(Exists(ini_ / "game.ini"));
    EXPECT_FALSE(RegistryWritten());
    EXPECT_TRUE(WorkingFolders().empty());
}

// The updater started with the helper's arguments by anyone but its parent:
// it ends at once with its refusal, touching nothing, not even a working folder.
TEST_F(ElevationTest, AHelperCommandLineWithoutItsParentsBlockTouchesNothing) {
    std::string chosen = game_.Path();
    std::string other = ini_.Path();
    HelperRequest request;
    request.parentId = GetCurrentProcessId();
    for (size_t i = 0; i < kNonceBytes; ++i) request.nonce[i] = static_cast<uint8_t>(i * 37 + 1);
    std::wstring wideChosen = Wide(chosen.c_str()), wideOther = Wide(other.c_str());
    request.folder = reinterpret_cast<const char16_t*>(wideChosen.c_str());
    HandshakeBlock block;
    block.parentId = request.parentId;
    memcpy(block.nonce, request.nonce, kNonceBytes);
    block.installFolder = reinterpret_cast<const char16_t*>(wideOther.c_str());
    block.workingFolder = block.installFolder;
    std::u16string name = HandshakeMappingName(request.parentId, request.nonce);
    std::u16string arguments = FormatHelperArguments(request);
    Bytes entries = StartupEntries(GameSettings("Elev", "管理"));
    AppendFile(&entries, "game.dat", ToBytes("new"));
    Bytes program = MakeProgramFile(image_, entries);
    struct Case {
        const char* fault;
        bool block;  // a block of that name, naming another folder
    } cases[] = {
        {"a helper command line without any block taken", false},
        {"a folder other than the block's taken", true},
    };
    for (const Case& c : cases) {
        HANDLE mapping = nullptr;
        if (c.block) {
            mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kHandshakeBlockSize,
                                         reinterpret_cast<const wchar_t*>(name.c_str()));
            ASSERT_NE(nullptr, mapping);
            void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kHandshakeBlockSize);
            ASSERT_NE(nullptr, view);
            ASSERT_NE(0u, WriteHandshakeBlock(block, static_cast<uint8_t*>(view), kHandshakeBlockSize));
            UnmapViewOfFile(view);
        }
        std::wstring exe = Wide((programs_ / "更新.exe").c_str());
        ASSERT_NO_FATAL_FAILURE(
            StartAt(exe, program, nullptr, reinterpret_cast<const wchar_t*>(arguments.c_str())));
        EXPECT_EQ(kHelperExitRefused, Finish()) << c.fault;
        if (mapping != nullptr) CloseHandle(mapping);
        EXPECT_TRUE(SnapshotTree(game_.Path()) == before_) << c.fault;
        EXPECT_TRUE(ListFolder(other).empty()) << c.fault;
        EXPECT_TRUE(WorkingFolders().empty()) << c.fault;
    }
}

// A refused elevation (the player's No at the consent prompt) starts nothing;
// the first process then shows the write failure as before (tested natively).
TEST_F(ElevationTest, ARefusedElevationStartsNoHelper) {
    CurrentFolderGuard cwd;
    ASSERT_EQ(0, CreateWorkingFolder());  // the block names it; without one nothing would be tried
    SimulateRefusedElevation(true);
    EXPECT_EQ(kHelperNotStarted, RunElevatedHelper(game_.Path().c_str()));
    SimulateRefusedElevation(false);
    RemoveWorkingFolder();
    EXPECT_EQ(0u, WaitForChild(GetCurrentProcessId(), L"win32_tests.exe", kWindowPollMs * 4));
    EXPECT_TRUE(SnapshotTree(game_.Path()) == before_);
}

}  // namespace
