// The copy progress window as a user's robot sees it: found among the
// thread's windows by its title, read through its controls, driven through
// the sink the extraction uses. The template and the clip come from this
// test program's own resources, which are the updater's.
#include "package/CopyProgress.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "resources/resource.h"
#include "services/Platform.h"
#include "services/Window_win32.h"
#include "tests/support/DialogLayout_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kTitle[] = L"ファイルのコピー中...";
constexpr wchar_t kTargetClass[] = L"CopyProgressTestTarget";
constexpr int64_t kUnit = 0x20000;
// Room for any class name or control text read back.
constexpr int kTextBuffer = 512;
// How long the animation thread gets to draw, and how often to look.
constexpr DWORD kDrawTimeoutMs = 3000;
constexpr DWORD kPollMs = 20;
// Longer than two frames of the clip (100 ms each).
constexpr DWORD kFrameGapMs = 250;
// The folders of the clip are pure yellow; nothing else on the dialog is.
constexpr uint32_t kClipYellow = 0x00FFFF00;

std::vector<HWND>* s_found = nullptr;
std::vector<UINT> s_seen;

BOOL CALLBACK CollectProgressWindow(HWND window, LPARAM) {
    wchar_t name[kTextBuffer];
    wchar_t title[kTextBuffer];
    GetClassNameW(window, name, kTextBuffer);
    GetWindowTextW(window, title, kTextBuffer);
    if (wcscmp(name, kDialogClass) == 0 && wcscmp(title, kTitle) == 0) s_found->push_back(window);
    return TRUE;
}

// Every copy progress window of this thread, found as a robot would: by its
// dialog class and its title.
std::vector<HWND> ProgressWindows() {
    std::vector<HWND> found;
    s_found = &found;
    EnumThreadWindows(GetCurrentThreadId(), CollectProgressWindow, 0);
    s_found = nullptr;
    return found;
}

std::wstring TextOf(HWND window) {
    wchar_t text[kTextBuffer];
    GetWindowTextW(window, text, kTextBuffer);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[kTextBuffer];
    GetClassNameW(window, name, kTextBuffer);
    return name;
}

struct Bar {
    int low, high, position;
};

Bar ReadBar(HWND dialog, int id) {
    HWND bar = GetDlgItem(dialog, id);
    PBRANGE range = {-1, -1};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    return {range.iLow, range.iHigh, static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0))};
}

void ExpectBar(HWND dialog, int id, int high, int position) {
    Bar bar = ReadBar(dialog, id);
    EXPECT_EQ(0, bar.low) << "bar " << id;
    EXPECT_EQ(high, bar.high) << "bar " << id;
    EXPECT_EQ(position, bar.position) << "bar " << id;
}

// The client area of a window as 32-bit pixels, as the screen shows it.
std::vector<uint32_t> Capture(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = r.right;
    info.bmiHeader.biHeight = -r.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<uint32_t> pixels;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const uint32_t* p = static_cast<const uint32_t*>(bits);
        pixels.assign(p, p + static_cast<size_t>(r.right) * r.bottom);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, screen);
    for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
    return pixels;
}

bool ShowsClip(HWND animation) {
    for (uint32_t pixel : Capture(animation))
        if (pixel == kClipYellow) return true;
    return false;
}

// Lets the window and the animation work until the clip shows, or gives up.
bool WaitForClip(HWND animation) {
    for (DWORD waited = 0; waited < kDrawTimeoutMs; waited += kPollMs) {
        PumpMessages();
        if (ShowsClip(animation)) return true;
        Sleep(kPollMs);
    }
    return false;
}

// Two looks at the animation a few frames apart, with the messages pumped.
bool AnimationMoves(HWND animation) {
    PumpMessages();
    std::vector<uint32_t> before = Capture(animation);
    for (DWORD waited = 0; waited < kFrameGapMs; waited += kPollMs) {
        Sleep(kPollMs);
        PumpMessages();
    }
    return Capture(animation) != before;
}

