#include "services/Platform.h"

namespace {
int s_changesBeforeFailure = -1;
}

void PlatformFailChangesAfter(int count) { s_changesBeforeFailure = count; }

bool PlatformChangeAllowed() {
    if (s_changesBeforeFailure < 0) return true;
    if (s_changesBeforeFailure == 0) return false;
    --s_changesBeforeFailure;
    return true;
}

bool PlatformChangesStopped() { return s_changesBeforeFailure == 0; }
