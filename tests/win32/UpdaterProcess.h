// The updater started as a process on a package built by the test, for the
// tests that drive it from outside as a player would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "services/Platform.h"
#include "tests/support/PackageBuilder.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

inline constexpr DWORD kProcessTimeoutMs = 30000;
// Tries to start the updater, and the pause between them.
inline constexpr int kStartAttempts = 3;
inline constexpr DWORD kStartPauseMs = 500;

// A 64 x 64 background picture of one colour: the first pixel, then one long
// copy of the pixel before for the other 4095.
inline Bytes TinyPicture() {
    return Bytes{0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x30, 64, 0, 0, 0, 64, 0,
                 0,    0,    6,    0,    0,    0,    0x40, 0x80, 0xC0, 0x83, 0xFB, 0x0F};
}

// Path of a file beside the test program (Shift-JIS).
inline std::string BesideTests(const char* name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path = path.substr(0, path.find_last_of(L"\\/") + 1);
    char sjis[MAX_PATH * 2];
    WideCharToMultiByte(932, 0, path.c_str(), -1, sjis, sizeof(sjis), nullptr, nullptr);
    return std::string(sjis) + name;
}

// The Unix path of a file, by Wine's own conversion; empty when there is none.
inline std::string UnixPath(const std::string& sjis) {
    using Convert = char*(CDECL*)(const wchar_t*);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) return "";
    char* unix = convert(Wide(sjis.c_str()).c_str());
    if (unix == nullptr) return "";
    std::string path(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

inline Bytes UpdaterImage() {
    Bytes image;
    EXPECT_TRUE(ReadFileBytes(BesideTests("updater.exe"), &image)) << "updater.exe beside the tests";
    return image;
}

class UpdaterProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = UpdaterImage();
        tempPath_ = new TempPathOverride(temp_.Path());
    }
    void TearDown() override { delete tempPath_; }
    // Starts the updater from these file bytes, saved under name.
    void Start(const Bytes& programFile, const char* name = "更新.exe") {
        std::string exe = programs_ / name;
        ASSERT_TRUE(WriteFileBytes(exe, programFile));
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        std::wstring command = L"\"" + Wide(exe.c_str()) + L"\"";
        // Wine has been seen to refuse a start now and then, just after the
        // file was written; a few tries tell that apart from a real refusal.
        DWORD error = 0;
        for (int attempt = 0; attempt < kStartAttempts; ++attempt, Sleep(kStartPauseMs)) {
            if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process_)) {
                CloseHandle(process_.hThread);
                return;
            }
            error = GetLastError();
        }
        FAIL() << "the updater could not be started, error " << error;
    }
    int Finish() {
        DWORD code = 0x1234;
        if (WaitForSingleObject(process_.hProcess, kProcessTimeoutMs) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 99);
        GetExitCodeProcess(process_.hProcess, &code);
        CloseHandle(process_.hProcess);
        return static_cast<int>(code);
    }
    std::vector<std::string> WorkingFolders() {
        std::vector<std::string> found;
        for (const std::string& n : ListFolder(temp_.Path()))
            if (n.find("TempGPInstallFolder_") == 0) found.push_back(n);
        return found;
    }
    // Presses a button of the main window.
    void Press(int id) {
        main_ = WaitForDialog(process_.dwProcessId, Wide("アップデータ"), kProcessTimeoutMs);
        ASSERT_NE(nullptr, main_);
        ClickButton(main_, id);
    }
    // Answers the next boxes in turn and returns their texts; except is a
    // dialog that is never taken for a box (the main window by default).
    std::vector<std::wstring> Answer(const std::vector<int>& answers, HWND except = nullptr) {
        BoxAnswerer answerer{};
        StartBoxSequence(&answerer, process_.dwProcessId, answers, kProcessTimeoutMs,
                         except != nullptr ? except : main_);
        EXPECT_TRUE(FinishBoxAnswerer(&answerer));
        return answerer.texts;
    }
    // Exactly one working folder is left, holding exactly these files.
    void ExpectWorkingFolderLeftWith(const std::vector<std::string>& files) {
        std::vector<std::string> folders = WorkingFolders();
        ASSERT_EQ(1u, folders.size());
        EXPECT_EQ(files, ListTree(temp_ / folders[0]));
    }
    Bytes image_;
    TempFolder temp_;
    TempFolder programs_;
    TempPathOverride* tempPath_ = nullptr;
    PROCESS_INFORMATION process_{};
    HWND main_ = nullptr;
};

