#include "services/Messages.h"

#include <gtest/gtest.h>

#include <string>

#include "services/MessageBoxes.h"
#include "services/ScriptedBoxes.h"

namespace {

constexpr unsigned kTellFlags = 0x10;
constexpr unsigned kRetryFlags = 0x15;
constexpr unsigned kQuestionFlags = 0x24;

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScriptedBoxes();
        SetScriptedOwnerTitle("T アップデータ");
    }
    void TearDown() override { ResetScriptedBoxes(); }
};

// Each message shown with "N" and "D" as its arguments, answered Retry, Yes or OK.
struct MessageCase {
    const char* fault;  // what a wrong row would do to the player
    Message message;
    const char* text;
    unsigned flags;
    bool owned;
    bool clipboard;
    bool agreed;  // what ShowMessage returns
};

const MessageCase kMessageCases[] = {
    // Start-up.
    {"no working folder told with the wrong icon", kMsgNoWorkingFolder,
     "作業用の一時フォルダを作成できませんでした。\n一時フォルダ（TEMP）の設定と、ディスクの空き容量を確認してください。",
     kTellFlags, true, true, false},
    {"damaged package shown as a question", kMsgDamagedPackage,
     "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。", kTellFlags, true, true, false},
    {"missing start-up files not told", kMsgMissingStartupFiles,
     "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。",
     kTellFlags, true, true, false},
    {"second copy's box owned or copied to the clipboard", kMsgAlreadyRunning, "[ N ] は既に起動中です", kTellFlags,
     false, false, false},
    {"no main window told as a retry", kMsgNoMainWindow, "メインウィンドウを作成できませんでした。", kTellFlags, true,
     true, false},
    // Data files and sections: Retry, Cancel ends.
    {"unopened data file without Retry", kMsgOpenFailed, "Ffopen : ファイル[N]の読み込みで失敗しました", kRetryFlags,
     true, true, true},
    {"unopened settings file without Retry", kMsgCannotOpenSections, "[N]ファイルを開けませんでした。", kRetryFlags,
     true, true, true},
    {"unterminated section without Retry", kMsgUnterminatedSection, "[設定.env]の[N]が終了していません",
     kRetryFlags, true, true, true},
    // Finding the install folder.
    {"old version told as a question", kMsgVersionTooOld, "アップデート元のバージョンが不適合です", kTellFlags, true,
     true, false},
    {"updated copy told as a question", kMsgAlreadyUpdated, "既にアップデート適応済みです", kTellFlags, true, true,
     false},
    {"not installed told as a question", kMsgNotInstalled, "本体がインストールされていません", kTellFlags, true, true,
     false},
    {"unknown folder told as a question", kMsgFolderUnknown,
     "インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください", kTellFlags, true,
     true, false},
    {"manual choice offered without Yes/No", kMsgAskManualChoice,
     "[ N ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？", kQuestionFlags, true,
     false, true},
    {"network drive told as a question", kMsgNetworkDrive,
     "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。", kTellFlags, true, true, false},
    {"long path told as a question", kMsgPathTooLong,
     "指定されたフォルダのパスが長すぎます。\n短いパスのフォルダを選択して下さい。", kTellFlags, true, true, false},
    {"unspellable folder told as a question", kMsgUnspellableFolder,
     "フォルダ「N」の名前には、このプログラムで扱えない文字が含まれています。\n別のフォルダを選択して下さい。",
     kTellFlags, true, true, false},
    {"drive root without its Retry/Cancel", kMsgRootFolder, "ルートには適応できません", kRetryFlags, true, true, true},
    {"game not found told as a question", kMsgGameNotFound, "指定されたフォルダには [ N ] 本体は発見できませんでした",
     kTellFlags, true, true, false},
    {"confirmation copied to the clipboard or without Yes/No", kMsgConfirmUpdate, "[N]をアップデートします",
     kQuestionFlags, true, false, true},
    {"cancelled update told as a question", kMsgUpdateCancelled, "アップデートを中止しました", kTellFlags, true, true,
     false},
    // Writing into the game's folder: Retry/Cancel, the answer returned.
    {"file in use without Retry", kMsgWriteInUse,
     "ファイル「N」は他のプログラムが使用しているため、書き換えられませんでした。\nDゲームを終了してから［再試行］を押してください。",
     kRetryFlags, true, true, true},
    {"no permission without Retry", kMsgWriteDenied,
     "「N」に書き込む権限がありません。\nDアップデータを右クリックして「管理者として実行」を選び、起動し直してください。",
     kRetryFlags, true, true, true},
    {"full disk without Retry, or its number read from a name", kMsgWriteDiskFull,
     "ディスクの空き容量が足りないため、「N」を書き込めませんでした。\nDアップデートには約 0.0 MB "
     "の空き容量が必要です。空きを作ってから［再試行］を押してください。",
     kRetryFlags, true, true, true},
    {"read-only file without Retry", kMsgWriteReadOnly,
     "ファイル「N」は読み取り専用のため、書き換えられませんでした。\nD読み取り専用の設定を外してから［再試行］を押してください。",
     kRetryFlags, true, true, true},
    {"folder in the way without Retry", kMsgWriteFolderInTheWay,
     "「N」と同じ名前のファイルまたはフォルダがあるため、書き込めませんでした。\nD移動または削除してから［再試行］を押してください。",
     kRetryFlags, true, true, true},
    {"other write failure without Retry", kMsgWriteOther, "「N」を書き込めませんでした。\nD［再試行］を押すと、もう一度試します。",
     kRetryFlags, true, true, true},
    {"failed restore without Retry", kMsgRestoreFailed,
     "ファイル「N」を元に戻せませんでした。\n元のファイルは「D」に残っています。\n"
     "［再試行］を押すか、次にアップデータを実行したときに元に戻されます。",
     kRetryFlags, true, true, true},
    // The [ini] lines.
    {"unwritten INI file told as a question", kMsgIniNotWritten,
     "INIファイル[N]に設定を書き込めませんでした。\nファイルは元のまま残っています。", kTellFlags, true, true, false},
    {"unreadable INI file told as a question", kMsgIniUnreadable,
     "INIファイル[N]を読み込めなかったため、設定を書き込みませんでした。", kTellFlags, true, true, false},
    {"read-only INI file told as a question", kMsgIniReadOnly,
     "INIファイル[N]は読み取り専用のため、設定を書き込めませんでした。", kTellFlags, true, true, false},
};

