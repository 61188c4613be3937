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

namespace {

// A run of double-byte characters that NTFS takes for the run starting at
// target: first..last (as lead << 8 | trail) map one to one onto it.
struct NameFoldRun {
    uint16_t first;
    uint16_t last;
    uint16_t target;
};

// The lower-case letters that NTFS upper-cases, and the second spellings of
// one character (NEC's and IBM's rows of the same symbols and kanji), each
// to the spelling a name is compared by. Sorted by first.
constexpr NameFoldRun kNameFoldRuns[] = {
    {0x8281, 0x829A, 0x8260},  // full-width a-z
    {0x83BF, 0x83D6, 0x839F},  // Greek
    {0x8470, 0x847E, 0x8440},  // Cyrillic, before the gap at 0x847F
    {0x8480, 0x8491, 0x844F},
    {0x8790, 0x8790, 0x81E0}, {0x8791, 0x8791, 0x81DF}, {0x8792, 0x8792, 0x81E7},
    {0x8795, 0x8795, 0x81E3}, {0x8796, 0x8796, 0x81DB}, {0x8797, 0x8797, 0x81DA},
    {0x879A, 0x879A, 0x81E6}, {0x879B, 0x879B, 0x81BF}, {0x879C, 0x879C, 0x81BE},
    {0xEEEF, 0xEEF8, 0x8754},  // small Roman numerals
    {0xEEF9, 0xEEF9, 0x81CA},
    {0xFA40, 0xFA49, 0x8754},  // small Roman numerals
    {0xFA4A, 0xFA53, 0x8754},  // Roman numerals
    {0xFA54, 0xFA54, 0x81CA}, {0xFA55, 0xFA57, 0xEEFA}, {0xFA58, 0xFA58, 0x878A},
    {0xFA59, 0xFA59, 0x8782}, {0xFA5A, 0xFA5A, 0x8784}, {0xFA5B, 0xFA5B, 0x81E6},
    {0xFA5C, 0xFA7E, 0xED40},  // kanji, IBM's row to NEC's
    {0xFA80, 0xFA9B, 0xED63}, {0xFA9C, 0xFAFC, 0xED80}, {0xFB40, 0xFB5B, 0xEDE1},
    {0xFB5C, 0xFB7E, 0xEE40}, {0xFB80, 0xFB9B, 0xEE63}, {0xFB9C, 0xFBFC, 0xEE80},
    {0xFC40, 0xFC4B, 0xEEE1},
};

uint16_t FoldNameCharacter(uint16_t c) {
    for (const NameFoldRun& run : kNameFoldRuns)
        if (c >= run.first && c <= run.last) return static_cast<uint16_t>(run.target + (c - run.first));
    return c;
}

}  // namespace

void FoldFileName(char* text) {
    size_t length = strlen(text);
    for (size_t i = 0, next = 0; i < length; i = next) {
        next = NextCharIndex(text, length, i);
        if (next - i == 1) {
            text[i] = static_cast<char>(FoldAsciiLetter(static_cast<uint8_t>(text[i])));
            continue;
        }
        uint16_t c = static_cast<uint16_t>(static_cast<uint8_t>(text[i]) << 8 | static_cast<uint8_t>(text[i + 1]));
        uint16_t folded = FoldNameCharacter(c);
        text[i] = static_cast<char>(folded >> 8);
        text[i + 1] = static_cast<char>(folded & 0xFF);
    }
}

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
