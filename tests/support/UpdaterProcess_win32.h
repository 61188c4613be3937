// The kit of the end-to-end tests: the updater started as a process on a
// package built by the test, and driven from outside window by window, as a
// player drives it. A whole update found through the registry:
//
//   TEST_F(UpdaterProcessTest, GameDataIsReplaced) {
//       TempFolder game;
//       ASSERT_EQ(0, RegisterGame("Flow", game.Path()));
//       Bytes entries = StartupEntries(GameSettings("Flow", "テスト"));
//       AppendFile(&entries, "game.dat", ToBytes("new"));
//       Start(MakeProgramFile(image_, entries));
//       Press(IDC_SLOT_FIRST + 1);                  // Update, above Exit
//       ASSERT_EQ(1u, Answer({IDYES}).size());      // the confirmation
//       ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(false));
//       EXPECT_EQ(0, Finish());
//   }
//
// Every wait is bounded by kProcessTimeoutMs. A helper that cannot go on
// fails the test fatally and returns; a caller that must stop there too
// wraps it in ASSERT_NO_FATAL_FAILURE.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "services/Platform.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

inline constexpr DWORD kProcessTimeoutMs = 30000;
// Tries to start the updater, and the pause between them.
inline constexpr int kStartAttempts = 3;
inline constexpr DWORD kStartPauseMs = 500;
// How often something awaited (a process, a window, a painted pixel) is looked for.
inline constexpr DWORD kWindowPollMs = 50;
// The pause between looks at a file the updater is writing, to catch a moment
// of its walk. Short, as the moment may not last; not none, as looks without
// pause keep the processor and Wine's server from the updater they watch.
inline constexpr DWORD kFilePollMs = 1;

// The updater's windows, by a part of their titles (Shift-JIS).
inline constexpr const char* kMainWindowTitle = "アップデータ";
inline constexpr const char* kSetupTitle = "アップデート先のフォルダの指定";
inline constexpr const char* kProgressTitle = "ファイルのコピー中";
inline constexpr const char* kFinishTitle = "インストール終了";
// The registry key the tests' games are installed under (HKCU\Software\...).
inline constexpr const char* kTestGameKey = "VornelUpdaterTest";

// A 64 x 64 background picture of one colour: the first pixel, then one long
// copy of the pixel before for the other 4095.
Bytes TinyPicture();
// A side x side picture of one colour, in the updater's picture format.
Bytes SquarePicture(int side, COLORREF colour);
// install.env with settings, then the picture (TinyPicture when none is
// given): the start-up entries a test appends its game files to.
Bytes StartupEntries(const std::string& settings, const Bytes& picture = TinyPicture());
// Settings naming the game's registry key (kTestGameKey\local) and the title.
std::string GameSettings(const std::string& local, const std::string& title);
// Records the game as installed at folder under kTestGameKey\local, as its
// installer does; 0 when both values were written.
int RegisterGame(const std::string& local, const std::string& folder);

// Path of a file beside the test program (Shift-JIS).
std::string BesideTests(const char* name);
// The Unix path of a file, by Wine's own conversion; empty when there is none.
std::string UnixPath(const std::string& sjis);
// The updater program's bytes (an expectation fails when it is missing).
Bytes UpdaterImage();
// Starts "/bin/sh -c SCRIPT" (no double quotes in script) as a Unix program,
// which Wine starts detached; false when it cannot be started.
bool StartUnixShell(const std::string& script);

// The colour the screen shows at a point of window's client area.
COLORREF ClientPixel(HWND window, int x, int y);
// A square of colour, side pixels wide, painted at (at, at) of window's
// client area: its top-left corner within a few seconds, then its other
// corners and just outside them. The bottom-right corner may lie under
// the buttons and is not looked at.
void ExpectSquarePainted(HWND window, int at, int side, COLORREF colour);
// The next visible dialog of processId that is none of known, as a dialog
// opens another (the folder browser over SETUP); null on timeout.
HWND WaitForOtherDialog(DWORD processId, const std::vector<HWND>& known, DWORD timeoutMs);

// Gives the updater's working folder a temporary folder of its own, and
// starts and drives the updater.
class UpdaterProcessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the updater from these file bytes, saved under name.
    void Start(const Bytes& programFile, const char* name = "更新.exe");
    // Starts the updater from these file bytes, saved at exe, with folder as
    // its current folder (none: this program's) and arguments after its name.
    void StartAt(const std::wstring& exe, const Bytes& programFile, const wchar_t* folder = nullptr,
                 const wchar_t* arguments = nullptr);
    // Waits for the updater to end (killing it after kProcessTimeoutMs) and
    // returns its exit code.
    int Finish();
    // Starts the updater, presses Update and confirms; the progress window
    // once it shows, or null.
    HWND BeginUpdate(const Bytes& programFile);
    // Waits for the run to end, pressing OK on the finish dialog if one
    // shows, and returns its exit code.
    int EndOfRun();
    // Ends the updater at once, as a crash or a power cut ends it, and waits
    // until it is gone: nothing of it runs after this returns.
    void Kill();
    // Stops every thread of the updater where it is (stop true), or lets
    // them go on. Stopping is asynchronous: a thread may take a moment.
    void Suspend(bool stop);
    // The updater's working folders in its temporary folder.
    std::vector<std::string> WorkingFolders();
    // The updater's dialog whose title contains title, or null after timeoutMs.
    HWND WaitFor(const char* title, DWORD timeoutMs = kProcessTimeoutMs);
    // Waits for the main window (kept in main_) and presses its button id.
    void Press(int id);
    // Answers the next boxes in turn and returns their texts; except is a
    // dialog that is never taken for a box (the main window by default).
    std::vector<std::wstring> Answer(const std::vector<int>& answers, HWND except = nullptr);
    // Types folder into SETUP, once it is up, and presses Next; returns once
    // the dialog is gone.
    void ChooseFolder(const std::wstring& folder);
    // Closes the finish dialog, once it is up, with OK; startGame false
    // clears its run-the-game box first.
    void CloseFinishDialog(bool startGame);
    // Exactly one working folder is left, holding exactly these files.
    void ExpectWorkingFolderLeftWith(const std::vector<std::string>& files);

    Bytes image_;
    TempFolder temp_;
    TempFolder programs_;
    TempPathOverride* tempPath_ = nullptr;
    PROCESS_INFORMATION process_{};
    HWND main_ = nullptr;
};
