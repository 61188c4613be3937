#include "services/MessageBoxes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/PathRules.h"
#include "services/Messages.h"

namespace {

int s_allocationsBeforeFailure = -1;

enum class BoxKind { kError, kRetry, kQuestion };

int RunBox(BoxKind kind, const char* format, va_list args) {
    char message[kMessageBuffer];
    FormatMessageText(message, sizeof(message), format, args);
    BoxBringOwnerToFront();
    if (kind != BoxKind::kQuestion) CopyTextToClipboard(message);
    const char* caption = MessageCaption();
    unsigned flags = kind == BoxKind::kError   ? (kBoxOk | kBoxIconError)
                     : kind == BoxKind::kRetry ? (kBoxRetryCancel | kBoxIconError)
                                               : (kBoxYesNo | kBoxIconQuestion);
    return BoxShow(message, caption, flags, true);
}

}  // namespace

void FormatMessageText(char* buffer, size_t capacity, const char* format, va_list args) {
    if (capacity == 0) return;
    int n = vsnprintf(buffer, capacity, format, args);
    if (n < 0) {
        buffer[0] = '\0';
    } else if (static_cast<size_t>(n) >= capacity) {
        // vsnprintf may have cut between the two bytes of a character.
        buffer[CharBoundaryLength(buffer, capacity - 1)] = '\0';
    }
}

void ShowError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    RunBox(BoxKind::kError, format, args);
    va_end(args);
}

void ShowRetryError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int answer = RunBox(BoxKind::kRetry, format, args);
    va_end(args);
    if (answer == kAnswerCancel) exit(-1);
}

bool AskRetry(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int answer = RunBox(BoxKind::kRetry, format, args);
    va_end(args);
    return answer == kAnswerRetry;
}

bool AskYesNo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int answer = RunBox(BoxKind::kQuestion, format, args);
    va_end(args);
    return answer == kAnswerYes;
}

void FailAllocationsAfter(int count) { s_allocationsBeforeFailure = count; }

void* CheckedAlloc(size_t size) {
    void* block = nullptr;
    if (s_allocationsBeforeFailure != 0) {
        if (s_allocationsBeforeFailure > 0) --s_allocationsBeforeFailure;
        block = malloc(size);
    }
    if (block == nullptr)
        BoxShow(kOutOfMemoryMessage, kOutOfMemoryCaption, kBoxOk | kBoxIconError, false);
    return block;
}
