// Every error report and question the updater puts to the user. Each formats
// its text printf-style into a bounded buffer, brings the owner window to the
// front, and shows a modal box owned by it and captioned with its title. The
// text of both kinds of error box also goes to the clipboard.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formatted message with its terminator; none of the program's texts nears it.
constexpr size_t kMessageBuffer = 1024;
// Owner window title read for each caption.
constexpr size_t kCaptionBuffer = 260;

// Box flags and answers as the system numbers them.
constexpr unsigned kBoxOk = 0x00;
constexpr unsigned kBoxRetryCancel = 0x05;
constexpr unsigned kBoxYesNo = 0x04;
constexpr unsigned kBoxIconError = 0x10;
constexpr unsigned kBoxIconQuestion = 0x20;
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;
constexpr int kAnswerRetry = 4;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

// OK box with the error icon; the text also goes to the clipboard.
void ShowError(const char* format, ...);
// Retry/Cancel box with the error icon; the text also goes to the clipboard.
// Cancel ends the process at once with -1 and leaves the working folder.
void ShowRetryError(const char* format, ...);
// Retry/Cancel box with the error icon, as ShowRetryError shows it, whose
// answer goes back to the caller: true for Retry. Never ends the process.
bool AskRetry(const char* format, ...);
// Yes/No box with the question icon; true only for Yes. The clipboard is untouched.
bool AskYesNo(const char* format, ...);

// Formats into buffer, cutting an over-long text at a character boundary.
void FormatMessageText(char* buffer, size_t capacity, const char* format, va_list args);

// Heap block of size bytes, or null after an out-of-memory box without owner.
// Callers must take their failure path on null.
void* CheckedAlloc(size_t size);
// Makes the allocations after the next count ones fail (-1: never), so that
// the failure paths can be exercised.
void FailAllocationsAfter(int count);

// The owner window's title, in a buffer that the next call overwrites.
const char* MessageCaption();
// Puts text on the clipboard. Returns 0, or -1 when no memory block was had.
int CopyTextToClipboard(const char* text);

// Platform side of the boxes.
// Brings the owner window, if any, to the foreground.
void BoxBringOwnerToFront();
// Shows a modal box (owned by the owner window when owned is true) and returns
// the answer, or 0 when the box could not be shown.
int BoxShow(const char* text, const char* caption, unsigned flags, bool owned);
