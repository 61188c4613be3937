#include "tests/support/UpdaterProcess_win32.h"

#include <tlhelp32.h>

#include "picture/RctEncoder.h"
#include "resources/resource.h"
#include "services/Registry.h"

// How long a freshly shown window is given to paint its picture.
static constexpr DWORD kPaintTimeoutMs = 5000;
// The exit code a killed updater is given.
static constexpr UINT kKilledCode = 0xDEAD;

Bytes TinyPicture() {
    return Bytes{0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x30, 64, 0, 0, 0, 64, 0,
                 0,    0,    6,    0,    0,    0,    0x40, 0x80, 0xC0, 0x83, 0xFB, 0x0F};
}

Bytes SquarePicture(int side, COLORREF colour) {
    Bytes pixels;
    for (int i = 0; i < side * side; ++i) {
        pixels.push_back(GetBValue(colour));
        pixels.push_back(GetGValue(colour));
        pixels.push_back(GetRValue(colour));
    }
    Bytes rct;
    EncodeRct(pixels.data(), side, side, 0, nullptr, &rct);
    return rct;
}

Bytes StartupEntries(const std::string& settings, const Bytes& picture) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes(settings));
    AppendFile(&entries, "insttscr.rct", picture);
    return entries;
}

std::string GameSettings(const std::string& local, const std::string& title) {
    return std::string("REG_GLOBAL ") + kTestGameKey + "\r\nREG_LOCAL " + local + "\r\nTITLEBAR " + title + "\r\n";
}

int RegisterGame(const std::string& local, const std::string& folder) {
    int installed = RegWriteString(kTestGameKey, local.c_str(), "IsInst", "1");
    int placed = RegWriteString(kTestGameKey, local.c_str(), "InstTo", folder.c_str());
    return installed != 0 ? installed : placed;
}

std::string BesideTests(const char* name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path = path.substr(0, path.find_last_of(L"\\/") + 1);
    char sjis[MAX_PATH * 2];
    WideCharToMultiByte(932, 0, path.c_str(), -1, sjis, sizeof(sjis), nullptr, nullptr);
    return std::string(sjis) + name;
}

std::string UnixPath(const std::string& sjis) {
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

Bytes UpdaterImage() {
    Bytes image;
    EXPECT_TRUE(ReadFileBytes(BesideTests("updater.exe"), &image)) << "updater.exe beside the tests";
    return image;
}

bool StartUnixShell(const std::string& script) {
    std::string shell = "/bin/sh -c \"" + script + "\"";
    std::wstring command(shell.begin(), shell.end());
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

COLORREF ClientPixel(HWND window, int x, int y) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return c;
}

void ExpectSquarePainted(HWND window, int at, int side, COLORREF colour) {
    bool painted = false;
    for (DWORD waited = 0; !painted && waited < kPaintTimeoutMs; waited += kWindowPollMs, Sleep(kWindowPollMs))
        painted = ClientPixel(window, at, at) == colour;
    EXPECT_TRUE(painted);
    const int last = at + side - 1;
    EXPECT_EQ(colour, ClientPixel(window, last, at));
    EXPECT_EQ(colour, ClientPixel(window, at, last));
    EXPECT_NE(colour, ClientPixel(window, at - 1, at));
    EXPECT_NE(colour, ClientPixel(window, at, at - 1));
    EXPECT_NE(colour, ClientPixel(window, last + 1, at));
    EXPECT_NE(colour, ClientPixel(window, at, last + 1));
}

HWND WaitForOtherDialog(DWORD processId, const std::vector<HWND>& known, DWORD timeoutMs) {
    HWND except = known.empty() ? nullptr : known[0];
    for (DWORD waited = 0; waited < timeoutMs; waited += kWindowPollMs) {
        Sleep(kWindowPollMs);
        HWND candidate = WaitForDialogExcept(processId, except, kWindowPollMs);
        bool old = candidate == nullptr;
        for (HWND k : known) old = old || candidate == k;
        if (!old) return candidate;
    }
    return nullptr;
}

void UpdaterProcessTest::SetUp() {
    image_ = UpdaterImage();
    tempPath_ = new TempPathOverride(temp_.Path());
}

void UpdaterProcessTest::TearDown() {
    // A test that stopped half-way leaves its updater running: the next
    // test's updater would meet it as a second copy.
    if (process_.hProcess != nullptr) Kill();
    delete tempPath_;
}

void UpdaterProcessTest::Start(const Bytes& programFile, const char* name) {
    StartAt(Wide((programs_ / name).c_str()), programFile);
}

void UpdaterProcessTest::StartAt(const std::wstring& exe, const Bytes& programFile, const wchar_t* folder,
                                 const wchar_t* arguments) {
    HANDLE file = CreateFileW(exe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "the program file cannot be written";
    DWORD written = 0;
    BOOL wrote = WriteFile(file, programFile.data(), static_cast<DWORD>(programFile.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(wrote && written == programFile.size()) << "the program file cannot be written";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring command = L"\"" + exe + L"\"";
    if (arguments != nullptr) command += std::wstring(L" ") + arguments;
    // Wine has been seen to refuse a start now and then, just after the
    // file was written; a few tries tell that apart from a real refusal.
    DWORD error = 0;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt, Sleep(kStartPauseMs)) {
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &process_)) {
            CloseHandle(process_.hThread);
            return;
        }
        error = GetLastError();
    }
    FAIL() << "the updater could not be started, error " << error;
}

int UpdaterProcessTest::Finish() {
    DWORD code = 0x1234;
    if (WaitForSingleObject(process_.hProcess, kProcessTimeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(process_.hProcess, 99);
    GetExitCodeProcess(process_.hProcess, &code);
    CloseHandle(process_.hProcess);
    process_.hProcess = nullptr;
    return static_cast<int>(code);
}

HWND UpdaterProcessTest::BeginUpdate(const Bytes& programFile) {
    Start(programFile);
    Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
    EXPECT_EQ(1u, Answer({IDYES}).size());
    return WaitFor(kProgressTitle);
}

int UpdaterProcessTest::EndOfRun() {
    for (DWORD start = GetTickCount(); GetTickCount() - start < kProcessTimeoutMs;) {
        if (WaitForSingleObject(process_.hProcess, kWindowPollMs) == WAIT_OBJECT_0) break;
        HWND finish = WaitFor(kFinishTitle, kWindowPollMs);
        if (finish != nullptr) {
            ClickButton(finish, IDOK);
            break;
        }
    }
    return Finish();
}

void UpdaterProcessTest::Kill() {
    TerminateProcess(process_.hProcess, kKilledCode);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_.hProcess, kProcessTimeoutMs)) << "the updater outlived its kill";
    CloseHandle(process_.hProcess);
    process_ = PROCESS_INFORMATION{};
}

void UpdaterProcessTest::Suspend(bool stop) {
    HANDLE threads = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, threads);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int found = 0;
    for (BOOL more = Thread32First(threads, &entry); more; more = Thread32Next(threads, &entry)) {
        if (entry.th32OwnerProcessID != process_.dwProcessId) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        DWORD count = stop ? SuspendThread(thread) : ResumeThread(thread);
        found += count != static_cast<DWORD>(-1);
        CloseHandle(thread);
    }
    CloseHandle(threads);
    EXPECT_GT(found, 0) << "no thread of the updater to " << (stop ? "stop" : "let go on");
}

