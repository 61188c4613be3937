// Every Japanese text of the updater, and the one place that decides which
// box a reported failure or a question gets. Units below the top return
// results; the caller names the message here, and this unit picks the text,
// the buttons, the icon and the caption. The texts are the program's own,
// byte for byte; a message's variable parts are "%s" arguments, never the
// format itself.
#pragma once

#include <cstddef>

// The words on the windows: button labels, titles, the default game name.
constexpr const char* kExitLabel = "終了";
constexpr const char* kDirectXLabel = "DirectXインストール";
constexpr const char* kUpdateLabel = "アップデート";
constexpr const char* kBrowseTitle = "フォルダを作成する場所を選択してください";
// The main window's title, filled with the TITLEBAR value.
constexpr const char* kUpdaterTitleFormat = "%s アップデータ";
// The game's name when the settings give none.
constexpr const char* kDefaultTitleBar = "ＶＯＲＮＥＬ アプリケーション";

// Start-up.
constexpr const char* kNoWorkingFolderMessage =
    "作業用の一時フォルダを作成できませんでした。\n一時フォルダ（TEMP）の設定と、ディスクの空き容量を確認してください。";
constexpr const char* kDamagedPackageMessage =
    "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
constexpr const char* kMissingStartupFilesMessage =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";
constexpr const char* kAlreadyRunningMessage = "[ %s ] は既に起動中です";
constexpr const char* kNoMainWindowMessage = "メインウィンドウを作成できませんでした。";

// Data files and the settings file's sections.
constexpr const char* kOpenFailedMessage = "Ffopen : ファイル[%s]の読み込みで失敗しました";
constexpr const char* kCannotOpenSectionsMessage = "[%s]ファイルを開けませんでした。";
constexpr const char* kUnterminatedSectionMessage = "[設定.env]の[%s]が終了していません";

// Finding the install folder.
constexpr const char* kVersionTooOldMessage = "アップデート元のバージョンが不適合です";
constexpr const char* kAlreadyUpdatedMessage = "既にアップデート適応済みです";
constexpr const char* kNotInstalledMessage = "本体がインストールされていません";
constexpr const char* kFolderUnknownMessage =
    "インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください";
constexpr const char* kAskManualChoiceMessage =
    "[ %s ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？";
constexpr const char* kNetworkDriveMessage =
    "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。";
constexpr const char* kPathTooLongMessage =
    "指定されたフォルダのパスが長すぎます。\n短いパスのフォルダを選択して下さい。";
// %s is the folder as the user sees it.
constexpr const char* kUnspellableFolderMessage =
    "フォルダ「%s」の名前には、このプログラムで扱えない文字が含まれています。\n別のフォルダを選択して下さい。";
constexpr const char* kRootFolderMessage = "ルートには適応できません";
constexpr const char* kGameNotFoundMessage = "指定されたフォルダには [ %s ] 本体は発見できませんでした";
constexpr const char* kConfirmUpdateMessage = "[%s]をアップデートします";
constexpr const char* kUpdateCancelledMessage = "アップデートを中止しました";

// Writing into the game's folder; the second %s is kKeptAsItWas.
constexpr const char* kKeptAsItWas = "ゲームのフォルダは更新前のまま残っています。\n";
constexpr const char* kWriteInUseMessage =
    "ファイル「%s」は他のプログラムが使用しているため、書き換えられませんでした。\n%s"
    "ゲームを終了してから［再試行］を押してください。";
constexpr const char* kWriteDeniedMessage =
    "「%s」に書き込む権限がありません。\n%s"
    "アップデータを右クリックして「管理者として実行」を選び、起動し直してください。";
// The administrator box (resources/ElevateDialog.rc): %s is the install
// folder. Nothing was written yet.
constexpr const char* kNeedsAdministratorMessage =
    "このアカウントには、ゲームのフォルダ「%s」に書き込む権限がありません。\n"
    "［管理者として続行］を押すと、管理者の権限でアップデートできます。\n"
    "ゲームの設定と起動は、このアカウントのまま行われます。";
constexpr const char* kWriteDiskFullMessage =
    "ディスクの空き容量が足りないため、「%s」を書き込めませんでした。\n%s"
    "アップデートには約 %.1f MB の空き容量が必要です。空きを作ってから［再試行］を押してください。";
constexpr const char* kWriteReadOnlyMessage =
    "ファイル「%s」は読み取り専用のため、書き換えられませんでした。\n%s"
    "読み取り専用の設定を外してから［再試行］を押してください。";
constexpr const char* kWriteFolderInTheWayMessage =
    "「%s」と同じ名前のファイルまたはフォルダがあるため、書き込めませんでした。\n%s"
    "移動または削除してから［再試行］を押してください。";
constexpr const char* kWriteOtherMessage = "「%s」を書き込めませんでした。\n%s［再試行］を押すと、もう一度試します。";
constexpr const char* kRestoreFailedMessage =
    "ファイル「%s」を元に戻せませんでした。\n元のファイルは「%s」に残っています。\n"
    "［再試行］を押すか、次にアップデータを実行したときに元に戻されます。";
// The update before stands; only an original it replaced is left to delete.
// %s the file as the player knows it, %s where its original was left.
constexpr const char* kOriginalLeftMessage =
    "ファイル「%s」は更新されていますが、置き換えられた元のファイルを削除できませんでした。\n"
    "元のファイルは「%s」に残っています。\n"
    "［再試行］を押すか、次にアップデータを実行したときに削除されます。";
