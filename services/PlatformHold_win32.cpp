// Windows side of the held file: opened with no sharing at all, so another
// open or a deletion fails with a sharing violation, and deleted when its
// handle closes, by the release or by the system at the end of the process.
#include "services/PlatformHold.h"

#include <windows.h>

#include <new>

#include "services/Platform.h"
#include "services/WidePath_win32.h"

struct PlatformHold {
    HANDLE handle;
};

PlatformHoldResult PlatformHoldFile(const char* path, PlatformHold** hold) {
    wchar_t wide[kWidePathBuffer];
    if (!ToWidePath(path, wide, kWidePathBuffer) || !PlatformChangeAllowed()) return kHoldFailed;
    HANDLE handle = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? kHoldBusy : kHoldFailed;
    PlatformHold* held = new (std::nothrow) PlatformHold{handle};
    if (held == nullptr) {
        CloseHandle(handle);
        return kHoldFailed;
    }
    *hold = held;
    return kHoldTaken;
}

void PlatformReleaseHold(PlatformHold* hold) {
    if (hold == nullptr) return;
    CloseHandle(hold->handle);
    delete hold;
}
