#include "shell/WorkingFolder.h"

#include <cstdio>
#include <cstdlib>

#include "services/Platform.h"
#include "shell/FileSearch.h"
#include "shell/PathRules.h"

namespace {
char s_startFolder[kShortPathBuffer];
char s_workingFolder[kMaxPath];
}  // namespace

void FormatWorkingFolderName(uint32_t tick, char* buffer, unsigned capacity) {
    snprintf(buffer, capacity, "TempGPInstallFolder_%09d", static_cast<int32_t>(tick));
}

void CreateWorkingFolder() {
    if (PlatformGetCurrentFolder(s_startFolder, sizeof(s_startFolder)) != 0) s_startFolder[0] = '\0';
    char name[kMaxPath];
    FormatWorkingFolderName(PlatformTickCount(), name, sizeof(name));
    char temp[kShortPathBuffer];
    s_workingFolder[0] = '\0';
    if (PlatformGetTempPath(temp, sizeof(temp)) != 0 || temp[0] == '\0') return;
    EnsureTrailingBackslash(temp, sizeof(temp));
    if (!EndsInSeparator(temp)) return;
    if (!CopyText(s_workingFolder, sizeof(s_workingFolder), temp) ||
        !AppendText(s_workingFolder, sizeof(s_workingFolder), name)) {
        s_workingFolder[0] = '\0';
        return;
    }
    PlatformCreateFolder(s_workingFolder);
    PlatformSetCurrentFolder(s_workingFolder);
}

void RemoveWorkingFolder() {
    if (s_startFolder[0] != '\0') PlatformSetCurrentFolder(s_startFolder);
    if (s_workingFolder[0] == '\0') return;
    DeleteMatchingFiles(s_workingFolder, "*.*");
    PlatformRemoveFolder(s_workingFolder);
}

void shell::FatalExit(int code) {
    RemoveWorkingFolder();
    exit(code);
}

const char* WorkingFolderPath() { return s_workingFolder; }
