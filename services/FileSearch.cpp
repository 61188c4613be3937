#include "services/FileSearch.h"

#include <cstring>

#include "services/Platform.h"
#include "base/PathRules.h"

namespace {

enum class SearchStep { kEnded, kFirstPending, kContinue };

PlatformFind* s_handle = nullptr;
SearchStep s_step = SearchStep::kEnded;
char s_pattern[kMaxPath];
PlatformFindData s_entry;
char s_result[kMaxPath];

void CloseSearch() {
    PlatformFindClose(s_handle);
    s_handle = nullptr;
    s_step = SearchStep::kEnded;
}

}  // namespace

int FindFirstMatch(const char* pattern) {
    if (s_handle != nullptr) CloseSearch();
    s_step = SearchStep::kEnded;
    // A cut pattern could match other files than the caller meant.
    if (!CopyText(s_pattern, sizeof(s_pattern), pattern)) {
        s_pattern[0] = '\0';
        return 1;
    }
    s_handle = PlatformFindFirst(s_pattern, &s_entry);
    if (s_handle == nullptr) return 1;
    s_step = SearchStep::kFirstPending;
    return 0;
}

const char* FindNextMatch() {
    if (s_handle == nullptr || s_step == SearchStep::kEnded) return nullptr;
    size_t folderPart = FolderPartLength(s_pattern);
    for (;;) {
        if (s_step == SearchStep::kFirstPending) {
            s_step = SearchStep::kContinue;
        } else if (PlatformFindNext(s_handle, &s_entry) != 0) {
            CloseSearch();
            return nullptr;
        }
        if (s_entry.attributes & kAttrFolder) continue;
        size_t nameLength = strlen(s_entry.name);
        if (folderPart + nameLength + 1 > sizeof(s_result)) continue;
        memcpy(s_result, s_pattern, folderPart);
        memcpy(s_result + folderPart, s_entry.name, nameLength + 1);
        return s_result;
    }
}

void DeleteMatchingFiles(const char* folder, const char* pattern) {
    char remembered[kMaxPath];
    if (PlatformGetCurrentFolder(remembered, sizeof(remembered)) != 0) return;
    if (folder[0] == '\0' || PlatformSetCurrentFolder(folder) != 0) return;
    if (FindFirstMatch(pattern) == 0) {
        for (const char* path = FindNextMatch(); path != nullptr; path = FindNextMatch())
            PlatformDeleteFile(path);
    }
    PlatformSetCurrentFolder(remembered);
}
