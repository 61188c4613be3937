// Continuing as administrator on Windows: the box, the elevated start of the
// program's own file through the shell's "runas" verb, the wait that keeps
// the first process's windows painted, and the shared block of the handshake
// (update/HelperHandshake.h) on both sides.
#include <windows.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "resources/resource.h"
#include "services/Messages.h"
#include "services/TextCodec_win32.h"
#include "services/WorkingFolder.h"
#include "services/Window_win32.h"
#include "update/Elevation.h"
#include "update/Elevation_win32.h"

namespace {

// The program's own file may lie under a folder of any length.
constexpr DWORD kModulePathBuffer = 32768;
// The administrator box's text: the message with a 259-byte folder in it.
constexpr size_t kBoxTextBuffer = 1024;

bool s_refuseElevation = false;
const char* s_boxFolder = nullptr;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The UTF-16 the system functions take, seen as the portable unit's text.
std::u16string ToU16(const wchar_t* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }
const wchar_t* AsWide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

INT_PTR CALLBACK ElevateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        char text[kBoxTextBuffer];
        snprintf(text, sizeof(text), kNeedsAdministratorMessage, s_boxFolder);
        wchar_t wide[kWideTextBuffer];
        if (SjisToWide(text, wide, kWideTextBuffer)) SetDlgItemTextW(dialog, IDC_ELEVATE_TEXT, wide);
        SendDlgItemMessageW(dialog, IDOK, BCM_SETSHIELD, 0, TRUE);
        CenterOnScreen(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// Waits for process while this thread's windows go on being painted and
// answered; a quit message met meanwhile is posted again afterwards.
void WaitPumping(HANDLE process) {
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // A failed wait still waits: the helper must not write after this process goes on.
    WaitForSingleObject(process, INFINITE);
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

// Makes the shared block for request, holding the folders. Null when it
// cannot be made or its name is taken already.
HANDLE MakeSharedBlock(const HelperRequest& request, const std::u16string& workingFolder) {
    HandshakeBlock block;
    block.parentId = request.parentId;
    memcpy(block.nonce, request.nonce, kNonceBytes);
    block.installFolder = request.folder;
    block.workingFolder = workingFolder;
    std::u16string name = HandshakeMappingName(request.parentId, request.nonce);
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kHandshakeBlockSize, AsWide(name));
    if (mapping == nullptr) return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        return nullptr;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kHandshakeBlockSize);
    size_t written = view != nullptr ? WriteHandshakeBlock(block, static_cast<uint8_t*>(view), kHandshakeBlockSize) : 0;
    if (view != nullptr) UnmapViewOfFile(view);
    if (written == 0) {
        CloseHandle(mapping);
        return nullptr;
    }
    return mapping;
}

// Starts the program's own file elevated with arguments; null when the
// system or the player refused.
HANDLE StartElevated(const std::u16string& arguments) {
    static wchar_t program[kModulePathBuffer];
    DWORD length = GetModuleFileNameW(nullptr, program, kModulePathBuffer);
    if (length == 0 || length >= kModulePathBuffer) return nullptr;
    if (s_refuseElevation) {
        SetLastError(ERROR_CANCELLED);
        return nullptr;
    }
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    // No shell box of its own: a refusal gets the updater's box.
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    request.hwnd = OwnerWindow();
    request.lpVerb = L"runas";
    request.lpFile = program;
    request.lpParameters = AsWide(arguments);
    request.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&request)) return nullptr;
    return request.hProcess;
}

}  // namespace

void SimulateRefusedElevation(bool on) { s_refuseElevation = on; }

bool AskContinueAsAdministrator(const char* folder) {
    HWND owner = OwnerWindow();
    HINSTANCE instance = owner != nullptr
                             ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE))
                             : GetModuleHandleW(nullptr);
    s_boxFolder = folder;
    INT_PTR answer = DialogBoxParamW(instance, IDD_ELEVATE, owner, ElevateDialogProc, 0);
    s_boxFolder = nullptr;
    return answer == IDOK;
}

HelperOutcome RunElevatedHelper(const char* folder) {
    HelperRequest request;
    request.parentId = GetCurrentProcessId();
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, request.nonce, kNonceBytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return kHelperNotStarted;
    wchar_t wideFolder[kWideTextBuffer], wideWorking[kWideTextBuffer];
    if (!SjisToWide(folder, wideFolder, kWideTextBuffer) ||
        !SjisToWide(WorkingFolderPath(), wideWorking, kWideTextBuffer))
        return kHelperNotStarted;
    request.folder = ToU16(wideFolder);
    Handle mapping(MakeSharedBlock(request, ToU16(wideWorking)));
    if (mapping == nullptr) return kHelperNotStarted;
    Handle process(StartElevated(FormatHelperArguments(request)));
    if (process == nullptr) return kHelperNotStarted;
    HWND owner = OwnerWindow();
    if (owner != nullptr) EnableWindow(owner, FALSE);
    WaitPumping(process.get());
    if (owner != nullptr) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    DWORD code = kHelperExitFailed;
    if (!GetExitCodeProcess(process.get(), &code)) code = kHelperExitFailed;
    if (code == kHelperExitDone) return kHelperFinished;
    // A helper that refused the handshake touched nothing: as a refused elevation.
    if (code == kHelperExitRefused) return kHelperNotStarted;
    return kHelperFailedTold;
}

HelperCommand ReadHelperHandshake(char* installFolder, char* workingFolder, size_t capacity) {
    HelperRequest request;
    HelperCommand command = ParseHelperCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()), &request);
    if (command != kHelperAsked) return command;
    std::u16string name = HandshakeMappingName(request.parentId, request.nonce);
    Handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, AsWide(name)));
    if (mapping == nullptr) return kHelperMalformed;
    const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, kHandshakeBlockSize);
    if (view == nullptr) return kHelperMalformed;
    HandshakeBlock block;
    bool read = ReadHandshakeBlock(static_cast<const uint8_t*>(view), kHandshakeBlockSize, &block);
    UnmapViewOfFile(view);
    if (!read || !AcceptHelperRequest(request, block)) return kHelperMalformed;
    if (!WideToSjis(AsWide(block.installFolder), installFolder, capacity) ||
        !WideToSjis(AsWide(block.workingFolder), workingFolder, capacity))
        return kHelperMalformed;
    return kHelperAsked;
}
