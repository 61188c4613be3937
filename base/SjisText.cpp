#include "base/SjisText.h"

#include <cstring>

namespace {

struct LeadByteTable {
    bool lead[256];
    constexpr LeadByteTable() : lead() {
        for (int b = 0x81; b <= 0x9F; ++b) lead[b] = true;
        for (int b = 0xE0; b <= 0xFC; ++b) lead[b] = true;
    }
};

constexpr LeadByteTable kLeadBytes;

}  // namespace

bool IsLeadByte(uint8_t byte) { return kLeadBytes.lead[byte]; }

bool IsTrailByte(uint8_t byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

size_t NextCharIndex(const char* text, size_t length, size_t i) {
    return (IsLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < length) ? i + 2 : i + 1;
}

size_t NextCharIndex(const char* text, size_t i) {
    return (IsLeadByte(static_cast<uint8_t>(text[i])) && text[i + 1] != '\0') ? i + 2 : i + 1;
}

void ReplaceSjisByte(char* text, size_t length, char from, char to) {
    for (size_t i = 0; i < length; i = NextCharIndex(text, length, i))
        if (text[i] == from) text[i] = to;
}

void ReplaceSjisByte(char* text, char from, char to) { ReplaceSjisByte(text, strlen(text), from, to); }

size_t CharBoundaryLength(const char* text, size_t limit) {
    size_t i = 0;
    while (i < limit && text[i] != '\0') {
        size_t step = 1;
        if (IsLeadByte(static_cast<uint8_t>(text[i]))) {
            if (text[i + 1] == '\0') break;  // a lead byte whose second byte was cut off
            step = 2;
        }
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

bool CopyText(char* dst, size_t capacity, const char* src) {
    if (capacity == 0) return false;
    dst[0] = '\0';
    return AppendText(dst, capacity, src);
}

bool AppendText(char* dst, size_t capacity, const char* src) {
    if (capacity == 0) return false;
    size_t used = strnlen(dst, capacity - 1);
    size_t room = capacity - 1 - used;
    size_t want = strlen(src);
    size_t take = want <= room ? want : CharBoundaryLength(src, room);
    memcpy(dst + used, src, take);
    dst[used + take] = '\0';
    return take == want;
}

void FoldToLowerSjis(char* text, size_t length) {
    for (size_t i = 0; i < length; i = NextCharIndex(text, length, i)) {
        uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= 'A' && c <= 'Z') text[i] = static_cast<char>(c - 'A' + 'a');
    }
}

void FoldToLowerSjis(char* text) { FoldToLowerSjis(text, strlen(text)); }

bool EqualsFoldedSjis(const char* a, const char* b) {
    for (size_t i = 0, next = 0;; i = next) {
        next = NextCharIndex(a, i);
        for (size_t k = i; k < next; ++k) {
            char x = a[k], y = b[k];
            if (next - i == 1) {
                if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
                if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
            }
            if (x != y) return false;
        }
        if (a[i] == '\0') return true;
    }
}

bool ContainsSjis(const char* haystack, const char* needle) {
    size_t n = strlen(needle);
    for (size_t i = 0; haystack[i] != '\0';) {
        if (strncmp(haystack + i, needle, n) == 0) return true;
        i += (IsLeadByte(static_cast<uint8_t>(haystack[i])) && haystack[i + 1] != '\0') ? 2 : 1;
    }
    return n == 0;
}