// Reads a dialog template as the dialog manager does: words, double words,
// and names that are either strings or 0xFFFF and an ordinal.
struct TemplateReader {
    const uint8_t* base;
    size_t size;
    size_t at = 0;
    bool ok = true;

    uint16_t Word() {
        if (size - at < 2) {
            ok = false;
            return 0;
        }
        uint16_t value = static_cast<uint16_t>(base[at] | base[at + 1] << 8);
        at += 2;
        return value;
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | static_cast<uint32_t>(Word()) << 16;
    }
    // A string, or "#n" for an ordinal.
    std::wstring Name() {
        uint16_t first = Word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        std::wstring text;
        for (uint16_t c = first; ok && c != 0; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignToDword() { at = (at + 3) & ~static_cast<size_t>(3); }
};

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NULL || (message >= WM_USER && message < WM_APP) || message == WM_KEYDOWN ||
        message == WM_CHAR)
        s_seen.push_back(message);
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterTargetClass() {
    WNDCLASSEXW c = {};
    c.cbSize = sizeof(c);
    c.lpfnWndProc = TargetProc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = kTargetClass;
    RegisterClassExW(&c);
}

class CopyProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetOwnerWindow(nullptr);
        CloseCopyProgress();
        RegisterTargetClass();
        s_seen.clear();
    }

    void TearDown() override {
        CloseCopyProgress();
        SetOwnerWindow(nullptr);
        for (HWND window : windows_) DestroyWindow(window);
        PumpMessages();
    }

    // A hidden top-level window of className, created with the given module
    // instance; destroyed after the test.
    HWND MakeWindow(const wchar_t* className, HINSTANCE instance) {
        HWND window = CreateWindowExW(0, className, L"Test owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                      nullptr, nullptr, instance, nullptr);
        if (window != nullptr) windows_.push_back(window);
        return window;
    }

    // Opens the window and finds it; fails the test unless there is exactly one.
    HWND Open(int64_t total) {
        sink_ = OpenCopyProgress(total);
        std::vector<HWND> found = ProgressWindows();
        EXPECT_NE(nullptr, sink_);
        EXPECT_EQ(1u, found.size());
        return found.size() == 1 ? found[0] : nullptr;
    }

    const ProgressSink* sink_ = nullptr;
    std::vector<HWND> windows_;
};

TEST_F(CopyProgressTest, TemplateHoldsTheDesignedWindow) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, RT_DIALOG, IDD_COPYINGDELUX, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    ASSERT_NE(nullptr, found) << "a Japanese template named COPYINGDELUX";
    HGLOBAL loaded = LoadResource(module, found);
    TemplateReader t{static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
    ASSERT_NE(nullptr, t.base);

    EXPECT_EQ(static_cast<DWORD>(DS_MODALFRAME | DS_SETFOREGROUND | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION),
              t.Dword());
    EXPECT_EQ(0u, t.Dword()) << "extended style";
    uint16_t items = t.Word();
    EXPECT_EQ(5, items);
    int16_t frame[4];
    for (int16_t& v : frame) v = static_cast<int16_t>(t.Word());
    EXPECT_EQ((std::vector<int16_t>{0, 0, 194, 109}), std::vector<int16_t>(frame, frame + 4));
    EXPECT_EQ(L"", t.Name()) << "menu";
    EXPECT_EQ(L"", t.Name()) << "class";
    EXPECT_EQ(kTitle, t.Name());
    EXPECT_EQ(9, t.Word());
    EXPECT_EQ(L"ＭＳ Ｐゴシック", t.Name());

    struct Item {
        int id;
        DWORD style;
        const wchar_t* text;
        int16_t x, y, width, height;
    } expected[] = {
        {IDC_ANIMATE, ACS_CENTER | ACS_TRANSPARENT, L"Animate1", 5, 5, 180, 40},
        {IDC_FILE_PROGRESS, PBS_SMOOTH | WS_BORDER, L"Progress1", 5, 50, 185, 10},
        {IDC_TOTAL_PROGRESS, PBS_SMOOTH | WS_BORDER, L"Progress2", 5, 60, 185, 10},
        {IDC_COPY_FILENAME, SS_CENTER | SS_CENTERIMAGE, L"コピー中ファイル名", 5, 75, 185, 10},
        {IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, L"ｷｬﾝｾﾙ", 140, 90, 50, 14},
    };
    for (int i = 0; i < items && i < 5; ++i) {
        const Item& e = expected[i];
        SCOPED_TRACE(e.id);
        t.AlignToDword();
        // A group start is the resource compiler's choice for a static; the rest is ours.
        EXPECT_EQ(e.style | WS_CHILD | WS_VISIBLE, t.Dword() & ~static_cast<DWORD>(WS_GROUP));
        EXPECT_EQ(0u, t.Dword()) << "extended style";
        int16_t place[4];
        for (int16_t& v : place) v = static_cast<int16_t>(t.Word());
        EXPECT_EQ((std::vector<int16_t>{e.x, e.y, e.width, e.height}), std::vector<int16_t>(place, place + 4));
        EXPECT_EQ(e.id, t.Word());
        t.Name();
        EXPECT_EQ(e.text, t.Name());
        t.at += t.Word();
    }
    EXPECT_TRUE(t.ok) << "the template ends early";
}

