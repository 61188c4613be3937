// The finish dialog on a real screen, driven by a robot on a second thread
// while the modal dialog runs on the test's own; and the two launchers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "services/Platform.h"
#include "services/Window_win32.h"
#include "base/PathRules.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/DialogLayout_win32.h"
#include "tests/support/TempFolder.h"
#include "update/UpdateDialogs.h"

namespace {

constexpr wchar_t kTitle[] = L"インストール終了";
constexpr wchar_t kMessage[] = L"インストールを終了しました。\n以下のメニューを選択してＯＫを押して下さい。";
// Long enough for a slow Wine start, short enough to fail a hung test.
constexpr DWORD kRobotTimeoutMs = 15000;
// Stands for the static text, which has no id of its own.
constexpr int kStaticText = -1;

enum class Ending { kOkButton, kEnterKey, kEscapeKey, kCloseBox, kCancelCommand };

// One control as the robot found it, with where its template puts it.
struct ControlView {
    int id;
    int x, y, width, height;  // dialog units
    bool present;
    std::wstring className;
    std::wstring text;
    LONG_PTR style;
    RECT rect;      // in the dialog's client coordinates
    RECT expected;  // the template's rectangle mapped to pixels
    LRESULT check;  // BM_GETCHECK right after the dialog opened
};

struct FinishRobot {
    // What to do: the check boxes to click, in order, then how to end.
    std::vector<int> clicks;
    Ending ending;
    std::vector<ControlView> controls;  // ids and dialog units filled in by the test
    // What the robot saw.
    bool found;
    std::wstring title;
    LONG_PTR style;
    HWND owner;
    RECT frame;
    RECT client;
    RECT expectedClient;
    std::vector<LRESULT> checksBeforeEnding;  // of every control, after the clicks
    bool gone;
    HANDLE thread;
};

HWND FindControl(HWND dialog, int id) {
    return id == kStaticText ? FindWindowExW(dialog, nullptr, L"Static", nullptr) : GetDlgItem(dialog, id);
}

void End(HWND dialog, Ending ending) {
    HWND ok = GetDlgItem(dialog, IDOK);
    switch (ending) {
    case Ending::kOkButton:
        ClickButton(dialog, IDOK);
        break;
    case Ending::kEnterKey:
        PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        break;
    case Ending::kEscapeKey:
        PostMessageW(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        break;
    case Ending::kCloseBox:
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Ending::kCancelCommand:
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    }
}

DWORD WINAPI RobotThread(LPVOID context) {
    FinishRobot* r = static_cast<FinishRobot*>(context);
    HWND dialog = WaitForDialog(GetCurrentProcessId(), kTitle, kRobotTimeoutMs);
    if (dialog == nullptr) return 0;
    r->found = true;
    r->title = WindowText(dialog);
    r->style = GetWindowLongPtrW(dialog, GWL_STYLE);
    r->owner = GetWindow(dialog, GW_OWNER);
    GetWindowRect(dialog, &r->frame);
    GetClientRect(dialog, &r->client);
    for (ControlView& c : r->controls) {
        HWND control = FindControl(dialog, c.id);
        c.present = control != nullptr;
        if (!c.present) continue;
        c.className = ClassName(control);
        c.text = WindowText(control);
        c.style = GetWindowLongPtrW(control, GWL_STYLE);
        c.rect = ClientRectOf(dialog, control);
        c.expected = DialogUnits(dialog, c.x, c.y, c.width, c.height);
        c.check = SendMessageW(control, BM_GETCHECK, 0, 0);
    }
    for (int id : r->clicks) SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    for (const ControlView& c : r->controls)
        r->checksBeforeEnding.push_back(c.present ? SendMessageW(FindControl(dialog, c.id), BM_GETCHECK, 0, 0) : -1);
    End(dialog, r->ending);
    r->gone = WaitForWindowGone(dialog, kRobotTimeoutMs);
    return 0;
}

ControlView Control(int id, int x, int y, int width, int height) {
    ControlView c{};
    c.id = id;
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    return c;
}

// The two templates' controls as designed, in dialog units.
std::vector<ControlView> FullTemplate() {
    return {Control(IDOK, 120, 64, 50, 14), Control(kStaticText, 5, 5, 165, 20),
            Control(IDC_README_CHECK, 5, 35, 160, 10), Control(IDC_RUN_GAME_CHECK, 5, 50, 165, 10)};
}

std::vector<ControlView> ShortTemplate() {
    return {Control(IDOK, 120, 55, 50, 14), Control(kStaticText, 5, 5, 165, 20),
            Control(IDC_RUN_GAME_CHECK, 5, 35, 165, 10)};
}

class FinishDialogWin32Test : public ::testing::Test {
protected:
    void SetUp() override { SetOwnerWindow(nullptr); }
    void TearDown() override {
        SetOwnerWindow(nullptr);
        if (owner_ != nullptr) DestroyWindow(owner_);
    }
    HWND MakeOwner(HINSTANCE instance) {
        owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_CAPTION | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                                 nullptr, instance, nullptr);
        return owner_;
    }
    // Runs the dialog with the robot answering it; choices start both set,
    // so that every flag the dialog reports is one it wrote.
    FinishChoices Run(const char* label, FinishRobot* robot) {
        robot->found = false;
        robot->gone = false;
        robot->thread = CreateThread(nullptr, 0, RobotThread, robot, 0, nullptr);
        FinishChoices choices = {true, true};
        RunFinishDialog(label, &choices);
        WaitForSingleObject(robot->thread, INFINITE);
        CloseHandle(robot->thread);
        return choices;
    }
    HWND owner_ = nullptr;
};

void ExpectCentred(const RECT& frame) {
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES);
    int height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ((width - (frame.right - frame.left)) / 2, frame.left);
    EXPECT_EQ((height - (frame.bottom - frame.top)) / 2, frame.top);
}

