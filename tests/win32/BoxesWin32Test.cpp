// Real message boxes answered by the robot, the real clipboard, and dialog
// placement on the real screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "services/MessageBoxes.h"
#include "services/Window_win32.h"
#include "tests/robot/Robot_win32.h"

namespace {

class BoxesWin32Test : public ::testing::Test {
protected:
    void TearDown() override {
        SetOwnerWindow(nullptr);
        if (owner_ != nullptr) DestroyWindow(owner_);
        FailAllocationsAfter(-1);
    }
    HWND MakeOwner(const wchar_t* title) {
        owner_ = CreateWindowExW(0, L"STATIC", title, WS_POPUP | WS_CAPTION | WS_VISIBLE, 10, 10, 300, 200,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        return owner_;
    }
    BoxAnswerer answerer_{};
    HWND owner_ = nullptr;
};

TEST_F(BoxesWin32Test, ErrorBoxWithoutOwnerHasEmptyCaptionAndFillsTheClipboard) {
    StartBoxAnswerer(&answerer_, GetCurrentProcessId(), IDOK);
    ShowError("[%s]ファイルを開けませんでした。", "表ソ.env");
    ASSERT_TRUE(FinishBoxAnswerer(&answerer_));
    std::wstring expected = Wide("[表ソ.env]ファイルを開けませんでした。");
    EXPECT_EQ(expected, answerer_.text);
    EXPECT_EQ(L"", answerer_.caption);
    EXPECT_EQ(expected, ClipboardUnicode());
    if (GetACP() == 932) {
        EXPECT_EQ(std::string("[表ソ.env]ファイルを開けませんでした。"), ClipboardBytes());
    }
}

TEST_F(BoxesWin32Test, OwnedBoxesTakeTheOwnersTitleAndQuestionsLeaveTheClipboard) {
    SetOwnerWindow(MakeOwner(L"\uff36\uff2f\uff32\uff2e\uff25\uff2c \u30a2\u30c3\u30d7\u30c7\u30fc\u30bf"));
    StartBoxAnswerer(&answerer_, GetCurrentProcessId(), IDRETRY);
    ShowRetryError("Ffopen : ファイル[%s]の読み込みで失敗しました", "a.rct");
    ASSERT_TRUE(FinishBoxAnswerer(&answerer_));
    EXPECT_EQ(WindowText(owner_), answerer_.caption);
    std::wstring retryText = Wide("Ffopen : ファイル[a.rct]の読み込みで失敗しました");
    EXPECT_EQ(retryText, ClipboardUnicode());

    StartBoxAnswerer(&answerer_, GetCurrentProcessId(), IDYES);
    EXPECT_TRUE(AskYesNo("[%s]をアップデートします", "C:\\ゲーム"));
    ASSERT_TRUE(FinishBoxAnswerer(&answerer_));
    EXPECT_EQ(Wide("[C:\\ゲーム]をアップデートします"), answerer_.text);
    StartBoxAnswerer(&answerer_, GetCurrentProcessId(), IDNO);
    EXPECT_FALSE(AskYesNo("[%s]をアップデートします", "C:\\ゲーム"));
    ASSERT_TRUE(FinishBoxAnswerer(&answerer_));
    EXPECT_EQ(retryText, ClipboardUnicode());
}

TEST_F(BoxesWin32Test, OutOfMemoryBoxHasNoOwner) {
    SetOwnerWindow(MakeOwner(L"main"));
    StartBoxAnswerer(&answerer_, GetCurrentProcessId(), IDOK);
    FailAllocationsAfter(0);
    EXPECT_EQ(nullptr, CheckedAlloc(64));
    ASSERT_TRUE(FinishBoxAnswerer(&answerer_));
    EXPECT_EQ(L"malloc", answerer_.caption);
    EXPECT_EQ(Wide("メモリ容量が不足しています。処理を中断します。"), answerer_.text);
}

TEST_F(BoxesWin32Test, CenterOnScreenUsesTheWholeScreen) {
    HWND w = CreateWindowExW(0, L"STATIC", L"c", WS_POPUP, 0, 0, 401, 300, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, w);
    CenterOnScreen(w);
    RECT r;
    GetWindowRect(w, &r);
    HDC dc = GetDC(w);
    int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(w, dc);
    EXPECT_EQ((width - 401) / 2, r.left);
    EXPECT_EQ((height - 300) / 2, r.top);
    EXPECT_EQ(401, r.right - r.left);
    DestroyWindow(w);
}

}  // namespace
