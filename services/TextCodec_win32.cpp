#include "services/TextCodec_win32.h"

#include <cwchar>
#include <string>

namespace {
constexpr UINT kShiftJis = 932;

// True when the Shift-JIS text reads back as exactly the UTF-16 it came from:
// the codec's own checks let some near spellings through on some systems.
bool ReadsBackAs(const char* sjis, const wchar_t* wide) {
    int n = MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, sjis, -1, nullptr, 0);
    if (n <= 0 || static_cast<size_t>(n) != wcslen(wide) + 1) return false;
    std::wstring back(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, sjis, -1, &back[0], n);
    return wcscmp(back.c_str(), wide) == 0;
}

}  // namespace

bool SjisToWide(const char* text, wchar_t* buffer, size_t capacity) {
    if (capacity == 0) return false;
    int n = MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, text, -1, buffer,
                                static_cast<int>(capacity));
    if (n <= 0) {
        buffer[0] = L'\0';
        return false;
    }
    return true;
}

bool WideToSjis(const wchar_t* text, char* buffer, size_t capacity) {
    if (capacity == 0) return false;
    BOOL lossy = FALSE;
    // No best fit: é must not quietly become e and name another file.
    int n = WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, text, -1, buffer,
                                static_cast<int>(capacity), nullptr, &lossy);
    if (n <= 0 || lossy || !ReadsBackAs(buffer, text)) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}
