#include "services/MessageBoxes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "services/ScriptedBoxes.h"
#include "tests/support/PackageBuilder.h"

namespace {

class MessageBoxesTest : public ::testing::Test {
protected:
    void SetUp() override { ResetScriptedBoxes(); }
};

std::string Format(size_t capacity, const char* format, ...) {
    char buffer[64];
    va_list args;
    va_start(args, format);
    FormatMessageText(buffer, capacity, format, args);
    va_end(args);
    return buffer;
}

TEST_F(MessageBoxesTest, FormattingIsCutAtACharacterBoundary) {
    EXPECT_EQ("[abc]", Format(64, "[%s]", "abc"));
    EXPECT_EQ("abcd", Format(5, "%s", "abcdef"));
    // "ab" then 表 (two bytes) does not fit in 4 bytes with its terminator.
    EXPECT_EQ("ab", Format(4, "%s", "ab表"));
    EXPECT_EQ("ab表", Format(5, "%s", "ab表"));
}

TEST_F(MessageBoxesTest, ErrorsGoToTheClipboardQuestionsDoNot) {
    SetScriptedOwnerTitle("ＶＯＲＮＥＬ アップデータ");
    ShowError("[%s]ファイルを開けませんでした。", "install.env");
    ASSERT_EQ(1u, ShownBoxes().size());
    EXPECT_EQ("[install.env]ファイルを開けませんでした。", ShownBoxes()[0].text);
    EXPECT_EQ("ＶＯＲＮＥＬ アップデータ", ShownBoxes()[0].caption);
    EXPECT_EQ(0x10u, ShownBoxes()[0].flags);
    EXPECT_EQ(ShownBoxes()[0].text, ClipboardText());

    QueueBoxAnswer(kAnswerNo);
    EXPECT_FALSE(AskYesNo("[%s]をアップデートします", "C:\\Game"));
    QueueBoxAnswer(kAnswerYes);
    EXPECT_TRUE(AskYesNo("[%s]をアップデートします", "C:\\Game"));
    QueueBoxAnswer(0);  // a box that could not be shown
    EXPECT_FALSE(AskYesNo("x"));
    EXPECT_EQ(0x24u, ShownBoxes()[1].flags);
    EXPECT_EQ("[C:\\Game]をアップデートします", ShownBoxes()[1].text);
    EXPECT_EQ("[install.env]ファイルを開けませんでした。", ClipboardText());

    QueueBoxAnswer(kAnswerRetry);
    ShowRetryError("Ffopen : ファイル[%s]の読み込みで失敗しました", "a.rct");
    EXPECT_EQ(0x15u, ShownBoxes().back().flags);
    EXPECT_EQ("Ffopen : ファイル[a.rct]の読み込みで失敗しました", ClipboardText());
}

TEST_F(MessageBoxesTest, CaptionIsEmptyBeforeAnOwnerExists) {
    ShowError("x");
    EXPECT_EQ("", ShownBoxes()[0].caption);
    EXPECT_TRUE(ShownBoxes()[0].owned);
}

TEST_F(MessageBoxesTest, OverlongMessagesAreCut) {
    std::string path(2000, 'p');
    ShowError("[%s]", path.c_str());
    EXPECT_EQ(kMessageBuffer - 1, ShownBoxes()[0].text.size());
}

TEST(MessageBoxesDeathTest, CancelEndsTheProcessWithMinusOne) {
    EXPECT_EXIT(
        {
            QueueBoxAnswer(kAnswerCancel);
            ShowRetryError("x");
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "");
}

TEST_F(MessageBoxesTest, CheckedAllocReportsExhaustionWithoutOwner) {
    SetScriptedOwnerTitle("main");
    FailAllocationsAfter(1);
    void* first = CheckedAlloc(16);
    EXPECT_NE(nullptr, first);
    free(first);
    EXPECT_EQ(nullptr, CheckedAlloc(16));
    FailAllocationsAfter(-1);
    ASSERT_EQ(1u, ShownBoxes().size());
    EXPECT_EQ("メモリ容量が不足しています。処理を中断します。", ShownBoxes()[0].text);
    EXPECT_EQ("malloc", ShownBoxes()[0].caption);
    EXPECT_FALSE(ShownBoxes()[0].owned);
    EXPECT_EQ("", ClipboardText());
}

}  // namespace
