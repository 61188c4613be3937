#include "services/Registry.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool FormatGameKeyPath(const char* global, const char* local, char* buffer, size_t capacity) {
    int n = snprintf(buffer, capacity, "Software\\%s\\%s", global, local);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        if (capacity > 0) buffer[0] = '\0';
        return false;
    }
    return true;
}

int ReadDecimalText(const char* text) {
    long long v = strtoll(text, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

int RegReadInt(const char* global, const char* local, const char* valueName, int defaultValue) {
    char defaultText[32];
    snprintf(defaultText, sizeof(defaultText), "%d", defaultValue);
    char text[kRegistryReadBuffer];
    RegReadString(global, local, valueName, defaultText, text, sizeof(text));
    return ReadDecimalText(text);
}

int RegWriteString(const char* global, const char* local, const char* valueName, const char* text) {
    return RegWriteStringFlush(global, local, valueName, text, false);
}
