#include "base/PathRules.h"

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

bool EndsInSeparator(const char* path) {
    size_t n = strlen(path);
    if (n == 0 || path[n - 1] != '\\') return false;
    // A lone backslash has no byte before it that could make it a trail byte.
    return n == 1 || !IsLeadByte(static_cast<uint8_t>(path[n - 2]));
}

char* EnsureTrailingBackslash(char* path, size_t capacity) {
    size_t n = strlen(path);
    if (n == 0 || EndsInSeparator(path)) return path;
    if (n + 2 > capacity) return path;
    path[n] = '\\';
    path[n + 1] = '\0';
    return path;
}

char* StripTrailingBackslash(char* path) {
    size_t n = strlen(path);
    if (n >= 2 && EndsInSeparator(path)) path[n - 1] = '\0';
    return path;
}

size_t FolderPartLength(const char* path) {
    size_t start = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
    size_t folderEnd = start;
    for (size_t i = start; path[i] != '\0'; ++i) {
        uint8_t c = static_cast<uint8_t>(path[i]);
        if (IsLeadByte(c) && path[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/') folderEnd = i + 1;
    }
    return folderEnd;
}

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

bool JoinPath(char* dst, size_t capacity, const char* folder, const char* name) {
    size_t a = strlen(folder);
    size_t b = strlen(name);
    if (capacity == 0) return false;
    // An empty folder would make the name a path from the root of the drive.
    if (a == 0 || a + 1 + b + 1 > capacity) {
        dst[0] = '\0';
        return false;
    }
    memcpy(dst, folder, a);
    dst[a] = '\\';
    memcpy(dst + a + 1, name, b + 1);
    return true;
}

void FoldToLowerSjis(char* text) {
    for (size_t i = 0; text[i] != '\0'; ++i) {
        uint8_t c = static_cast<uint8_t>(text[i]);
        if (IsLeadByte(c)) {
            if (text[i + 1] == '\0') break;
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            text[i] = static_cast<char>(c - 'A' + 'a');
        }
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
