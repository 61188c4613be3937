#include "services/Messages.h"

#include <gtest/gtest.h>

#include <cstdio>
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
    {"no working folder told as a question", kMsgNoWorkingFolder, kNoWorkingFolderMessage, kTellFlags, true, true, false},
    {"damaged package shown as a question", kMsgDamagedPackage, kDamagedPackageMessage, kTellFlags, true, true, false},
    {"missing start-up files told as a retry", kMsgMissingStartupFiles, kMissingStartupFilesMessage, kTellFlags, true,
     true, false},
    {"second copy's box owned or copied", kMsgAlreadyRunning, kAlreadyRunningMessage, kTellFlags, false, false, false},
    {"no main window told as a retry", kMsgNoMainWindow, kNoMainWindowMessage, kTellFlags, true, true, false},
    {"unopened data file without Retry", kMsgOpenFailed, kOpenFailedMessage, kRetryFlags, true, true, true},
    {"unopened settings file without Retry", kMsgCannotOpenSections, kCannotOpenSectionsMessage, kRetryFlags, true,
     true, true},
    {"unterminated section without Retry", kMsgUnterminatedSection, kUnterminatedSectionMessage, kRetryFlags, true,
     true, true},
    {"old version told as a question", kMsgVersionTooOld, kVersionTooOldMessage, kTellFlags, true, true, false},
    {"updated copy told as a question", kMsgAlreadyUpdated, kAlreadyUpdatedMessage, kTellFlags, true, true, false},
    {"not installed told as a question", kMsgNotInstalled, kNotInstalledMessage, kTellFlags, true, true, false},
    {"unknown folder told as a question", kMsgFolderUnknown, kFolderUnknownMessage, kTellFlags, true, true, false},
    {"manual choice without Yes/No", kMsgAskManualChoice, kAskManualChoiceMessage, kQuestionFlags, true, false, true},
    {"network drive told as a question", kMsgNetworkDrive, kNetworkDriveMessage, kTellFlags, true, true, false},
    {"long path told as a question", kMsgPathTooLong, kPathTooLongMessage, kTellFlags, true, true, false},
    {"unspellable folder told as a question", kMsgUnspellableFolder, kUnspellableFolderMessage, kTellFlags, true, true,
     false},
    {"drive root without Retry/Cancel", kMsgRootFolder, kRootFolderMessage, kRetryFlags, true, true, true},
    {"game not found told as a question", kMsgGameNotFound, kGameNotFoundMessage, kTellFlags, true, true, false},
    {"confirmation copied or without Yes/No", kMsgConfirmUpdate, kConfirmUpdateMessage, kQuestionFlags, true, false,
     true},
    {"cancelled update told as a question", kMsgUpdateCancelled, kUpdateCancelledMessage, kTellFlags, true, true, false},
    {"file in use without Retry", kMsgWriteInUse, kWriteInUseMessage, kRetryFlags, true, true, true},
    {"no permission without Retry", kMsgWriteDenied, kWriteDeniedMessage, kRetryFlags, true, true, true},
    {"full disk without Retry, or its number read from a name", kMsgWriteDiskFull, kWriteDiskFullMessage, kRetryFlags,
     true, true, true},
    {"read-only file without Retry", kMsgWriteReadOnly, kWriteReadOnlyMessage, kRetryFlags, true, true, true},
    {"folder in the way without Retry", kMsgWriteFolderInTheWay, kWriteFolderInTheWayMessage, kRetryFlags, true, true,
     true},
    {"other write failure without Retry", kMsgWriteOther, kWriteOtherMessage, kRetryFlags, true, true, true},
    {"failed restore without Retry", kMsgRestoreFailed, kRestoreFailedMessage, kRetryFlags, true, true, true},
    {"an update that stands told as undone, or without Retry", kMsgOriginalLeft, kOriginalLeftMessage, kRetryFlags,
     true, true, true},
    {"another update running without Retry", kMsgAnotherUpdateRunning, kAnotherUpdateRunningMessage, kRetryFlags, true,
     true, true},
    {"changed installed file asked Retry, which would only fail again", kMsgSourceMismatch, kSourceMismatchMessage,
     kTellFlags, true, true, false},
    {"unwritten INI file told as a question", kMsgIniNotWritten, kIniNotWrittenMessage, kTellFlags, true, true, false},
    {"unreadable INI file told as a question", kMsgIniUnreadable, kIniUnreadableMessage, kTellFlags, true, true, false},
    {"read-only INI file told as a question", kMsgIniReadOnly, kIniReadOnlyMessage, kTellFlags, true, true, false},
};

// The text as the box must show it: "N" and "D" in its "%s", a number read as 0.
std::string Filled(const char* format) {
    char text[kMessageBuffer];
    snprintf(text, sizeof(text), format, "N", "D", 0.0);
    return text;
}

TEST_F(MessagesTest, EachMessageGetsItsTextAndItsBox) {
    static_assert(sizeof(kMessageCases) / sizeof(kMessageCases[0]) == kMsgCount, "a row for every message");
    for (const MessageCase& c : kMessageCases) {
        ResetScriptedBoxes();
        SetScriptedOwnerTitle("T アップデータ");
        QueueBoxAnswer(c.flags == kRetryFlags ? kAnswerRetry : c.flags == kQuestionFlags ? kAnswerYes : kAnswerOk);
        EXPECT_EQ(c.agreed, ShowMessage(c.message, "N", "D")) << c.fault;
        ASSERT_EQ(1u, ShownBoxes().size()) << c.fault;
        const ShownBox& box = ShownBoxes()[0];
        EXPECT_EQ(Filled(c.text), box.text) << c.fault;
        EXPECT_EQ(c.flags, box.flags) << c.fault;
        EXPECT_EQ(c.owned, box.owned) << c.fault;
        // An owned box bears the main window's title; the lone box its own caption.
        EXPECT_EQ(c.owned ? "T アップデータ" : "D", box.caption) << c.fault;
        EXPECT_EQ(c.clipboard ? box.text : "", ClipboardText()) << c.fault;
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

}  // namespace
