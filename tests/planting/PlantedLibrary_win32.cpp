// The body of every planted DLL: when a process loads it, it leaves an empty
// file named after itself with ".loaded" added, beside itself. Its exports
// are forwarders to the system library of its name (see MakeForwarders.cpp),
// so the process goes on working. Built without the C runtime: it imports
// nothing but kernel32, and so plants nothing of its own.
#include <windows.h>

namespace {

constexpr const wchar_t kMarkerSuffix[] = L".loaded";
constexpr DWORD kPathChars = MAX_PATH;

void LeaveMarker(HINSTANCE self) {
    wchar_t path[kPathChars + sizeof(kMarkerSuffix) / sizeof(wchar_t)];
    DWORD length = GetModuleFileNameW(self, path, kPathChars);
    if (length == 0 || length >= kPathChars) return;
    for (DWORD i = 0; i < sizeof(kMarkerSuffix) / sizeof(wchar_t); ++i) path[length + i] = kMarkerSuffix[i];
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" BOOL WINAPI PlantedLibraryMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
    return TRUE;
}
