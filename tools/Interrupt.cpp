#include "tools/Interrupt.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "services/Platform.h"

namespace {

// Read by the handler, which may run on another thread (Windows' console
// control thread) or between any two instructions: a fixed buffer whose
// first byte says whether it holds a path.
char s_partial[kInterruptPathBuffer];
volatile sig_atomic_t s_watching = 0;

void OnInterrupt(int) {
    if (s_watching != 0) PlatformDeleteFromSignal(s_partial);
    _Exit(kInterruptedExit);
}

}  // namespace

void RemovePartialFileOnInterrupt() { signal(SIGINT, OnInterrupt); }

void WatchPartialFile(const char* path) {
    s_watching = 0;
    if (path == nullptr) return;
    if (PlatformPrepareSignalDelete(path, s_partial, sizeof(s_partial))) s_watching = 1;
}