TEST_F(CopyProgressTest, WindowFollowsItsTemplate) {
    HWND dialog = Open(5 * kUnit + 7);
    ASSERT_NE(nullptr, dialog);

    LONG_PTR dialogStyle = GetWindowLongPtrW(dialog, GWL_STYLE);
    EXPECT_EQ(0, dialogStyle & WS_SYSMENU) << "no system menu, so no close box";
    EXPECT_EQ(WS_CAPTION, dialogStyle & WS_CAPTION);
    EXPECT_NE(0, dialogStyle & WS_POPUP);
    EXPECT_NE(0, dialogStyle & DS_MODALFRAME);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(nullptr, GetWindow(dialog, GW_OWNER));

    RECT client;
    GetClientRect(dialog, &client);
    ExpectRect(DialogUnits(dialog, 0, 0, 194, 109), client, "client area");

    RECT frame;
    GetWindowRect(dialog, &frame);
    HDC screen = GetDC(nullptr);
    int screenWidth = GetDeviceCaps(screen, HORZRES);
    int screenHeight = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ((screenWidth - (frame.right - frame.left)) / 2, frame.left);
    EXPECT_EQ((screenHeight - (frame.bottom - frame.top)) / 2, frame.top);

    struct Control {
        int id;
        const wchar_t* className;
        const wchar_t* text;  // null: not looked at
        int x, y, width, height;
        LONG_PTR styles;
    } controls[] = {
        {IDC_ANIMATE, L"SysAnimate32", nullptr, 5, 5, 180, 40, ACS_CENTER | ACS_TRANSPARENT},
        {IDC_FILE_PROGRESS, L"msctls_progress32", nullptr, 5, 50, 185, 10, PBS_SMOOTH},
        {IDC_TOTAL_PROGRESS, L"msctls_progress32", nullptr, 5, 60, 185, 10, PBS_SMOOTH},
        {IDC_COPY_FILENAME, L"Static", L"", 5, 75, 185, 10, SS_CENTER | SS_CENTERIMAGE},
        {IDCANCEL, L"Button", L"ｷｬﾝｾﾙ", 140, 90, 50, 14, WS_TABSTOP},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = GetDlgItem(dialog, c.id);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(0, _wcsicmp(c.className, ClassOf(control).c_str())) << ClassOf(control).c_str();
        if (c.text != nullptr) {
            EXPECT_EQ(std::wstring(c.text), TextOf(control));
        }
        ExpectRect(DialogUnits(dialog, c.x, c.y, c.width, c.height), ClientRectOf(dialog, control), "control");
        EXPECT_EQ(c.styles, GetWindowLongPtrW(control, GWL_STYLE) & c.styles);
        EXPECT_TRUE(IsWindowVisible(control));
    }
    EXPECT_EQ(SS_CENTER, GetWindowLongPtrW(GetDlgItem(dialog, IDC_COPY_FILENAME), GWL_STYLE) & SS_TYPEMASK);
    EXPECT_EQ(BS_PUSHBUTTON, GetWindowLongPtrW(GetDlgItem(dialog, IDCANCEL), GWL_STYLE) & BS_TYPEMASK);
    EXPECT_EQ(GetDlgItem(dialog, IDCANCEL), GetFocus()) << "Cancel, the only tab stop, has the focus";
}

