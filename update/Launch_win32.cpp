// The two launch operations: a program started by its quoted name, and a
// document opened with the shell's "open" verb. Neither waits or reports.
#include <windows.h>
#include <shellapi.h>

#include "services/TextCodec_win32.h"
#include "services/Window_win32.h"
#include "base/PathRules.h"
#include "update/UpdateDialogs.h"

namespace {

// The quoted command line shares the program's path limit.
constexpr size_t kCommandBuffer = kMaxPath;

}  // namespace

int StartProgram(const char* name) {
    char command[kCommandBuffer];
    // A cut name would start some other program; refuse instead.
    if (!CopyText(command, sizeof(command), "\"") || !AppendText(command, sizeof(command), name) ||
        !AppendText(command, sizeof(command), "\""))
        return 0;
    wchar_t wide[kCommandBuffer];
    if (!SjisToWide(command, wide, kCommandBuffer)) return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.wShowWindow = SW_SHOWDEFAULT;  // not applied: dwFlags stays 0
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, wide, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

void OpenDocument(const char* name) {
    wchar_t file[kMaxPath];
    if (!SjisToWide(name, file, kMaxPath)) return;
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    request.fMask = 0;
    request.hwnd = OwnerWindow();
    request.lpVerb = L"open";
    request.lpFile = file;
    request.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&request);
}
