// The updater on a screen of 150% and 200% (LogPixels 144 and 192): the main
// window, SETUP, the progress window and the finish dialog come up with every
// control inside the window and no text cut, and the main window's picture
// is scaled with the window, keeping its place and proportion. Screenshots of
// each window are kept.
//
// A program reads the DPI when it starts, so the windows are checked by this
// test program started again (HighDpiRun) after the setting is changed: the
// updater it starts and its own measurements then share the same DPI.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/DialogLayout_win32.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

// The DPI a picture is made for, and the screens it is tried on.
constexpr int kPictureDpi = 96;
constexpr int kHighDpis[] = {144, 192};
constexpr const wchar_t* kDpiVariable = L"UPDATER_HIGH_DPI";
constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";
constexpr const wchar_t* kLogPixels = L"LogPixels";
// GoogleTest's sharding, read from the environment: a copy of this program
// that inherited it would run only its shard's part of the one test it is
// asked for, maybe nothing.
constexpr const wchar_t* kShardVariables[] = {L"GTEST_TOTAL_SHARDS", L"GTEST_SHARD_INDEX"};
// How long a run at one DPI may take: a whole update.
constexpr DWORD kRunTimeoutMs = 240000;
// A square picture of one colour.
constexpr int kPictureSide = 256;
constexpr COLORREF kPictureColour = RGB(0xD0, 0x90, 0x30);
// A file large enough to keep the progress window up while it is measured.
constexpr size_t kLargeFileBytes = 160u << 20;

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// What a window of the updater shows: its client size and each visible
// control. Taken at once, as the progress window may not stay long.
struct Control {
    std::wstring kind, text;
    LONG style;
    RECT place;   // in the dialog's client area
    RECT inside;  // the control's own client area
};
struct Layout {
    RECT client;
    std::vector<Control> controls;
};

Layout Capture(HWND dialog) {
    Layout layout;
    GetClientRect(dialog, &layout.client);
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        Control control{ClassName(c), WindowText(c), GetWindowLongW(c, GWL_STYLE), ClientRectOf(dialog, c), {}};
        GetClientRect(c, &control.inside);
        layout.controls.push_back(control);
    }
    return layout;
}

// Every control lies inside the client area, and every text fits its control
// as the dialog's font draws it. The font is taken from the same template
// made here, at the same DPI.
void ExpectEverythingFits(const Layout& layout, const wchar_t* templateName, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(layout.controls.empty());
    HWND model = MakeModelDialog(templateName);
    ASSERT_NE(nullptr, model);
    ShowWindow(model, SW_HIDE);
    HDC dc = GetDC(model);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(model, WM_GETFONT, 0, 0)));
    for (const Control& c : layout.controls) {
        std::string name = Narrow(c.kind + L" [" + c.text + L"]");
        const RECT& r = c.place;
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= layout.client.right && r.bottom <= layout.client.bottom)
            << name << " at " << r.left << "," << r.top << "-" << r.right << "," << r.bottom << " outside "
            << layout.client.right << "x" << layout.client.bottom;
        if (c.text.empty()) continue;
        if (lstrcmpiW(c.kind.c_str(), L"Edit") == 0) {
            TEXTMETRICW metrics;
            GetTextMetricsW(dc, &metrics);
            EXPECT_LE(metrics.tmHeight, c.inside.bottom) << name;
            continue;
        }
        bool wraps = lstrcmpiW(c.kind.c_str(), L"Static") == 0 && (c.style & SS_CENTERIMAGE) == 0;
        RECT need = {0, 0, wraps ? c.inside.right : 0, 0};
        DrawTextW(dc, c.text.c_str(), -1, &need, DT_CALCRECT | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        int room = c.inside.right;
        if (lstrcmpiW(c.kind.c_str(), L"Button") == 0) {
            LONG type = c.style & BS_TYPEMASK;
            if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX || type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON)
                room -= GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE);
            else
                room -= 2 * GetSystemMetrics(SM_CXEDGE);
        }
        EXPECT_LE(need.right, room) << name << " is cut at the side";
        EXPECT_LE(need.bottom, c.inside.bottom) << name << " is cut at the bottom";
    }
    SelectObject(dc, oldFont);
    ReleaseDC(model, dc);
    DestroyWindow(model);
}

// The DPI this run was started for by HighDpiTest, or 0.
int RequestedDpi() {
    wchar_t value[16];
    DWORD n = GetEnvironmentVariableW(kDpiVariable, value, 16);
    return n > 0 && n < 16 ? _wtoi(value) : 0;
}

class HighDpiRun : public UpdaterProcessTest {};

