// The SETUP dialog from its template, driven by the robot.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/DialogLayout_win32.h"
#include "tests/support/UpdaterProcess_win32.h"
#include "services/Messages.h"
#include "update/InstallFolder.h"
#include "update/UpdateDialogs.h"

namespace {

constexpr DWORD kWaitMs = 20000;

struct SetupScript {
    std::wstring typed;  // text typed before the final button
    bool browseThenCancel;
    int finalButton;
    // What the robot saw.
    std::wstring title, shownAtStart, shownAfterBrowse;
    bool defaultButton;
    RECT editRect, browseRect;
    bool done;
    // Every control in template order: id, class, text, rectangle in dialog units mapped.
    std::vector<std::wstring> controls;
    bool hasSystemMenu;
};

BOOL CALLBACK CollectControl(HWND control, LPARAM context) {
    SetupScript* s = reinterpret_cast<SetupScript*>(context);
    HWND dialog = GetParent(control);
    RECT r = ClientRectOf(dialog, control);
    // Back to dialog units, so that the template's numbers can be compared.
    RECT unit = {0, 0, 4, 8};
    MapDialogRect(dialog, &unit);
    wchar_t line[512];
    swprintf(line, 512, L"%d %ls [%ls] %ld,%ld,%ld,%ld", GetDlgCtrlID(control), ClassName(control).c_str(),
             WindowText(control).c_str(), (r.left * 4 + unit.right / 2) / unit.right,
             (r.top * 8 + unit.bottom / 2) / unit.bottom, ((r.right - r.left) * 4 + unit.right / 2) / unit.right,
             ((r.bottom - r.top) * 8 + unit.bottom / 2) / unit.bottom);
    s->controls.push_back(line);
    return TRUE;
}

DWORD WINAPI DriveSetup(LPVOID context) {
    SetupScript* s = static_cast<SetupScript*>(context);
    HWND dialog = WaitForDialog(GetCurrentProcessId(), Wide("アップデート先のフォルダの指定"), kWaitMs);
    if (dialog == nullptr) return 0;
    s->title = WindowText(dialog);
    s->hasSystemMenu = (GetWindowLongW(dialog, GWL_STYLE) & WS_SYSMENU) != 0;
    EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(s));
    s->shownAtStart = WindowText(GetDlgItem(dialog, IDC_INSTALL_PATH));
    s->defaultButton = (SendMessageW(dialog, DM_GETDEFID, 0, 0) >> 16) == DC_HASDEFID &&
                       (GetWindowLongW(GetDlgItem(dialog, IDOK), GWL_STYLE) & BS_DEFPUSHBUTTON) != 0;
    s->editRect = RECT{10, 26, 10 + 130, 26 + 12};
    MapDialogRect(dialog, &s->editRect);
    s->browseRect = ClientRectOf(dialog, GetDlgItem(dialog, IDC_INSTALL_PATH));
    if (s->browseThenCancel) {
        SetDlgItemTextW(dialog, IDC_INSTALL_PATH, L"typed before browsing");
        ClickButton(dialog, IDC_BROWSE);
        // The shell's folder browser is the next dialog of the process.
        HWND browser = WaitForOtherDialog(GetCurrentProcessId(), {dialog}, kWaitMs);
        if (browser == nullptr) return 0;
        ClickButton(browser, IDCANCEL);
        WaitForWindowGone(browser, kWaitMs);
        Sleep(200);
        s->shownAfterBrowse = WindowText(GetDlgItem(dialog, IDC_INSTALL_PATH));
    }
    if (!s->typed.empty()) SetDlgItemTextW(dialog, IDC_INSTALL_PATH, s->typed.c_str());
    ClickButton(dialog, s->finalButton);
    s->done = WaitForWindowGone(dialog, kWaitMs);
    return 0;
}

bool RunScripted(SetupScript* script, char* path, size_t capacity) {
    HANDLE thread = CreateThread(nullptr, 0, DriveSetup, script, 0, nullptr);
    bool ok = RunSetupDialog(path, capacity);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return ok;
}