TEST_F(FinishDialogWin32Test, FullTemplateShowsTheLabelAndReportsTheBoxes) {
    ASSERT_NE(nullptr, MakeOwner(GetModuleHandleW(nullptr)));
    SetOwnerWindow(owner_);
    FinishRobot robot{};
    robot.controls = FullTemplate();
    robot.clicks = {IDC_README_CHECK, IDC_RUN_GAME_CHECK};
    robot.ending = Ending::kOkButton;
    // 表 and ソ end in byte 5C, which a byte-wise conversion would break.
    FinishChoices choices = Run("表ソ.txtを読む", &robot);

    ASSERT_TRUE(robot.found);
    EXPECT_TRUE(robot.gone);
    EXPECT_EQ(kTitle, robot.title);
    EXPECT_EQ(owner_, robot.owner);
    EXPECT_EQ(static_cast<LONG_PTR>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              robot.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    ExpectCentred(robot.frame);
    struct Expected {
        const wchar_t* className;
        std::wstring text;
        LONG_PTR type;
        LRESULT check;  // BST_UNCHECKED for controls without a check
        LRESULT afterClicks;
    } expected[] = {
        {L"Button", L"OK", BS_DEFPUSHBUTTON, BST_UNCHECKED, BST_UNCHECKED},
        {L"Static", kMessage, SS_LEFT, BST_UNCHECKED, BST_UNCHECKED},
        {L"Button", Wide("表ソ.txtを読む"), BS_AUTOCHECKBOX, BST_UNCHECKED, BST_CHECKED},
        {L"Button", L"ゲームの実行", BS_AUTOCHECKBOX, BST_CHECKED, BST_UNCHECKED},
    };
    ASSERT_EQ(4u, robot.controls.size());
    for (size_t i = 0; i < robot.controls.size(); ++i) {
        const ControlView& c = robot.controls[i];
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(c.present);
        EXPECT_EQ(0, _wcsicmp(expected[i].className, c.className.c_str())) << c.className.c_str();
        EXPECT_EQ(expected[i].text, c.text);
        EXPECT_EQ(expected[i].type, c.style & (c.id == kStaticText ? SS_TYPEMASK : BS_TYPEMASK));
        ExpectRect(c.expected, c.rect);
        if (c.id != kStaticText) {
            EXPECT_EQ(expected[i].check, c.check);
            EXPECT_EQ(expected[i].afterClicks, robot.checksBeforeEnding[i]);
        }
    }
    EXPECT_TRUE(choices.openReadme);
    EXPECT_FALSE(choices.runGame);
}

TEST_F(FinishDialogWin32Test, ShortTemplateHasOnlyTheGameBox) {
    FinishRobot robot{};
    robot.controls = ShortTemplate();
    robot.controls.push_back(Control(IDC_README_CHECK, 0, 0, 0, 0));
    robot.ending = Ending::kOkButton;
    FinishChoices choices = Run(nullptr, &robot);

    ASSERT_TRUE(robot.found);
    EXPECT_TRUE(robot.gone);
    EXPECT_EQ(kTitle, robot.title);
    EXPECT_EQ(nullptr, robot.owner);
    ExpectCentred(robot.frame);
    const wchar_t* texts[] = {L"OK", kMessage, L"ゲームの実行"};
    for (size_t i = 0; i < 3; ++i) {
        const ControlView& c = robot.controls[i];
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(c.present);
        EXPECT_EQ(texts[i], c.text);
        ExpectRect(c.expected, c.rect);
    }
    EXPECT_EQ(BST_CHECKED, robot.controls[2].check);
    EXPECT_FALSE(robot.controls[3].present) << "no readme box";
    EXPECT_TRUE(choices.runGame);
    EXPECT_FALSE(choices.openReadme);
}

TEST_F(FinishDialogWin32Test, ClientAreasFollowTheTemplates) {
    struct Case {
        const char* label;
        int width, height;
    } cases[] = {{"readme", 177, 85}, {nullptr, 174, 75}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        FinishRobot robot{};
        robot.controls = {Control(IDOK, 0, 0, c.width, c.height)};  // the client area, mapped like a control
        robot.ending = Ending::kOkButton;
        Run(c.label, &robot);
        ASSERT_TRUE(robot.found);
        RECT mapped = robot.controls[0].expected;
        ExpectRect({0, 0, mapped.right - mapped.left, mapped.bottom - mapped.top}, robot.client);
    }
}

TEST_F(FinishDialogWin32Test, EveryEndingButOkLeavesBothUnchosen) {
    struct Case {
        const char* what;
        const char* label;
        std::vector<int> clicks;
        Ending ending;
        bool runGame, openReadme;
    } cases[] = {
        {"OK with both ticked", "readme", {IDC_README_CHECK}, Ending::kOkButton, true, true},
        {"Enter presses the default OK", "readme", {IDC_README_CHECK}, Ending::kEnterKey, true, true},
        {"OK with neither ticked", "readme", {IDC_RUN_GAME_CHECK}, Ending::kOkButton, false, false},
        {"Escape key", "readme", {IDC_README_CHECK}, Ending::kEscapeKey, false, false},
        {"close box", "readme", {IDC_README_CHECK}, Ending::kCloseBox, false, false},
        {"Cancel command", "readme", {IDC_README_CHECK}, Ending::kCancelCommand, false, false},
        {"Escape key, short", nullptr, {}, Ending::kEscapeKey, false, false},
        {"close box, short", nullptr, {}, Ending::kCloseBox, false, false},
        {"Enter, short", nullptr, {}, Ending::kEnterKey, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FinishRobot robot{};
        robot.controls = c.label != nullptr ? FullTemplate() : ShortTemplate();
        robot.clicks = c.clicks;
        robot.ending = c.ending;
        FinishChoices choices = Run(c.label, &robot);
        ASSERT_TRUE(robot.found);
        EXPECT_TRUE(robot.gone);
        EXPECT_EQ(c.runGame, choices.runGame);
        EXPECT_EQ(c.openReadme, choices.openReadme);
    }
}

TEST_F(FinishDialogWin32Test, NoDialogWhenTheOwnersModuleLacksTheTemplates) {
    ASSERT_NE(nullptr, MakeOwner(GetModuleHandleW(L"kernel32.dll")));
    SetOwnerWindow(owner_);
    FinishChoices choices = {true, true};
    RunFinishDialog("readme", &choices);
    EXPECT_FALSE(choices.runGame);
    EXPECT_FALSE(choices.openReadme);
    EXPECT_EQ(nullptr, WaitForDialog(GetCurrentProcessId(), kTitle, 0));
}

class LaunchWin32Test : public ::testing::Test {
protected:
    // A copy of a small system program that ends by itself, under name in dir.
    void CopySystemProgram(const std::string& name) {
        wchar_t system[MAX_PATH];
        ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
        std::wstring from = std::wstring(system) + L"\\hostname.exe";
        std::wstring to = Wide((dir_ / name).c_str());
        ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "hostname.exe in the system folder";
    }
    TempFolder dir_;
    CurrentFolderGuard cwd_;
};

TEST_F(LaunchWin32Test, StartProgramStartsTheQuotedNameInTheCurrentFolder) {
    ASSERT_EQ(0, PlatformCreateFolder((dir_ / "ゲーム 表").c_str()));
    CopySystemProgram("表 ソ.exe");
    CopySystemProgram("ゲーム 表\\game.exe");
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir_.Path().c_str()));
    struct Case {
        const char* what;
        std::string name;
        bool started;
    } cases[] = {
        // Unquoted, the first word would be taken for the program.
        {"name with a blank", "表 ソ.exe", true},
        {"folder with a blank", "ゲーム 表\\game.exe", true},
        {"full path", dir_ / "表 ソ.exe", true},
        {"missing program", "missing.exe", false},
        {"missing folder", "none\\game.exe", false},
        {"name that does not fit with its quotes", std::string(kMaxPath - 2, 'a') + ".exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.started, StartProgram(c.name.c_str()) != 0);
    }
}

TEST_F(LaunchWin32Test, OpenDocumentOfAMissingFileReturns) {
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir_.Path().c_str()));
    // Whatever the shell shows about the missing file is answered.
    BoxAnswerer answerer{};
    StartBoxAnswerer(&answerer, GetCurrentProcessId(), IDOK, 3000);
    OpenDocument("存在しない表.txt");
    FinishBoxAnswerer(&answerer);
    EXPECT_EQ(nullptr, WaitForDialog(GetCurrentProcessId(), L"", 0)) << "no box is left open";
}

}  // namespace
