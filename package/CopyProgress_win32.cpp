// Windows side of the copy progress: a modeless dialog from the template
// "COPYINGDELUX" with the copy animation, the name of the file being written,
// a bar for that file and one for the whole package, both counting 128 KiB
// units. The extraction drives it through a ProgressSink and keeps it alive
// with PumpMessages; Cancel stops only the animation.
//
// The window is open from before the walk until its commit is done, so it is
// also what holds off the end of the Windows session meanwhile: it gives the
// system a reason to show and answers "not now". A quit, or a session that
// ends anyway, rolls the walk back before the process ends; a commit never
// pumps messages, so one under way is always finished first.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "package/CopyProgress.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "resources/resource.h"
#include "services/Messages.h"
#include "services/TextCodec_win32.h"
#include "services/Window_win32.h"
#include "services/WorkingFolder.h"
#include "base/PathRules.h"

namespace {

// Both bars count in transfer blocks: one step per block written.
constexpr int64_t kProgressUnit = kTransferBlock;
// Bar ranges are 16-bit; package sizes below 2^31 stay under 16,384 units.
constexpr int64_t kMaxBarUnits = 0xFFFF;
// A destination path fits kMaxPath Shift-JIS bytes, so as many UTF-16 units.
constexpr size_t kPathChars = kMaxPath;
// ACM_PLAY: from the first frame to the last, over and over.
constexpr UINT kFirstFrame = 0;
constexpr UINT kLastFrame = 0xFFFF;
constexpr WPARAM kRepeatForever = static_cast<WPARAM>(-1);
// The whole WM_COMMAND parameter of a click on Cancel (id 2, notification 0).
constexpr WPARAM kCancelClicked = IDCANCEL;
// Room for the reason the system shows while the window holds off the session's end.
constexpr size_t kReasonChars = 128;
// The exit code when the session ended during the walk: the update did not happen.
constexpr int kSessionEndedCode = -1;

int64_t s_total = 0;
HWND s_window = nullptr;
HWND s_animation = nullptr;
bool s_controlsReady = false;

WPARAM BarUnits(int64_t bytes) {
    int64_t units = bytes / kProgressUnit;
    if (units < 0) units = 0;
    if (units > kMaxBarUnits) units = kMaxBarUnits;
    return static_cast<WPARAM>(units);
}

// The range message carries the minimum in the low word, the maximum in the high.
void SetBarRange(HWND window, int bar, WPARAM maximum) {
    SendDlgItemMessageW(window, bar, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
}

void SetBarPosition(HWND window, int bar, WPARAM position) {
    SendDlgItemMessageW(window, bar, PBM_SETPOS, position, 0);
}

void BeginFile(void*, const char* path, int32_t unpackedSize) {
    if (s_window == nullptr) return;
    wchar_t wide[kPathChars];
    SjisToWide(path, wide, kPathChars);
    SetDlgItemTextW(s_window, IDC_COPY_FILENAME, wide);
    SetBarRange(s_window, IDC_FILE_PROGRESS, BarUnits(unpackedSize));
    SetBarPosition(s_window, IDC_FILE_PROGRESS, 0);
}

void Report(void*, int64_t fileBytes, int64_t consumed) {
    if (s_window == nullptr) return;
    SetBarPosition(s_window, IDC_FILE_PROGRESS, BarUnits(fileBytes));
    SetBarPosition(s_window, IDC_TOTAL_PROGRESS, BarUnits(consumed));
}

// Each phase runs the overall bar from empty over its own total.
void BeginPhase(void*, ProgressPhase, int64_t total) {
    if (s_window == nullptr) return;
    WPARAM units = BarUnits(total);
    SetBarRange(s_window, IDC_TOTAL_PROGRESS, units < 1 ? 1 : units);
    SetBarPosition(s_window, IDC_TOTAL_PROGRESS, 0);
    SetBarPosition(s_window, IDC_FILE_PROGRESS, 0);
}

const ProgressSink s_sink = {BeginFile, Report, nullptr, BeginPhase};

void (*s_beforeQuit)() = nullptr;

// Ends the process during a walk, leaving the install folder as it was: the
// workers stop, the file the window thread itself was writing in a walk in
// order is closed (the process ends here, so no one uses a runtime file again),
// and the staging is rolled back. After a commit nothing is left to undo.
[[noreturn]] void EndDuringWalk(int code) {
    if (s_beforeQuit != nullptr) s_beforeQuit();
    _fcloseall();
    AbortStaging();
    EndProgram(code);
}

void HoldOffSessionEnd(HWND window) {
    wchar_t reason[kReasonChars];
    if (SjisToWide(kUpdateRunningReason, reason, kReasonChars)) ShutdownBlockReasonCreate(window, reason);
}

// The window sets itself up before CreateDialogParamW returns. instance, the
// creation parameter, is the module whose resources hold the template and so
// the clip.
void InitWindow(HWND window, HINSTANCE instance) {
    CenterOnScreen(window);
    SetDlgItemTextW(window, IDC_COPY_FILENAME, L"");
    SetBarRange(window, IDC_FILE_PROGRESS, 1);
    SetBarPosition(window, IDC_FILE_PROGRESS, 0);
    SetBarRange(window, IDC_TOTAL_PROGRESS, 1);
    SetBarPosition(window, IDC_TOTAL_PROGRESS, 0);
    s_animation = GetDlgItem(window, IDC_ANIMATE);
    SendMessageW(s_animation, ACM_OPEN, reinterpret_cast<WPARAM>(instance),
                 reinterpret_cast<LPARAM>(IDR_AVI_FILECOPY));
    SendMessageW(s_animation, ACM_PLAY, kRepeatForever, MAKELPARAM(kFirstFrame, kLastFrame));
    ShowWindow(s_animation, SW_SHOW);
}

INT_PTR CALLBACK CopyProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        InitWindow(window, reinterpret_cast<HINSTANCE>(lParam));
        return TRUE;
    }
    if (message == WM_COMMAND && wParam == kCancelClicked) SendMessageW(s_animation, ACM_STOP, 0, 0);
    if (message == WM_QUERYENDSESSION) {
        SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
        return TRUE;
    }
    // Once this returns the system may end the process at any moment.
    if (message == WM_ENDSESSION && wParam != FALSE) EndDuringWalk(kSessionEndedCode);
    return FALSE;
}

