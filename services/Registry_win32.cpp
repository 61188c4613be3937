// The game key in the Windows registry, through the W functions with names
// and data converted from and to code page 932, so that Japanese names and
// values are stored as the same characters whatever the system's code page.
#include <windows.h>

#include <cstring>

#include "services/Registry.h"
#include "services/TextCodec_win32.h"
#include "services/WidePath_win32.h"

namespace {

// Wide room for a key path, a value name or a value's text.
constexpr size_t kWideRegistryText = kRegistryReadBuffer;

void CopyCut(char* out, size_t capacity, const char* text) {
    if (capacity == 0) return;
    strncpy(out, text, capacity);
    out[capacity - 1] = '\0';
}

}  // namespace

int RegReadString(const char* global, const char* local, const char* valueName, const char* defaultText,
                  char* out, size_t capacity) {
    CopyCut(out, capacity, defaultText);
    char path[kRegistryPathBuffer];
    wchar_t widePath[kWideRegistryText], wideName[kWideRegistryText];
    if (!FormatGameKeyPath(global, local, path, sizeof(path)) ||
        !SjisToWide(path, widePath, kWideRegistryText) || !SjisToWide(valueName, wideName, kWideRegistryText))
        return -1;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, widePath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return -1;
    // Room for the longest text whose Shift-JIS form fits the read buffer.
    wchar_t data[kRegistryReadBuffer + 1] = {};
    DWORD type = 0;
    DWORD size = kRegistryReadBuffer * sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, wideName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return -1;
    data[size / sizeof(wchar_t) < kRegistryReadBuffer ? size / sizeof(wchar_t) : kRegistryReadBuffer] = L'\0';
    // The data, terminator included, must fit the read buffer as Shift-JIS.
    // A value the game's installer left can be a folder under a user name
    // that Shift-JIS cannot spell ("InstTo"); its short form names it then.
    char text[kRegistryReadBuffer];
    if (!SystemPathToSjis(data, text, sizeof(text))) return -1;
    CopyCut(out, capacity, text);
    return 0;
}

int RegWriteStringFlush(const char* global, const char* local, const char* valueName, const char* text,
                        bool flush) {
    char path[kRegistryPathBuffer];
    wchar_t widePath[kWideRegistryText], wideName[kWideRegistryText];
    wchar_t wideText[kWideTextBuffer];
    if (!FormatGameKeyPath(global, local, path, sizeof(path)) ||
        !SjisToWide(path, widePath, kWideRegistryText) || !SjisToWide(valueName, wideName, kWideRegistryText) ||
        !SjisToWide(text, wideText, kWideTextBuffer))
        return -1;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, widePath, 0, const_cast<wchar_t*>(L""), 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return -1;
    DWORD bytes = static_cast<DWORD>((wcslen(wideText) + 1) * sizeof(wchar_t));
    LONG status = RegSetValueExW(key, wideName, 0, REG_SZ, reinterpret_cast<const BYTE*>(wideText), bytes);
    if (status == ERROR_SUCCESS && flush) RegFlushKey(key);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : -1;
}