TEST_F(CopyProgressTest, BarsStartEmptyWithTheOverallRangeFromTheTotal) {
    struct Case {
        const char* what;
        int64_t total;
        int high;
    } cases[] = {
        {"empty package", 0, 1},
        {"just under one unit", kUnit - 1, 1},
        {"one unit", kUnit, 1},
        {"five units and a little", 5 * kUnit + 7, 5},
        {"largest package", 0x7FFFFFFF, 0x3FFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND dialog = Open(c.total);
        ASSERT_NE(nullptr, dialog);
        ExpectBar(dialog, IDC_FILE_PROGRESS, 1, 0);
        ExpectBar(dialog, IDC_TOTAL_PROGRESS, c.high, 0);
        EXPECT_EQ(L"", TextOf(GetDlgItem(dialog, IDC_COPY_FILENAME)));
    }
}

TEST_F(CopyProgressTest, SinkShowsEachFileAndMovesTheBars) {
    HWND dialog = Open(10 * kUnit);
    ASSERT_NE(nullptr, dialog);
    HWND name = GetDlgItem(dialog, IDC_COPY_FILENAME);

    // ソ and 表 end in byte 5C, which a byte-wise conversion would take for '\'.
    sink_->beginFile(sink_->context, "C:\\ゲーム\\ソフト表\\データ.dat", 3 * kUnit + 5);
    EXPECT_EQ(L"C:\\ゲーム\\ソフト表\\データ.dat", TextOf(name));
    ExpectBar(dialog, IDC_FILE_PROGRESS, 3, 0);

    sink_->report(sink_->context, kUnit, kUnit + 300);
    ExpectBar(dialog, IDC_FILE_PROGRESS, 3, 1);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 10, 1);
    sink_->report(sink_->context, 3 * kUnit + 5, 4 * kUnit + 2 * kUnit - 1);
    ExpectBar(dialog, IDC_FILE_PROGRESS, 3, 3);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 10, 5);

    // The next file starts its own bar from 0; the overall bar stays.
    sink_->beginFile(sink_->context, "C:\\ゲーム\\readme.txt", 2 * kUnit);
    EXPECT_EQ(L"C:\\ゲーム\\readme.txt", TextOf(name));
    ExpectBar(dialog, IDC_FILE_PROGRESS, 2, 0);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 10, 5);

    // Under one unit: the range is 0 to 0, with no lower bound of 1.
    sink_->beginFile(sink_->context, "C:\\ゲーム\\表.ini", 100);
    EXPECT_EQ(L"C:\\ゲーム\\表.ini", TextOf(name));
    ExpectBar(dialog, IDC_FILE_PROGRESS, 0, 0);
}

// Checking the installed files runs the overall bar over their bytes; the
// copying then runs it again from empty over the package's.
TEST_F(CopyProgressTest, EachPhaseRunsTheOverallBarFromEmpty) {
    HWND dialog = Open(10 * kUnit);
    ASSERT_NE(nullptr, dialog);
    ASSERT_NE(nullptr, sink_->beginPhase);
    sink_->beginPhase(sink_->context, kCheckingPhase, 4 * kUnit);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 4, 0);
    sink_->beginFile(sink_->context, "C:\\ゲーム\\data.arc", 4 * kUnit);
    sink_->report(sink_->context, 3 * kUnit, 3 * kUnit);
    ExpectBar(dialog, IDC_FILE_PROGRESS, 4, 3);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 4, 3);
    sink_->beginPhase(sink_->context, kCopyingPhase, 10 * kUnit);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 10, 0);
    ExpectBar(dialog, IDC_FILE_PROGRESS, 4, 0);
    sink_->report(sink_->context, kUnit, 2 * kUnit);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 10, 2);
}