TEST(SetupDialogWin32Test, NextTakesTheTypedFolder) {
    char path[260] = "C:\\Program Files\\ゲーム";
    SetupScript script{Wide("D:\\ゲーム\\表示"), false, IDOK, {}, {}, {}, true, {}, {}, false, {}, false};
    EXPECT_TRUE(RunScripted(&script, path, sizeof(path)));
    ASSERT_TRUE(script.done);
    EXPECT_EQ(Wide("アップデート先のフォルダの指定"), script.title);
    EXPECT_EQ(Wide("C:\\Program Files\\ゲーム"), script.shownAtStart);
    EXPECT_FALSE(script.defaultButton);
    EXPECT_EQ(script.editRect.left, script.browseRect.left);
    EXPECT_EQ(script.editRect.top, script.browseRect.top);
    EXPECT_STREQ("D:\\ゲーム\\表示", path);
    EXPECT_TRUE(script.hasSystemMenu);
    const std::wstring unnamed = std::to_wstring(static_cast<WORD>(IDC_STATIC));  // -1 as a template stores it
    std::vector<std::wstring> expected = {
        std::to_wstring(IDOK) + L" Button [" + Wide("次へ") + L"] 115,75,40,14",
        std::to_wstring(IDCANCEL) + L" Button [" + Wide("ｷｬﾝｾﾙ") + L"] 160,75,40,14",
        std::to_wstring(IDC_INSTALL_PATH) + L" Edit [" + Wide("C:\\Program Files\\ゲーム") + L"] 10,26,130,12",
        std::to_wstring(IDC_BROWSE) + L" Button [" + Wide("参照(&B)") + L"] 145,25,50,14",
        unnamed + L" Button [] 5,15,195,30",
        unnamed + L" Static [" + Wide("[参照]ボタンで、既存のフォルダを参照できます\n[次へ]ボタンでインストールを開始します") +
            L"] 5,50,191,20",
        unnamed + L" Static [" + Wide("アップデート先フォルダを指定してください") + L"] 10,5,190,8",
    };
    EXPECT_EQ(expected, script.controls);
}

TEST(SetupDialogWin32Test, CancelKeepsThePathAndBrowseCancelledRestoresTheProposal) {
    char path[260] = "C:\\Program Files\\Proposal";
    SetupScript script{L"", true, IDCANCEL, {}, {}, {}, true, {}, {}, false, {}, false};
    EXPECT_FALSE(RunScripted(&script, path, sizeof(path)));
    ASSERT_TRUE(script.done);
    EXPECT_EQ(L"C:\\Program Files\\Proposal", script.shownAfterBrowse);
    EXPECT_STREQ("C:\\Program Files\\Proposal", path);
}

struct TooLongScript {
    std::wstring tooLong, fits;
    std::wstring boxText;
    bool stayed, done;
};

DWORD WINAPI DriveTooLong(LPVOID context) {
    TooLongScript* s = static_cast<TooLongScript*>(context);
    HWND dialog = WaitForDialog(GetCurrentProcessId(), Wide("アップデート先のフォルダの指定"), kWaitMs);
    if (dialog == nullptr) return 0;
    SetDlgItemTextW(dialog, IDC_INSTALL_PATH, s->tooLong.c_str());
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = WaitForBox(GetCurrentProcessId(), dialog, kWaitMs);
    if (box == nullptr) return 0;
    s->boxText = MessageBoxText(box);
    ClickButton(box, IDOK);
    WaitForWindowGone(box, kWaitMs);
    s->stayed = IsWindowVisible(dialog) != FALSE;
    SetDlgItemTextW(dialog, IDC_INSTALL_PATH, s->fits.c_str());
    ClickButton(dialog, IDOK);
    s->done = WaitForWindowGone(dialog, kWaitMs);
    return 0;
}

// A typed path one byte too long for the path buffer is refused with a box,
// never cut and then taken; the dialog stays, and one that just fits is taken.
TEST(SetupDialogWin32Test, TooLongTypedPathIsRefusedNotCut) {
    char path[260] = "C:\\Games\\Proposal";
    TooLongScript script{L"C:\\" + std::wstring(257, L'a'), L"C:\\" + std::wstring(256, L'b'), {}, false, false};
    HANDLE thread = CreateThread(nullptr, 0, DriveTooLong, &script, 0, nullptr);
    EXPECT_TRUE(RunSetupDialog(path, sizeof(path)));
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(Wide(kPathTooLongMessage), script.boxText);
    EXPECT_TRUE(script.stayed);
    ASSERT_TRUE(script.done);
    EXPECT_EQ("C:\\" + std::string(256, 'b'), std::string(path));
}

}  // namespace
