#include "update/UpdateRules.h"

#include <cstdint>
#include <cstring>

#include "services/Platform.h"
#include "settings/SectionLists.h"
#include "services/FileSearch.h"
#include "base/PathRules.h"
#include "base/SjisText.h"

namespace {

// The root used when no drive is a CD-ROM drive.
constexpr const char* kDefaultCdRomRoot = "E:\\";
// The registry editor's separator between a quoted name and its quoted data.
constexpr const char* kRegSeparator = "\"=\"";
// "X:\" and its terminator.
constexpr size_t kDriveRootBuffer = 4;

char s_installFolder[kMaxPath];
char s_cdRomRoot[kDriveRootBuffer];
char s_iniExpansion[kExpandBuffer];
char s_regExpansion[kExpandBuffer];
char s_unescaped[kExpandBuffer];

// Replaces the first token in buffer (capacity bytes) by value. Returns false,
// leaving the buffer untouched, when the result would not fit.
bool ReplaceFirst(char* buffer, size_t capacity, const char* token, const char* value) {
    const char* found = FindSjis(buffer, 0, token);
    if (found == nullptr) return true;
    size_t at = static_cast<size_t>(found - buffer);
    size_t tokenLength = strlen(token);
    size_t valueLength = strlen(value);
    size_t tailLength = strlen(buffer + at + tokenLength);
    if (at + valueLength + tailLength + 1 > capacity) return false;
    memmove(buffer + at + valueLength, buffer + at + tokenLength, tailLength + 1);
    memcpy(buffer + at, value, valueLength);
    return true;
}

// Copies length bytes of text into dst as a terminated string; false when
// they do not fit.
bool CopyPart(char* dst, size_t capacity, const char* text, size_t length) {
    if (length >= capacity) return false;
    memcpy(dst, text, length);
    dst[length] = '\0';
    return true;
}

SplitResult SkipLine(char* first, size_t firstSize, char* second, size_t secondSize) {
    if (firstSize > 0) first[0] = '\0';
    if (secondSize > 0) second[0] = '\0';
    return kSplitSkipped;
}

}  // namespace

bool SetInstallFolderToken(const char* folder) {
    if (CopyText(s_installFolder, sizeof(s_installFolder), folder)) return true;
    s_installFolder[0] = '\0';
    return false;
}

const char* CdRomRoot() {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        s_cdRomRoot[0] = letter;
        s_cdRomRoot[1] = ':';
        s_cdRomRoot[2] = '\\';
        s_cdRomRoot[3] = '\0';
        if (PlatformDriveType(s_cdRomRoot) == kDriveCdRom) return s_cdRomRoot;
    }
    CopyText(s_cdRomRoot, sizeof(s_cdRomRoot), kDefaultCdRomRoot);
    return s_cdRomRoot;
}

const char* ExpandTokens(const char* line, const char* cdromTokenName) {
    char* buffer = strcmp(cdromTokenName, kIniCdRomToken) == 0 ? s_iniExpansion : s_regExpansion;
    bool fits = CopyText(buffer, kExpandBuffer, line) &&
                ReplaceFirst(buffer, kExpandBuffer, cdromTokenName, CdRomRoot()) &&
                ReplaceFirst(buffer, kExpandBuffer, kInstallToken, s_installFolder);
    if (fits) return buffer;
    buffer[0] = '\0';
    return nullptr;
}

const char* RemoveEscapes(const char* line) {
    if (!CopyText(s_unescaped, sizeof(s_unescaped), line)) {
        s_unescaped[0] = '\0';
        return nullptr;
    }
    const char* found = FindSjis(s_unescaped, 0, "\\");
    while (found != nullptr) {
        size_t at = static_cast<size_t>(found - s_unescaped);
        memmove(s_unescaped + at, s_unescaped + at + 1, strlen(s_unescaped + at + 1) + 1);
        if (s_unescaped[at] == '\0') break;
        // The character that followed the backslash is kept whole, never read as an escape.
        found = FindSjis(s_unescaped, NextCharIndex(s_unescaped, at), "\\");
    }
    return s_unescaped;
}

SplitResult SplitIniLine(const char* line, char* key, size_t keySize, char* value, size_t valueSize) {
    if (FindSjis(line, 0, "=") == nullptr) return SkipLine(key, keySize, value, valueSize);
    const char* expanded = ExpandTokens(line, kIniCdRomToken);
    if (expanded == nullptr) return SkipLine(key, keySize, value, valueSize);
    // The expansion cannot remove the "=", but a folder ending in a lone lead
    // byte could pair with it; such a line has no key either.
    const char* equals = FindSjis(expanded, 0, "=");
    if (equals == nullptr) return SkipLine(key, keySize, value, valueSize);
    if (!CopyPart(key, keySize, expanded, static_cast<size_t>(equals - expanded)) ||
        !CopyPart(value, valueSize, equals + 1, strlen(equals + 1)))
        return SkipLine(key, keySize, value, valueSize);
    return kSplitOk;
}

SplitResult SplitRegLine(const char* line, char* name, size_t nameSize, char* data, size_t dataSize) {
    if (FindSjis(line, 0, kRegSeparator) == nullptr) return SkipLine(name, nameSize, data, dataSize);
    const char* unescaped = RemoveEscapes(line);
    if (unescaped == nullptr) return SkipLine(name, nameSize, data, dataSize);
    const char* expanded = ExpandTokens(unescaped, kRegCdRomToken);
    if (expanded == nullptr || expanded[0] == '\0') return SkipLine(name, nameSize, data, dataSize);
    // The name starts after the opening quote; a separator at the very first
    // byte leaves no name, and the line is skipped.
    const char* separator = FindSjis(expanded, NextCharIndex(expanded, 0), kRegSeparator);
    if (separator == nullptr) return SkipLine(name, nameSize, data, dataSize);
    const char* dataStart = separator + strlen(kRegSeparator);
    size_t dataLength = strlen(dataStart);
    if (dataLength > 0) --dataLength;  // the closing quote
    if (!CopyPart(name, nameSize, expanded + 1, static_cast<size_t>(separator - (expanded + 1))) ||
        !CopyPart(data, dataSize, dataStart, dataLength))
        return SkipLine(name, nameSize, data, dataSize);
    return kSplitOk;
}

void DeleteAfterInstall(const char* installFolder) {
    for (const StringEntry* entry = SectionList(kSectionDelfilesAfterinst)->first; entry != nullptr;
         entry = entry->next) {
        // The section lists files of the game; a line that leaves its folder
        // is a mistake or a trap, and deletes nothing.
        if (FindFolderEscape(entry->text) != kStaysInFolder) continue;
        DeleteMatchingFiles(installFolder, entry->text);
        const char* backslash = FindSjis(entry->text, 0, "\\");
        if (backslash == nullptr) continue;
        char folder[kMaxPath];
        size_t base = strlen(installFolder);
        size_t part = static_cast<size_t>(backslash - entry->text);
        if (base + 1 + part + 1 > sizeof(folder)) continue;
        memcpy(folder, installFolder, base);
        folder[base] = '\\';
        memcpy(folder + base + 1, entry->text, part);
        folder[base + 1 + part] = '\0';
        PlatformRemoveFolder(folder);
    }
}
