// robot.exe: starts a program and answers its boxes and dialogs as a person
// would, reporting what each showed and holding each long enough for a
// screenshot.
//
//   robot.exe run PROGRAM [--press ID] [--answers ID,ID,...] [--finish] [--hold MS] [--report FILE]
//
// --press clicks that button of the main window first. Each answer presses
// that button in the next box; --finish then presses OK in
// the finish dialog. The report (UTF-8) gets one line per window, written when
// the window appears. The exit code is the program's.
//
// Started with no arguments at all, it stands in for a program that the
// updater launches: it leaves a file named after itself with ".ran" added
// beside itself, so a test can see that it ran, and ends with 0.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/robot/Robot_win32.h"

namespace {

constexpr DWORD kWaitMs = 60000;

void WriteUtf8(FILE* f, const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    fputs(out.c_str(), f);
}

void Report(const std::wstring& path, HWND window) {
    FILE* f = path.empty() ? stdout : _wfopen(path.c_str(), L"ab");
    if (f == nullptr) return;
    std::wstring text = MessageBoxText(window);
    for (wchar_t& c : text)
        if (c == L'\n') c = L' ';
    fputs("window: ", f);
    WriteUtf8(f, WindowText(window));
    fputs(" | ", f);
    WriteUtf8(f, text);
    fputs("\n", f);
    if (f != stdout) fclose(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 1) {
        wchar_t self[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return 1;
        std::wstring marker = std::wstring(self) + L".ran";
        HANDLE f = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return 1;
        CloseHandle(f);
        return 0;
    }
    if (argc < 3 || wcscmp(argv[1], L"run") != 0) {
        fwprintf(stderr, L"usage: robot run PROGRAM [--press ID] [--answers ID,...] [--finish] [--hold MS] [--report FILE]\n");
        return 2;
    }
    std::wstring program = argv[2];
    std::vector<int> answers;
    bool finish = false;
    int press = 0;
    DWORD hold = 0;
    std::wstring report;
    for (int i = 3; i < argc; ++i) {
        if (wcscmp(argv[i], L"--finish") == 0) {
            finish = true;
        } else if (i + 1 < argc && wcscmp(argv[i], L"--answers") == 0) {
            for (const wchar_t* p = argv[++i]; *p != L'\0';) {
                answers.push_back(_wtoi(p));
                while (*p != L'\0' && *p != L',') ++p;
                if (*p == L',') ++p;
            }
        } else if (i + 1 < argc && wcscmp(argv[i], L"--press") == 0) {
            press = _wtoi(argv[++i]);
        } else if (i + 1 < argc && wcscmp(argv[i], L"--hold") == 0) {
            hold = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (i + 1 < argc && wcscmp(argv[i], L"--report") == 0) {
            report = argv[++i];
        }
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + program + L"\"";
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fwprintf(stderr, L"cannot start the program\n");
        return 2;
    }
    HWND main = nullptr;
    if (press != 0) {
        main = WaitForDialog(pi.dwProcessId, Wide("アップデータ"), kWaitMs);
        if (main != nullptr) {
            Report(report, main);
            Sleep(hold);
            ClickButton(main, press);
        }
    }
    for (int answer : answers) {
        HWND box = WaitForDialogExcept(pi.dwProcessId, main, kWaitMs);
        if (box == nullptr) break;
        Report(report, box);
        Sleep(hold);
        ClickButton(box, answer);
        WaitForWindowGone(box, kWaitMs);
    }
    if (finish) {
        HWND dialog = WaitForDialog(pi.dwProcessId, Wide("インストール終了"), kWaitMs);
        if (dialog != nullptr) {
            Report(report, dialog);
            Sleep(hold);
            ClickButton(dialog, IDOK);
        }
    }
    WaitForSingleObject(pi.hProcess, kWaitMs);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}