std::vector<std::string> UpdaterProcessTest::WorkingFolders() {
    std::vector<std::string> found;
    for (const std::string& n : ListFolder(temp_.Path()))
        if (n.find("TempGPInstallFolder_") == 0) found.push_back(n);
    return found;
}

HWND UpdaterProcessTest::WaitFor(const char* title, DWORD timeoutMs) {
    return WaitForDialog(process_.dwProcessId, Wide(title), timeoutMs);
}

void UpdaterProcessTest::Press(int id) {
    main_ = WaitFor(kMainWindowTitle);
    ASSERT_NE(nullptr, main_);
    ClickButton(main_, id);
}

std::vector<std::wstring> UpdaterProcessTest::Answer(const std::vector<int>& answers, HWND except) {
    BoxAnswerer answerer{};
    StartBoxSequence(&answerer, process_.dwProcessId, answers, kProcessTimeoutMs, except != nullptr ? except : main_);
    EXPECT_TRUE(FinishBoxAnswerer(&answerer));
    return answerer.texts;
}

void UpdaterProcessTest::ChooseFolder(const std::wstring& folder) {
    HWND setup = WaitFor(kSetupTitle);
    ASSERT_NE(nullptr, setup);
    SetDlgItemTextW(setup, IDC_INSTALL_PATH, folder.c_str());
    ClickButton(setup, IDOK);
    // Its static texts look like a box's to the answerer: it goes first.
    ASSERT_TRUE(WaitForWindowGone(setup, kProcessTimeoutMs));
}

void UpdaterProcessTest::CloseFinishDialog(bool startGame) {
    HWND finish = WaitFor(kFinishTitle);
    ASSERT_NE(nullptr, finish);
    if (!startGame) SendDlgItemMessageW(finish, IDC_RUN_GAME_CHECK, BM_SETCHECK, BST_UNCHECKED, 0);
    ClickButton(finish, IDOK);
}

void UpdaterProcessTest::ExpectWorkingFolderLeftWith(const std::vector<std::string>& files) {
    std::vector<std::string> folders = WorkingFolders();
    ASSERT_EQ(1u, folders.size());
    EXPECT_EQ(files, ListTree(temp_ / folders[0]));
}