TEST_F(CopyProgressTest, CancelStopsOnlyTheAnimation) {
    HWND dialog = Open(3 * kUnit);
    ASSERT_NE(nullptr, dialog);
    HWND animation = GetDlgItem(dialog, IDC_ANIMATE);
    ASSERT_TRUE(WaitForClip(animation)) << "the clip AVI_FILECOPY is drawn";
    EXPECT_TRUE(AnimationMoves(animation));

    // Only a click (the whole parameter 2) counts; an accelerator's command does not.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
    EXPECT_TRUE(AnimationMoves(animation));

    sink_->beginFile(sink_->context, "C:\\a.dat", 2 * kUnit);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    EXPECT_FALSE(AnimationMoves(animation));
    EXPECT_TRUE(ShowsClip(animation)) << "the last frame stays";

    ASSERT_EQ(std::vector<HWND>{dialog}, ProgressWindows());
    sink_->report(sink_->context, kUnit, 2 * kUnit);
    ExpectBar(dialog, IDC_FILE_PROGRESS, 2, 1);
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 3, 2);
    EXPECT_EQ(L"C:\\a.dat", TextOf(GetDlgItem(dialog, IDC_COPY_FILENAME)));
}

TEST_F(CopyProgressTest, CloseDestroysTheWindowOnce) {
    EXPECT_EQ(1, CloseCopyProgress()) << "nothing open yet";
    HWND dialog = Open(kUnit);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(0, CloseCopyProgress());
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(ProgressWindows().empty());
    EXPECT_EQ(1, CloseCopyProgress());
    // A sink kept past the close has no window left to touch.
    sink_->beginFile(sink_->context, "C:\\late.dat", kUnit);
    sink_->report(sink_->context, kUnit, kUnit);
    EXPECT_TRUE(ProgressWindows().empty());
}

TEST_F(CopyProgressTest, OpeningAgainLeavesOneWindow) {
    HWND first = Open(kUnit);
    ASSERT_NE(nullptr, first);
    sink_->beginFile(sink_->context, "C:\\first.dat", 4 * kUnit);
    HWND second = Open(7 * kUnit);
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(IsWindow(first));
    ExpectBar(second, IDC_FILE_PROGRESS, 1, 0);
    ExpectBar(second, IDC_TOTAL_PROGRESS, 7, 0);
    EXPECT_EQ(0, CloseCopyProgress());
    EXPECT_EQ(1, CloseCopyProgress());
}

TEST_F(CopyProgressTest, OwnerWindowOwnsItAndLendsItsModule) {
    HWND owner = MakeWindow(kTargetClass, GetModuleHandleW(nullptr));
    ASSERT_NE(nullptr, owner);
    SetOwnerWindow(owner);
    HWND dialog = Open(2 * kUnit);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(owner, GetWindow(dialog, GW_OWNER));
    EXPECT_TRUE(WaitForClip(GetDlgItem(dialog, IDC_ANIMATE)));
    ExpectBar(dialog, IDC_TOTAL_PROGRESS, 2, 0);
}

TEST_F(CopyProgressTest, NoWindowWhenTheOwnersModuleLacksTheTemplate) {
    // A window of the system's own module: its resources hold no COPYINGDELUX.
    HWND owner = MakeWindow(L"Static", GetModuleHandleW(L"kernel32.dll"));
    ASSERT_NE(nullptr, owner);
    SetOwnerWindow(owner);
    EXPECT_EQ(nullptr, OpenCopyProgress(kUnit));
    EXPECT_TRUE(ProgressWindows().empty());
    EXPECT_EQ(1, CloseCopyProgress());
}

