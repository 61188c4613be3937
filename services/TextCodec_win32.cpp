#include "services/TextCodec_win32.h"

namespace {
constexpr UINT kShiftJis = 932;
}

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
    int n = WideCharToMultiByte(kShiftJis, 0, text, -1, buffer, static_cast<int>(capacity), nullptr,
                                &lossy);
    if (n <= 0 || lossy) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}