TEST_F(HighDpiRun, UpdaterWindowsAtTheSystemDpi) {
    int dpi = RequestedDpi();
    if (dpi == 0) GTEST_SKIP() << "started by HighDpiTest with the screen set to a higher DPI";
    HDC screen = GetDC(nullptr);
    int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, systemDpi) << "the DPI setting did not take";
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    const std::wstring suffix = L"-" + std::to_wstring(dpi) + L"dpi";

    TempFolder game;
    Bytes entries = StartupEntries(GameSettings("HighDpi", "高解像度") + "INSTREADME 説明書を読む\r\n",
                                   SquarePicture(kPictureSide, kPictureColour));
    AppendFile(&entries, "readme.txt", ToBytes("read me"));
    AppendFile(&entries, "voice.arc", Bytes(kLargeFileBytes, 0));
    Start(MakeProgramFile(image_, entries));

    HWND main = WaitFor(kMainWindowTitle);
    ASSERT_NE(nullptr, main);
    ExpectEverythingFits(Capture(main), IDD_MAINDIALOG, "main window");
    // The picture at the scale of the screen, centred in the square of the
    // client height as at 96 DPI.
    RECT client;
    GetClientRect(main, &client);
    const int side = MulDiv(kPictureSide, dpi, kPictureDpi);
    const int at = (client.bottom - side) / 2;
    EXPECT_GE(at, 0);
    ExpectSquarePainted(main, at, side, kPictureColour);
    EXPECT_TRUE(SaveShot(main, (L"main-window" + suffix).c_str()));

    main_ = main;
    ClickButton(main, IDC_SLOT_FIRST + 2);  // Exit, the readme, Update
    ASSERT_EQ(2u, Answer({IDOK, IDYES}).size());  // not installed; choose by hand
    HWND setup = WaitFor(kSetupTitle);
    ASSERT_NE(nullptr, setup);
    SetDlgItemTextW(setup, IDC_INSTALL_PATH, Wide(game.Path().c_str()).c_str());
    ExpectEverythingFits(Capture(setup), IDD_SETUP, "SETUP");
    EXPECT_TRUE(SaveShot(setup, (L"setup-dialog" + suffix).c_str()));
    ASSERT_NO_FATAL_FAILURE(ChooseFolder(Wide(game.Path().c_str())));
    ASSERT_EQ(1u, Answer({IDYES}).size());
    HWND progress = WaitFor(kProgressTitle);
    ASSERT_NE(nullptr, progress);
    Layout copying = Capture(progress);
    SaveShot(progress, (L"progress-window" + suffix).c_str(), 0);
    ExpectEverythingFits(copying, IDD_COPYINGDELUX, "progress window");
    HWND finish = WaitFor(kFinishTitle);
    ASSERT_NE(nullptr, finish);
    ExpectEverythingFits(Capture(finish), IDD_ENDINSTALL, "finish dialog");
    EXPECT_TRUE(SaveShot(finish, (L"finish-dialog" + suffix).c_str()));
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(false));
    EXPECT_EQ(0, Finish());
}

// Sets the screen's DPI for programs started from now on, and puts the old
// setting back when it goes.
class ScreenDpi {
public:
    explicit ScreenDpi(int dpi) {
        DWORD size = sizeof(saved_);
        had_ = RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, RRF_RT_REG_DWORD, nullptr, &saved_, &size) ==
               ERROR_SUCCESS;
        DWORD value = static_cast<DWORD>(dpi);
        set_ = RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, REG_DWORD, &value, sizeof(value)) ==
               ERROR_SUCCESS;
    }
    ~ScreenDpi() {
        if (had_)
            RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, REG_DWORD, &saved_, sizeof(saved_));
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels);
    }
    bool set_ = false;

private:
    bool had_ = false;
    DWORD saved_ = 0;
};

// Runs HighDpiRun in a new copy of this program at dpi; its exit code, with
// what it printed in output.
int RunAtDpi(int dpi, std::string* output) {
    TempFolder work;
    std::string log = work / "run.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(Wide(log.c_str()).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=HighDpiRun.*";
    SetEnvironmentVariableW(kDpiVariable, std::to_wstring(dpi).c_str());
    std::vector<std::wstring> shard;
    for (const wchar_t* name : kShardVariables) {
        wchar_t value[32] = L"";
        GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
        shard.push_back(value);
        SetEnvironmentVariableW(name, nullptr);
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = file;
    si.hStdError = file;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(kDpiVariable, nullptr);
    for (size_t i = 0; i < shard.size(); ++i)
        if (!shard[i].empty()) SetEnvironmentVariableW(kShardVariables[i], shard[i].c_str());
    CloseHandle(file);
    if (!started) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, kRunTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    Bytes text;
    ReadFileBytes(log, &text);
    output->assign(text.begin(), text.end());
    return static_cast<int>(code);
}

TEST(HighDpiTest, UpdaterWindowsFitAt144And192Dpi) {
    for (int dpi : kHighDpis) {
        SCOPED_TRACE(dpi);
        std::string output;
        int code;
        {
            ScreenDpi screen(dpi);
            ASSERT_TRUE(screen.set_);
            code = RunAtDpi(dpi, &output);
        }
        EXPECT_EQ(0, code) << output;
        EXPECT_NE(std::string::npos, output.find("[       OK ] HighDpiRun.UpdaterWindowsAtTheSystemDpi")) << output;
    }
}

}  // namespace