TEST_F(CopyProgressTest, PumpMessagesDispatchesAndCountsEveryWaitingMessage) {
    HWND target = MakeWindow(kTargetClass, GetModuleHandleW(nullptr));
    ASSERT_NE(nullptr, target);
    PumpMessages();
    s_seen.clear();

    PostMessageW(target, WM_NULL, 0, 0);
    PostMessageW(target, WM_USER, 1, 0);
    PostMessageW(target, WM_USER + 1, 2, 0);
    PostThreadMessageW(GetCurrentThreadId(), WM_USER + 2, 0, 0);
    EXPECT_EQ(4, PumpMessages());
    EXPECT_EQ((std::vector<UINT>{WM_NULL, WM_USER, WM_USER + 1}), s_seen);
    EXPECT_EQ(0, PumpMessages());

    // A key press is translated: its character message is dispatched and counted too.
    s_seen.clear();
    PostMessageW(target, WM_KEYDOWN, 'A', 0x001E0001);
    EXPECT_EQ(2, PumpMessages());
    EXPECT_EQ((std::vector<UINT>{WM_KEYDOWN, WM_CHAR}), s_seen);
}

TEST(CopyProgressDeathTest, QuitMessageEndsTheProcessWithItsCode) {
    EXPECT_EXIT(
        {
            PostQuitMessage(7);
            PumpMessages();
            exit(99);
        },
        ::testing::ExitedWithCode(7), "");
}

// The walk in order on the window thread, interrupted while it writes a new
// file in place, that file still open: the quit and the end of the session
// roll the walk back, the file written in place included, before the process
// ends. (The robot's tests meet the walk on several threads.)
struct InterruptionCase {
    const char* fault;
    UINT message;  // WM_QUIT posted, or WM_ENDSESSION sent to the progress window
    int code;
};

const InterruptionCase kInterruptionCases[] = {
    {"quit leaves the half-written new file", WM_QUIT, 7},
    {"session end leaves the half-written new file", WM_ENDSESSION, kExitCodeMinusOne},
};

// Once the large file is this far written, the walk is interrupted.
constexpr int64_t kInterruptAt = 4 * kUnit;

void Interrupt(void* context, int64_t fileBytes, int64_t) {
    const InterruptionCase* c = static_cast<const InterruptionCase*>(context);
    if (fileBytes < kInterruptAt) return;
    if (c->message == WM_QUIT) PostQuitMessage(c->code);
    else SendMessageW(ProgressWindows()[0], WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
}

void BeginAnyFile(void*, const char*, int32_t) {}

// The child's walk, behind the window; it ends the process either way.
void WalkUntilInterrupted(const std::string& program, const std::string& game, const InterruptionCase& c) {
    SetExtractWorkers(1);
    PackageStream stream;
    if (OpenPackageStream(program.c_str(), &stream) != kPackageOk) exit(98);
    OpenCopyProgress(PackageLength(&stream));
    ProgressSink sink = {BeginAnyFile, Interrupt, const_cast<InterruptionCase*>(&c)};
    WalkPackage(&stream, game.c_str(), kFullMode, &sink);
    exit(99);
}

TEST(CopyProgressDeathTest, QuitOrSessionEndDuringAWalkInOrderRollsItBackFirst) {
    for (const InterruptionCase& c : kInterruptionCases) {
        std::string folder = FixedTestFolder("interrupted-walk");
        std::string game = folder + "\\game";
        ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
        ASSERT_TRUE(WriteFileBytes(game + "\\old.dat", ToBytes("old")));
        // The child that runs the walk makes the folder again: the same time, the same tree.
        ASSERT_EQ(0, PlatformSetFileTime((game + "\\old.dat").c_str(), kTestFileTime));
        TreeSnapshot before = SnapshotTree(game);
        Bytes entries;
        AppendFile(&entries, "large.dat", Bytes(16 * kUnit, 0));
        AppendFile(&entries, "old.dat", ToBytes("new"));
        std::string program = folder + "\\patch.exe";
        ASSERT_TRUE(WriteFileBytes(program, MakeProgramFile({}, entries)));
        EXPECT_EXIT(WalkUntilInterrupted(program, game, c), ::testing::ExitedWithCode(c.code), "") << c.fault;
        EXPECT_TRUE(SnapshotTree(game) == before) << c.fault;
        EXPECT_FALSE(Exists(game + "\\" + kStagingFolderName)) << c.fault;
        RemoveTree(folder);
    }
}

}  // namespace
