#include "services/WidePath_win32.h"

#include <cwchar>

#include "services/TextCodec_win32.h"

namespace {

// Plain paths stop here: CreateDirectoryW leaves room for an 8.3 name below
// MAX_PATH, and the other functions stop at MAX_PATH itself.
constexpr size_t kPlainPathLimit = MAX_PATH - 12;
constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

// Rewrites an absolute or relative wide path in buffer in its "\\?\" form.
bool ToLongForm(wchar_t* buffer, size_t capacity) {
    if (StartsWith(buffer, kLongPrefix)) return true;
    wchar_t full[kWidePathBuffer];
    DWORD n = GetFullPathNameW(buffer, kWidePathBuffer, full, nullptr);
    if (n == 0 || n >= kWidePathBuffer) return false;
    const wchar_t* prefix = kLongPrefix;
    const wchar_t* rest = full;
    if (full[0] == L'\\' && full[1] == L'\\') {
        prefix = kLongUncPrefix;
        rest = full + 2;
    }
    if (wcslen(prefix) + wcslen(rest) + 1 > capacity) return false;
    wcscpy(buffer, prefix);
    wcscat(buffer, rest);
    return true;
}

}  // namespace

bool ToWidePath(const char* path, wchar_t* buffer, size_t capacity) {
    if (!SjisToWide(path, buffer, capacity)) return false;
    if (wcslen(buffer) < kPlainPathLimit) return true;
    if (ToLongForm(buffer, capacity)) return true;
    buffer[0] = L'\0';
    return false;
}

bool SystemPathToSjis(const wchar_t* path, char* buffer, size_t capacity) {
    if (WideToSjis(path, buffer, capacity)) return true;
    wchar_t shortForm[kWidePathBuffer];
    DWORD n = GetShortPathNameW(path, shortForm, kWidePathBuffer);
    if (n == 0 || n >= kWidePathBuffer) return false;
    return WideToSjis(shortForm, buffer, capacity);
}
