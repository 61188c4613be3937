#include "services/WorkingFolder.h"

#include <cstdio>
#include <cstdlib>

#include "services/Platform.h"
#include "services/FileSearch.h"
#include "base/PathRules.h"

namespace {

// Folder under the Windows folder that takes the working folder when the
// user's temporary folder cannot be used (a name Shift-JIS cannot spell, and
// no short form of it; or a folder the user cannot write).
constexpr const char* kFallbackTempFolder = "Temp";

char s_startFolder[kShortPathBuffer];
char s_workingFolder[kMaxPath];
// The working folder belongs to the updater that started this process.
bool s_borrowed = false;

// Makes <base>\<name> (an existing folder of that name is used as it is) and
// makes it current. Leaves s_workingFolder set only on success.
bool TryWorkingFolderUnder(char* base, size_t capacity, const char* name) {
    s_workingFolder[0] = '\0';
    if (base[0] == '\0') return false;
    EnsureTrailingBackslash(base, capacity);
    if (!EndsInSeparator(base)) return false;
    if (!CopyText(s_workingFolder, sizeof(s_workingFolder), base) ||
        !AppendText(s_workingFolder, sizeof(s_workingFolder), name)) {
        s_workingFolder[0] = '\0';
        return false;
    }
    uint32_t attributes = 0;
    bool created = PlatformCreateFolder(s_workingFolder) == 0;
    bool there = created ||
                 (PlatformGetAttributes(s_workingFolder, &attributes) == 0 && (attributes & kAttrFolder) != 0);
    if (there && PlatformSetCurrentFolder(s_workingFolder) == 0) return true;
    if (created) PlatformRemoveFolder(s_workingFolder);
    s_workingFolder[0] = '\0';
    return false;
}

}  // namespace

void FormatWorkingFolderName(uint32_t tick, char* buffer, unsigned capacity) {
    snprintf(buffer, capacity, "TempGPInstallFolder_%09d", static_cast<int32_t>(tick));
}

int CreateWorkingFolder() {
    if (PlatformGetCurrentFolder(s_startFolder, sizeof(s_startFolder)) != 0) s_startFolder[0] = '\0';
    char name[kMaxPath];
    FormatWorkingFolderName(PlatformTickCount(), name, sizeof(name));
    char base[kShortPathBuffer];
    if (PlatformGetTempPath(base, sizeof(base)) == 0 && TryWorkingFolderUnder(base, sizeof(base), name)) return 0;
    char windows[kShortPathBuffer];
    if (PlatformGetWindowsFolder(windows, sizeof(windows)) == 0 &&
        JoinPath(base, sizeof(base), StripTrailingBackslash(windows), kFallbackTempFolder) &&
        TryWorkingFolderUnder(base, sizeof(base), name))
        return 0;
    return 1;
}

int BorrowWorkingFolder(const char* path) {
    char copy[kMaxPath];
    if (!CopyText(copy, sizeof(copy), path) || PlatformSetCurrentFolder(copy) != 0) return 1;
    CopyText(s_workingFolder, sizeof(s_workingFolder), copy);
    s_borrowed = true;
    return 0;
}

void RemoveWorkingFolder() {
    if (s_borrowed) return;
    if (s_startFolder[0] != '\0') {
        PlatformSetCurrentFolder(s_startFolder);
    } else if (s_workingFolder[0] != '\0') {
        // A start folder that could not be spelled: its parent serves, so that
        // the working folder is not in use as the current folder.
        char parent[kMaxPath];
        CopyText(parent, sizeof(parent), s_workingFolder);
        parent[FolderPartLength(parent)] = '\0';
        PlatformSetCurrentFolder(parent);
    }
    if (s_workingFolder[0] == '\0') return;
    DeleteMatchingFiles(s_workingFolder, "*.*");
    PlatformRemoveFolder(s_workingFolder);
}

void EndProgram(int code) {
    RemoveWorkingFolder();
    exit(code);
}

const char* WorkingFolderPath() { return s_workingFolder; }
