#include "services/SystemLibraries_win32.h"

#include <delayimp.h>

#include <cwchar>

namespace {

// SetDefaultDllDirectories, looked up by name: Windows 7 without its update
// lacks it, and a static import would stop the program from starting there.
using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
// A library file name, and the system folder with it.
constexpr size_t kLibraryNameChars = 64;
constexpr size_t kLibraryPathChars = MAX_PATH;
// What a library that cannot be had ends the program with: the code of every
// fatal error. Nothing else can be shown, as the window library may be the one
// missing.
constexpr UINT kMissingLibraryExit = static_cast<UINT>(-1);

bool s_restricted = false;

// A delay-loaded library's first call: the library comes from the system
// folder or the program ends, so the helper never falls back to a search of
// its own.
FARPROC WINAPI LoadDelayedLibrary(unsigned notice, PDelayLoadInfo info) {
    if (notice != dliNotePreLoadLibrary) return nullptr;
    HMODULE library = LoadSystemLibrary(info->szDll);
    if (library == nullptr) ExitProcess(kMissingLibraryExit);
    return reinterpret_cast<FARPROC>(library);
}

}  // namespace

// The runtime's delay-load helper calls the notice hook before it loads a
// library; delayimp.h declares both hooks with C linkage.
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedLibrary;
PfnDliHook __pfnDliFailureHook2 = nullptr;

bool RestrictLibrarySearch() {
    SetDllDirectoryW(L"");
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefaultDirectories = kernel == nullptr
                                     ? nullptr
                                     : reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "SetDefaultDllDirectories")));
    s_restricted =
        setDefaultDirectories != nullptr && setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    return s_restricted;
}

HMODULE LoadSystemLibrary(const char* name) {
    wchar_t wide[kLibraryNameChars];
    size_t length = 0;
    // Library names are ASCII; anything else, or a path, is refused.
    for (; name[length] != '\0'; ++length) {
        unsigned char c = static_cast<unsigned char>(name[length]);
        if (length + 1 >= kLibraryNameChars || c >= 0x80 || c == '\\' || c == '/' || c == ':') return nullptr;
        wide[length] = static_cast<wchar_t>(c);
    }
    wide[length] = L'\0';
    if (length == 0) return nullptr;
    if (s_restricted) return LoadLibraryExW(wide, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the restriction the system folder is named in full.
    wchar_t path[kLibraryPathChars];
    UINT folder = GetSystemDirectoryW(path, kLibraryPathChars);
    if (folder == 0 || folder + 1 + length >= kLibraryPathChars) return nullptr;
    swprintf(path + folder, kLibraryPathChars - folder, L"\\%ls", wide);
    return LoadLibraryW(path);
}
