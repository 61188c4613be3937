// The copy progress window as the extraction sees it: a sink for per-file and
// overall progress, and the message pump that keeps the single thread's windows
// alive while it is busy. The Windows build shows the real window; a build
// without windows has none and its pump does nothing.
#pragma once

#include <cstdint>

// The phases of a Full walk that the bars show one after the other.
enum ProgressPhase {
    kCheckingPhase,  // the installed files that deltas apply to are read and hashed
    kCopyingPhase,   // the package's files are written
};

// Where an entry's progress goes. beginFile is called when a file starts
// (its destination path and unpacked size), report after every full block of
// output and once more for a partly filled last block. A sink with
// beginPhase is also told each phase with its total, the overall bar's
// range: while checking, beginFile and report tell the file checked and the
// installed bytes hashed; while copying, the package bytes consumed. A sink
// without it hears of the copying alone.
struct ProgressSink {
    void (*beginFile)(void* context, const char* path, int32_t unpackedSize);
    void (*report)(void* context, int64_t fileBytes, int64_t consumed);
    void* context;
    void (*beginPhase)(void* context, ProgressPhase phase, int64_t total) = nullptr;
};

// Opens the copy progress window for total package bytes, closing any open
// one first. Returns the sink that drives it, or null when no window could be
// created; the walk then goes on without one.
const ProgressSink* OpenCopyProgress(int64_t total);

// Destroys the window. Returns 0 when one was open, 1 when none was.
int CloseCopyProgress();

// Dispatches every waiting message of the thread and returns how many it
// dispatched. A quit message rolls back the walk under way (AbortStaging) and
// ends the process with its code, the working folder removed.
int PumpMessages();

// Registers what runs first when a quit message or the end of the Windows
// session ends the process during a walk (null: nothing): a walk on several
// threads stops them there, before its staging is rolled back.
void SetBeforeQuit(void (*handler)());