// The animation and progress classes exist only once the common controls
// library has registered them; ask for just those two, once.
void EnsureCommonControls() {
    if (s_controlsReady) return;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
    s_controlsReady = InitCommonControlsEx(&controls) != FALSE;
}

}  // namespace

const ProgressSink* OpenCopyProgress(int64_t total) {
    s_total = total;
    CloseCopyProgress();
    EnsureCommonControls();
    HWND owner = OwnerWindow();
    HINSTANCE instance = owner != nullptr
                             ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE))
                             : GetModuleHandleW(nullptr);
    HWND window = CreateDialogParamW(instance, IDD_COPYINGDELUX, owner, CopyProgressProc,
                                     reinterpret_cast<LPARAM>(instance));
    if (window == nullptr) {
        s_animation = nullptr;
        return nullptr;
    }
    s_window = window;
    HoldOffSessionEnd(window);
    PumpMessages();
    WPARAM units = BarUnits(s_total);
    SetBarRange(s_window, IDC_TOTAL_PROGRESS, units < 1 ? 1 : units);
    SetBarPosition(s_window, IDC_TOTAL_PROGRESS, 0);
    PumpMessages();
    return &s_sink;
}

int CloseCopyProgress() {
    if (s_window == nullptr) return 1;
    ShutdownBlockReasonDestroy(s_window);
    DestroyWindow(s_window);
    s_window = nullptr;
    s_animation = nullptr;
    PumpMessages();
    return 0;
}

void SetBeforeQuit(void (*handler)()) { s_beforeQuit = handler; }

int PumpMessages() {
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // A quit request during the walk ends the program once the walk is undone.
        if (message.message == WM_QUIT) EndDuringWalk(static_cast<int>(message.wParam));
        TranslateMessage(&message);
        DispatchMessageW(&message);
        ++count;
    }
    return count;
}
