#include "package/Staging.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package/PackageFormat.h"
#include "services/Platform.h"
#include "shell/FileSearch.h"
#include "shell/PathRules.h"

namespace {

struct StagedFile {
    std::string target;
    std::string folded;  // target with ASCII letters folded, to find a repeated name
    unsigned number;
    bool live;       // false once a later entry for the same target supersedes it
    bool replaced;   // the original was moved aside
    bool placed;     // the new file is in place
};

bool s_direct = true;
char s_folder[kMaxPath];
std::vector<StagedFile> s_files;
std::vector<std::string> s_createdFolders;

void StagedName(unsigned number, const char* suffix, char* out, size_t capacity) {
    char name[32];
    snprintf(name, sizeof(name), "%08u.%s", number, suffix);
    JoinPath(out, capacity, s_folder, name);
}

// Only new files are ever deleted here: an original moved aside stays until
// the commit has succeeded, so no failure can lose it.
void DeleteStagedFiles() { DeleteMatchingFiles(s_folder, "*.new"); }

void Reset() {
    s_files.clear();
    s_createdFolders.clear();
    s_folder[0] = '\0';
}

}  // namespace

int BeginStaging(const char* destination, bool direct) {
    Reset();
    s_direct = direct;
    if (direct) return 0;
    if (!JoinPath(s_folder, sizeof(s_folder), destination, kStagingFolderName)) return kPackagePathTooLong;
    uint32_t attributes = 0;
    if (PlatformGetAttributes(s_folder, &attributes) == 0) {
        if ((attributes & kAttrFolder) == 0) return kPackageCannotWrite;
        DeleteStagedFiles();
        return 0;
    }
    return PlatformCreateFolder(s_folder) == 0 ? 0 : kPackageCannotWrite;
}

int StageFolder(const char* path) {
    char trimmed[kMaxPath];
    CopyText(trimmed, sizeof(trimmed), path);
    StripTrailingBackslash(trimmed);
    if (s_direct) {
        // An existing folder is fine; a real failure shows at the first file inside.
        PlatformCreateFolder(trimmed);
        return 0;
    }
    uint32_t attributes = 0;
    if (PlatformGetAttributes(trimmed, &attributes) == 0)
        return (attributes & kAttrFolder) ? 0 : kPackageCannotReplace;
    if (PlatformCreateFolder(trimmed) != 0) return kPackageCannotWrite;
    s_createdFolders.push_back(trimmed);
    return 0;
}

int StageFile(const char* target, char* writePath, size_t capacity) {
    if (s_direct) return CopyText(writePath, capacity, target) ? 0 : kPackagePathTooLong;
    uint32_t attributes = 0;
    if (PlatformGetAttributes(target, &attributes) == 0 &&
        (attributes & (kAttrFolder | kAttrReadOnly)) != 0)
        return kPackageCannotReplace;
    char folded[kMaxPath];
    CopyText(folded, sizeof(folded), target);
    FoldToLowerSjis(folded);
    for (StagedFile& earlier : s_files) {
        if (earlier.live && earlier.folded == folded) {
            char old[kMaxPath];
            StagedName(earlier.number, "new", old, sizeof(old));
            PlatformDeleteFile(old);
            earlier.live = false;
        }
    }
    unsigned number = static_cast<unsigned>(s_files.size());
    s_files.push_back(StagedFile{target, folded, number, true, false, false});
    StagedName(number, "new", writePath, capacity);
    return writePath[0] != '\0' ? 0 : kPackagePathTooLong;
}

static void PutBack(StagedFile* file) {
    char path[kMaxPath];
    if (file->placed) {
        StagedName(file->number, "new", path, sizeof(path));
        PlatformMoveFile(file->target.c_str(), path);
        file->placed = false;
    }
    if (file->replaced) {
        StagedName(file->number, "old", path, sizeof(path));
        PlatformMoveFile(path, file->target.c_str());
        file->replaced = false;
    }
}

int CommitStaging() {
    if (s_direct) return 0;
    char staged[kMaxPath];
    char aside[kMaxPath];
    for (StagedFile& file : s_files) {
        if (!file.live) continue;
        StagedName(file.number, "new", staged, sizeof(staged));
        StagedName(file.number, "old", aside, sizeof(aside));
        uint32_t attributes = 0;
        bool ok = true;
        if (PlatformGetAttributes(file.target.c_str(), &attributes) == 0) {
            // Moving the original aside fails when another program holds it open.
            ok = (attributes & (kAttrFolder | kAttrReadOnly)) == 0 &&
                 PlatformMoveFile(file.target.c_str(), aside) == 0;
            file.replaced = ok;
        }
        if (ok) {
            ok = PlatformMoveFile(staged, file.target.c_str()) == 0;
            file.placed = ok;
        }
        if (!ok) {
            for (size_t i = s_files.size(); i-- > 0;) PutBack(&s_files[i]);
            AbortStaging();
            return kPackageCannotReplace;
        }
    }
    DeleteMatchingFiles(s_folder, "*.old");
    DeleteStagedFiles();
    PlatformRemoveFolder(s_folder);
    Reset();
    return 0;
}

void AbortStaging() {
    if (s_direct) return;
    DeleteStagedFiles();
    PlatformRemoveFolder(s_folder);
    for (size_t i = s_createdFolders.size(); i-- > 0;) PlatformRemoveFolder(s_createdFolders[i].c_str());
    Reset();
}