TEST_F(MessagesTest, EachMessageGetsItsTextAndItsBox) {
    static_assert(sizeof(kMessageCases) / sizeof(kMessageCases[0]) == kMsgCount, "a row for every message");
    for (const MessageCase& c : kMessageCases) {
        ResetScriptedBoxes();
        SetScriptedOwnerTitle("T アップデータ");
        QueueBoxAnswer(c.flags == kRetryFlags ? kAnswerRetry : c.flags == kQuestionFlags ? kAnswerYes : kAnswerOk);
        EXPECT_EQ(c.agreed, ShowMessage(c.message, "N", "D")) << c.fault;
        ASSERT_EQ(1u, ShownBoxes().size()) << c.fault;
        const ShownBox& box = ShownBoxes()[0];
        EXPECT_EQ(c.text, box.text) << c.fault;
        EXPECT_EQ(c.flags, box.flags) << c.fault;
        EXPECT_EQ(c.owned, box.owned) << c.fault;
        // An owned box bears the main window's title; the lone box its own caption.
        EXPECT_EQ(c.owned ? "T アップデータ" : "D", box.caption) << c.fault;
        EXPECT_EQ(c.clipboard ? c.text : "", ClipboardText()) << c.fault;
    }
}

TEST_F(MessagesTest, AskedRetriesGiveTheAnswerBack) {
    QueueBoxAnswer(kAnswerCancel);
    EXPECT_FALSE(ShowMessage(kMsgWriteOther, "N", "D"));  // Cancel must not end the program here
    QueueBoxAnswer(kAnswerNo);
    EXPECT_FALSE(ShowMessage(kMsgConfirmUpdate, "N"));
    QueueBoxAnswer(0);  // a box that could not be shown agrees to nothing
    EXPECT_FALSE(ShowMessage(kMsgAskManualChoice, "N"));
}

// Every reason a write fails names its own cause, and a full disk the room needed.
struct WriteCase {
    const char* fault;
    WriteFailureReason reason;
    Message message;
};

const WriteCase kWriteCases[] = {
    {"running game told as a generic failure", kWriteFailureInUse, kMsgWriteInUse},
    {"missing permission told as a generic failure", kWriteFailureDenied, kMsgWriteDenied},
    {"full disk told without the room it needs", kWriteFailureDiskFull, kMsgWriteDiskFull},
    {"read-only file told as a generic failure", kWriteFailureReadOnly, kMsgWriteReadOnly},
    {"folder in the way told as a generic failure", kWriteFailureFolder, kMsgWriteFolderInTheWay},
    {"unknown cause given a specific cause", kWriteFailureOther, kMsgWriteOther},
};

TEST_F(MessagesTest, WriteFailuresAreAskedByTheirCause) {
    for (const WriteCase& c : kWriteCases) {
        EXPECT_EQ(c.message, WriteFailureMessage(c.reason)) << c.fault;
        ResetScriptedBoxes();
        QueueBoxAnswer(kAnswerRetry);
        EXPECT_TRUE(AskRetryAfterWriteFailure(c.reason, "C:\\Game\\a.dat", 12.34)) << c.fault;
        ASSERT_EQ(1u, ShownBoxes().size()) << c.fault;
        EXPECT_EQ(kRetryFlags, ShownBoxes()[0].flags) << c.fault;
        const std::string& text = ShownBoxes()[0].text;
        EXPECT_NE(std::string::npos, text.find("「C:\\Game\\a.dat」")) << c.fault;
        EXPECT_NE(std::string::npos, text.find(kKeptAsItWas)) << c.fault;
        EXPECT_EQ(c.reason == kWriteFailureDiskFull, text.find("約 12.3 MB") != std::string::npos) << c.fault;
    }
    QueueBoxAnswer(kAnswerCancel);
    EXPECT_FALSE(AskRetryAfterWriteFailure(kWriteFailureInUse, "a", 0));
}

TEST_F(MessagesTest, AFailedRestoreNamesWhereTheOriginalWasLeft) {
    QueueBoxAnswer(kAnswerRetry);
    EXPECT_TRUE(AskRetryAfterRestoreFailure("C:\\Game\\a.dat", "C:\\Game\\.staging\\1.old"));
    ASSERT_EQ(1u, ShownBoxes().size());
    EXPECT_NE(std::string::npos, ShownBoxes()[0].text.find("元のファイルは「C:\\Game\\.staging\\1.old」に残っています"));
}

}  // namespace
