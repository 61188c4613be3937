// The SETUP dialog from its template, driven by the robot.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "tests/robot/Robot_win32.h"
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
};

DWORD WINAPI DriveSetup(LPVOID context) {
    SetupScript* s = static_cast<SetupScript*>(context);
    HWND dialog = WaitForDialog(GetCurrentProcessId(), Wide("アップデート先のフォルダの指定"), kWaitMs);
    if (dialog == nullptr) return 0;
    s->title = WindowText(dialog);
    s->shownAtStart = WindowText(GetDlgItem(dialog, IDC_INSTALL_PATH));
    s->defaultButton = (SendMessageW(dialog, DM_GETDEFID, 0, 0) >> 16) == DC_HASDEFID &&
                       (GetWindowLongW(GetDlgItem(dialog, IDOK), GWL_STYLE) & BS_DEFPUSHBUTTON) != 0;
    s->editRect = RECT{10, 26, 10 + 130, 26 + 12};
    MapDialogRect(dialog, &s->editRect);
    RECT actual;
    GetWindowRect(GetDlgItem(dialog, IDC_INSTALL_PATH), &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    s->browseRect = actual;
    if (s->browseThenCancel) {
        SetDlgItemTextW(dialog, IDC_INSTALL_PATH, L"typed before browsing");
        ClickButton(dialog, IDC_BROWSE);
        // The shell's folder browser is the next dialog of the process.
        HWND browser = nullptr;
        for (DWORD waited = 0; browser == nullptr && waited < kWaitMs; waited += 50) {
            Sleep(50);
            HWND candidate = WaitForDialog(GetCurrentProcessId(), L"", 50);
            if (candidate != nullptr && candidate != dialog) browser = candidate;
        }
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
    SetupScript script{Wide("D:\\ゲーム\\表示"), false, IDOK, {}, {}, {}, true, {}, {}, false};
    EXPECT_TRUE(RunScripted(&script, path, sizeof(path)));
    ASSERT_TRUE(script.done);
    EXPECT_EQ(Wide("アップデート先のフォルダの指定"), script.title);
    EXPECT_EQ(Wide("C:\\Program Files\\ゲーム"), script.shownAtStart);
    EXPECT_FALSE(script.defaultButton);
    EXPECT_EQ(script.editRect.left, script.browseRect.left);
    EXPECT_EQ(script.editRect.top, script.browseRect.top);
    EXPECT_STREQ("D:\\ゲーム\\表示", path);
}

TEST(SetupDialogWin32Test, CancelKeepsThePathAndBrowseCancelledRestoresTheProposal) {
    char path[260] = "C:\\Program Files\\Proposal";
    SetupScript script{L"", true, IDCANCEL, {}, {}, {}, true, {}, {}, false};
    EXPECT_FALSE(RunScripted(&script, path, sizeof(path)));
    ASSERT_TRUE(script.done);
    EXPECT_EQ(L"C:\\Program Files\\Proposal", script.shownAfterBrowse);
    EXPECT_STREQ("C:\\Program Files\\Proposal", path);
}

}  // namespace
