#include "base/PathRules.h"

#include <cstring>

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
    size_t length = strlen(path);
    size_t last = FindLastSjisSeparator(path, length, "\\/");
    return (last == length || last < start) ? start : last + 1;
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

FolderEscape FindFolderEscape(const char* relative) {
    if (relative[0] == '\\' || relative[0] == '/') return kEscapeFromRoot;
    if (relative[0] != '\0' && !IsLeadByte(static_cast<uint8_t>(relative[0])) && relative[1] == ':') return kEscapeDrive;
    size_t length = strlen(relative);
    for (size_t begin = 0;;) {
        size_t end = FindSjisSeparator(relative, length, begin, "\\/");
        size_t partEnd = end;
        while (partEnd > begin && relative[partEnd - 1] == ' ') --partEnd;
        if (partEnd - begin == 2 && relative[begin] == '.' && relative[begin + 1] == '.') return kEscapeParentPart;
        if (end == length) return kStaysInFolder;
        begin = end + 1;
    }
}
