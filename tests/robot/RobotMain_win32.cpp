// robot.exe: starts a program, waits for its box, reports what it shows,
// holds it long enough for a screenshot, then presses a button.
//
//   robot.exe run PROGRAM --answer ID --hold MS --report FILE
//
// The report (UTF-8) has the box's caption and text; the exit code is the
// program's.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/robot/Robot_win32.h"

namespace {

constexpr DWORD kWaitMs = 60000;

void WriteUtf8(FILE* f, const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    fputs(out.c_str(), f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || wcscmp(argv[1], L"run") != 0) {
        fwprintf(stderr, L"usage: robot run PROGRAM --answer ID --hold MS --report FILE\n");
        return 2;
    }
    std::wstring program = argv[2];
    int answer = IDOK;
    DWORD hold = 0;
    std::wstring report;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (wcscmp(argv[i], L"--answer") == 0) answer = _wtoi(argv[i + 1]);
        else if (wcscmp(argv[i], L"--hold") == 0) hold = static_cast<DWORD>(_wtoi(argv[i + 1]));
        else if (wcscmp(argv[i], L"--report") == 0) report = argv[i + 1];
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + program + L"\"";
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fwprintf(stderr, L"cannot start the program\n");
        return 2;
    }
    HWND box = WaitForDialog(pi.dwProcessId, L"", kWaitMs);
    if (box != nullptr) {
        FILE* f = report.empty() ? stdout : _wfopen(report.c_str(), L"wb");
        if (f != nullptr) {
            fputs("caption: ", f);
            WriteUtf8(f, WindowText(box));
            fputs("\ntext: ", f);
            WriteUtf8(f, MessageBoxText(box));
            fputs("\n", f);
            if (f != stdout) fclose(f);
        }
        Sleep(hold);
        ClickButton(box, answer);
    }
    WaitForSingleObject(pi.hProcess, kWaitMs);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}
