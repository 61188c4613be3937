// Loading a library from the system folder by its bare name: what is
// loaded, and the names that are refused before anything is searched.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "services/SystemLibraries_win32.h"

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = towlower(c);
    return text;
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? Lower(path) : L"";
}

// This test program never restricts its own search, so the library is named
// with the system folder in full, as on a system without the restriction.
TEST(SystemLibrariesTest, BareNameLoadsFromTheSystemFolder) {
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    ASSERT_GT(n, 0u);
    HMODULE library = LoadSystemLibrary("winmm.dll");
    ASSERT_NE(nullptr, library);
    EXPECT_EQ(Lower(folder) + L"\\winmm.dll", ModulePath(library));
    EXPECT_NE(nullptr, GetProcAddress(library, "timeGetTime"));
    FreeLibrary(library);
    EXPECT_EQ(nullptr, LoadSystemLibrary("no-such-library.dll"));
}

// A name that is a path, or not plain ASCII, would name another folder or be
// mistaken for one: it is refused.
TEST(SystemLibrariesTest, NamesThatAreNotBareFileNamesAreRefused) {
    std::string longest(63, 'a');
    struct Case { const char* what; std::string name; } cases[] = {
        {"empty", ""},
        {"a relative path", "..\\winmm.dll"},
        {"a path with slashes", "sub/winmm.dll"},
        {"a drive", "C:winmm.dll"},
        {"a full path", "C:\\windows\\system32\\winmm.dll"},
        {"not ASCII", "winmm\xE9.dll"},
        {"longer than a library name", longest + ".dll"},
    };
    for (const Case& c : cases) EXPECT_EQ(nullptr, LoadSystemLibrary(c.name.c_str())) << c.what;
}

}  // namespace
