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
        size_t next = NextCharIndex(text, i);
        // A lead byte whose second byte was cut off ends the text too.
        if (next > limit || (next == i + 1 && IsLeadByte(static_cast<uint8_t>(text[i])))) break;
        i = next;
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

uint32_t FoldAsciiLetter(uint32_t c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

void FoldToLowerSjis(char* text, size_t length) {
    for (size_t i = 0; i < length; i = NextCharIndex(text, length, i))
        text[i] = static_cast<char>(FoldAsciiLetter(static_cast<uint8_t>(text[i])));
}

void FoldToLowerSjis(char* text) { FoldToLowerSjis(text, strlen(text)); }

bool EqualsFoldedSjis(const char* a, const char* b, size_t length) {
    for (size_t i = 0, next = 0; i < length; i = next) {
        next = NextCharIndex(a, length, i);
        if (next - i == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (FoldAsciiLetter(static_cast<uint8_t>(a[i])) != FoldAsciiLetter(static_cast<uint8_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool EqualsFoldedSjis(const char* a, const char* b) {
    size_t length = strlen(a);
    return length == strlen(b) && EqualsFoldedSjis(a, b, length);
}

const char* FindSjis(const char* text, size_t from, const char* needle) {
    size_t n = strlen(needle);
    for (size_t i = from;; i = NextCharIndex(text, i)) {
        if (strncmp(text + i, needle, n) == 0) return text + i;
        if (text[i] == '\0') return nullptr;
    }
}

bool ContainsSjis(const char* haystack, const char* needle) { return FindSjis(haystack, 0, needle) != nullptr; }

size_t FindSjisSeparator(const char* text, size_t length, size_t from, const char* separators) {
    size_t count = strlen(separators);
    for (size_t i = from; i < length; i = NextCharIndex(text, length, i))
        if (memchr(separators, text[i], count) != nullptr) return i;
    return length;
}

size_t FindLastSjisSeparator(const char* text, size_t length, const char* separators) {
    size_t last = length;
    for (size_t i = FindSjisSeparator(text, length, 0, separators); i < length;
         i = FindSjisSeparator(text, length, i + 1, separators))
        last = i;
    return last;
}
