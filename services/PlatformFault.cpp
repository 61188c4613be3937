#include "services/Platform.h"

#include <atomic>

namespace {
// Counted from every thread of a walk.
std::atomic<int> s_changesBeforeFailure{-1};
}

void PlatformFailChangesAfter(int count) { s_changesBeforeFailure = count; }

bool PlatformChangeAllowed() {
    int left = s_changesBeforeFailure.load();
    for (;;) {
        if (left < 0) return true;
        if (left == 0) return false;
        if (s_changesBeforeFailure.compare_exchange_weak(left, left - 1)) return true;
    }
}

bool PlatformChangesStopped() { return s_changesBeforeFailure.load() == 0; }
