#include "services/Messages.h"

#include <cstdarg>

#include "services/MessageBoxes.h"

namespace {

void FormatText(char* buffer, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatMessageText(buffer, capacity, format, args);
    va_end(args);
}

struct NoticeRow {
    Message message;
    MessageNotice notice;
};

// One row per message, in the order of Message.
const NoticeRow kNotices[] = {
    {kMsgNoWorkingFolder, {kNoWorkingFolderMessage, kBoxTell}},
    {kMsgDamagedPackage, {kDamagedPackageMessage, kBoxTell}},
    {kMsgMissingStartupFiles, {kMissingStartupFilesMessage, kBoxTell}},
    {kMsgAlreadyRunning, {kAlreadyRunningMessage, kBoxAlone}},
    {kMsgNoMainWindow, {kNoMainWindowMessage, kBoxTell}},
    {kMsgOpenFailed, {kOpenFailedMessage, kBoxRetryOrEnd}},
    {kMsgCannotOpenSections, {kCannotOpenSectionsMessage, kBoxRetryOrEnd}},
    {kMsgUnterminatedSection, {kUnterminatedSectionMessage, kBoxRetryOrEnd}},
    {kMsgVersionTooOld, {kVersionTooOldMessage, kBoxTell}},
    {kMsgAlreadyUpdated, {kAlreadyUpdatedMessage, kBoxTell}},
    {kMsgNotInstalled, {kNotInstalledMessage, kBoxTell}},
    {kMsgFolderUnknown, {kFolderUnknownMessage, kBoxTell}},
    {kMsgAskManualChoice, {kAskManualChoiceMessage, kBoxQuestion}},
    {kMsgNetworkDrive, {kNetworkDriveMessage, kBoxTell}},
    {kMsgPathTooLong, {kPathTooLongMessage, kBoxTell}},
    {kMsgUnspellableFolder, {kUnspellableFolderMessage, kBoxTell}},
    {kMsgRootFolder, {kRootFolderMessage, kBoxRetryOrEnd}},
    {kMsgGameNotFound, {kGameNotFoundMessage, kBoxTell}},
    {kMsgConfirmUpdate, {kConfirmUpdateMessage, kBoxQuestion}},
    {kMsgUpdateCancelled, {kUpdateCancelledMessage, kBoxTell}},
    {kMsgWriteInUse, {kWriteInUseMessage, kBoxRetryAsked}},
    {kMsgWriteDenied, {kWriteDeniedMessage, kBoxRetryAsked}},
    {kMsgWriteDiskFull, {kWriteDiskFullMessage, kBoxRetryAsked}},
    {kMsgWriteReadOnly, {kWriteReadOnlyMessage, kBoxRetryAsked}},
    {kMsgWriteFolderInTheWay, {kWriteFolderInTheWayMessage, kBoxRetryAsked}},
    {kMsgWriteOther, {kWriteOtherMessage, kBoxRetryAsked}},
    {kMsgRestoreFailed, {kRestoreFailedMessage, kBoxRetryAsked}},
    {kMsgOriginalLeft, {kOriginalLeftMessage, kBoxRetryAsked}},
    {kMsgAnotherUpdateRunning, {kAnotherUpdateRunningMessage, kBoxRetryAsked}},
    {kMsgSourceMismatch, {kSourceMismatchMessage, kBoxTell}},
    {kMsgIniNotWritten, {kIniNotWrittenMessage, kBoxTell}},
    {kMsgIniUnreadable, {kIniUnreadableMessage, kBoxTell}},
    {kMsgIniReadOnly, {kIniReadOnlyMessage, kBoxTell}},
};
static_assert(sizeof(kNotices) / sizeof(kNotices[0]) == kMsgCount, "one row per message");

}  // namespace

MessageNotice NoticeOf(Message message) {
    for (const NoticeRow& row : kNotices)
        if (row.message == message) return row.notice;
    return MessageNotice{kWriteOtherMessage, kBoxTell};
}

bool ShowMessage(Message message, const char* name, const char* detail) {
    MessageNotice notice = NoticeOf(message);
    switch (notice.box) {
        case kBoxRetryOrEnd:
            ShowRetryError(notice.text, name, detail);
            return true;
        case kBoxRetryAsked:
            // A full disk's text also takes a number; here it reads 0.
            return AskRetry(notice.text, name, detail, 0.0);
        case kBoxQuestion:
            return AskYesNo(notice.text, name, detail);
        case kBoxAlone: {
            char text[kMessageBuffer];
            FormatText(text, sizeof(text), notice.text, name);
            BoxShow(text, detail, kBoxOk | kBoxIconError, false);
            return false;
        }
        case kBoxTell:
        default:
            ShowError(notice.text, name, detail);
            return false;
    }
}

Message WriteFailureMessage(WriteFailureReason reason) {
    switch (reason) {
        case kWriteFailureInUse: return kMsgWriteInUse;
        case kWriteFailureDenied: return kMsgWriteDenied;
        case kWriteFailureDiskFull: return kMsgWriteDiskFull;
        case kWriteFailureReadOnly: return kMsgWriteReadOnly;
        case kWriteFailureFolder: return kMsgWriteFolderInTheWay;
        default: return kMsgWriteOther;
    }
}

bool AskRetryAfterWriteFailure(WriteFailureReason reason, const char* path, double neededMegabytes) {
    // Only a full disk's text tells the number; the others leave it unread.
    return AskRetry(NoticeOf(WriteFailureMessage(reason)).text, path, kKeptAsItWas, neededMegabytes);
}

bool AskRetryAfterRestoreFailure(const char* path, const char* original) {
    return ShowMessage(kMsgRestoreFailed, path, original);
}

bool AskRetryAfterOriginalLeft(const char* path, const char* original) {
    return ShowMessage(kMsgOriginalLeft, path, original);
}

bool AskRetryWhileAnotherUpdateRuns(const char* folder) { return ShowMessage(kMsgAnotherUpdateRunning, folder); }
