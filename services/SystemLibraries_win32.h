// Where the updater's libraries come from. A setup program is usually started
// from the Downloads folder, where any web page can leave a DLL, and Windows
// looks for a DLL that is not a "known DLL" in the program's own folder first.
// So the updater's import table names only kernel32, advapi32 and the C
// runtime, whose own imports are known DLLs everywhere; every other library
// is delay-loaded, and its first call comes here to load it from the system
// folder alone.
#pragma once

#include <windows.h>

// Makes the system folder the only place that later library loads search,
// the program's own and those the system libraries make (the folder browser,
// the common controls). Call before anything can load a library. Returns
// false on a system without the call (Windows 7 before KB2533623); the
// current folder is then at least taken out of the search.
bool RestrictLibrarySearch();

// Loads the library file name ("winmm.dll") from the system folder, never from
// the program's folder or the current folder; a name the manifest redirects
// (the version 6 common controls) goes where it says. Null when it cannot be
// loaded.
HMODULE LoadSystemLibrary(const char* name);