// %s is the install folder. Nothing was touched: the other update owns the folder.
constexpr const char* kAnotherUpdateRunningMessage =
    "ゲームのフォルダ「%s」は、別のアップデータが更新中です。\n"
    "そのアップデートが終わってから［再試行］を押してください。";
// %s is the file as the package names it, then kKeptAsItWas. Nothing was
// written: the installed file is not the one the update's difference applies to.
constexpr const char* kSourceMismatchMessage =
    "ファイル「%s」は、このアップデートを適用できるバージョンではありません。\n"
    "ファイルが変更されたか、壊れている可能性があります。\n%s"
    "ゲームを再インストールしてからアップデートするか、差分ではない完全版のアップデータを使用してください。";
// Shown by the system beside the updater when the user signs out or restarts
// during an update.
constexpr const char* kUpdateRunningReason = "ゲームのアップデート中です。終わるまでお待ちください。";

// The [ini] lines.
constexpr const char* kIniNotWrittenMessage =
    "INIファイル[%s]に設定を書き込めませんでした。\nファイルは元のまま残っています。";
constexpr const char* kIniUnreadableMessage = "INIファイル[%s]を読み込めなかったため、設定を書き込みませんでした。";
constexpr const char* kIniReadOnlyMessage = "INIファイル[%s]は読み取り専用のため、設定を書き込めませんでした。";

// An exhausted heap, told without an owner under its own caption.
constexpr const char* kOutOfMemoryMessage = "メモリ容量が不足しています。処理を中断します。";
constexpr const char* kOutOfMemoryCaption = "malloc";

// Why writing into the game's folder failed, as far as a player can act on it.
enum WriteFailureReason {
    kWriteFailureOther = 0,
    kWriteFailureInUse,     // another program (the running game) holds the file
    kWriteFailureDenied,    // no permission to write in that folder
    kWriteFailureDiskFull,  // no room left on the disk
    kWriteFailureReadOnly,  // the file to replace is read-only
    kWriteFailureFolder,    // a folder stands where a file goes, or a file where a folder goes
};

// Everything the updater tells or asks, by what happened.
enum Message {
    kMsgNoWorkingFolder,
    kMsgDamagedPackage,
    kMsgMissingStartupFiles,
    kMsgAlreadyRunning,  // %s: the updater's title
    kMsgNoMainWindow,
    kMsgOpenFailed,              // %s: the data file
    kMsgCannotOpenSections,      // %s: the settings file
    kMsgUnterminatedSection,     // %s: the section's name
    kMsgVersionTooOld,
    kMsgAlreadyUpdated,
    kMsgNotInstalled,
    kMsgFolderUnknown,
    kMsgAskManualChoice,  // %s: the game's name
    kMsgNetworkDrive,
    kMsgPathTooLong,
    kMsgUnspellableFolder,  // %s: the folder
    kMsgRootFolder,
    kMsgGameNotFound,  // %s: the game's name
    kMsgConfirmUpdate,  // %s: the install folder
    kMsgUpdateCancelled,
    kMsgWriteInUse,  // these six: %s the file, then kKeptAsItWas
    kMsgWriteDenied,
    kMsgWriteDiskFull,  // and the megabytes the update needs
    kMsgWriteReadOnly,
    kMsgWriteFolderInTheWay,
    kMsgWriteOther,
    kMsgRestoreFailed,  // %s the file, %s where its original was left
    kMsgOriginalLeft,   // %s the file, %s where its original was left
    kMsgAnotherUpdateRunning,  // %s the install folder
    kMsgSourceMismatch,        // %s the file, then kKeptAsItWas
    kMsgIniNotWritten,  // these three: %s the INI file
    kMsgIniUnreadable,
    kMsgIniReadOnly,
    kMsgCount
};

// The box a message gets.
enum BoxChoice {
    kBoxTell,        // OK, error icon, owned, text to the clipboard
    kBoxRetryOrEnd,  // Retry/Cancel, error icon, owned, text to the clipboard; Cancel ends the program with -1
    kBoxRetryAsked,  // as kBoxRetryOrEnd, but the answer goes back to the caller
    kBoxQuestion,    // Yes/No, question icon, owned; the clipboard is untouched
    kBoxAlone,       // OK, error icon, no owner, under the caption the caller gives; no clipboard
};

struct MessageNotice {
    const char* text;
    BoxChoice box;
};

// The text and box of message; an unknown value gets kWriteOtherMessage's text in a kBoxTell box.
MessageNotice NoticeOf(Message message);

// Shows message in its box with name and then detail as its "%s" arguments.
// Returns true for Retry or Yes, false for any other answer. A kBoxRetryOrEnd
// box ends the program with -1 on Cancel; a kBoxAlone box is captioned with detail.
bool ShowMessage(Message message, const char* name = "", const char* detail = "");

// The message that tells reason.
Message WriteFailureMessage(WriteFailureReason reason);

// Asks Retry/Cancel after writing path into the game's folder failed for
// reason, the folder left as it was; neededMegabytes is told for a full disk.
// True for Retry. Never ends the program.
bool AskRetryAfterWriteFailure(WriteFailureReason reason, const char* path, double neededMegabytes);

// Asks Retry/Cancel after the original of path could not be put back; it was
// left as original. True for Retry. Never ends the program.
bool AskRetryAfterRestoreFailure(const char* path, const char* original);

// Asks Retry/Cancel after an update that stands could not delete the original
// of path, left as original. True for Retry. Never ends the program.
bool AskRetryAfterOriginalLeft(const char* path, const char* original);

// Asks Retry/Cancel after another updater was found updating folder. True for
// Retry. Never ends the program.
bool AskRetryWhileAnotherUpdateRuns(const char* folder);
