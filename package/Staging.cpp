#include "package/Staging.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/PackageFormat.h"
#include "services/Platform.h"
#include "shell/PathRules.h"

namespace {

// How many staging folder names are tried when earlier ones are still taken
// by what an interrupted run left behind.
constexpr int kStagingFolderAttempts = 100;

struct StagedFile {
    std::string target;
    unsigned number;
    bool live;      // false once a later entry for the same target supersedes it
    bool replaced;  // the original was moved aside
    bool placed;    // the new file is in place
};

bool s_direct = true;
char s_folder[kStagedPathBuffer];
std::vector<StagedFile> s_files;
// Index into s_files of the live entry for each target, by its folded name.
std::unordered_map<std::string, size_t> s_liveByTarget;
std::vector<std::string> s_createdFolders;

void StagedName(unsigned number, const char* suffix, char* out, size_t capacity) {
    char name[32];
    snprintf(name, sizeof(name), "%08u.%s", number, suffix);
    JoinPath(out, capacity, s_folder, name);
}

// Deletes the new files by the names staging gave them. Originals moved aside
// are never deleted here, so no failure can lose one.
void DeleteStagedFiles() {
    char path[kStagedPathBuffer];
    for (const StagedFile& file : s_files) {
        StagedName(file.number, "new", path, sizeof(path));
        PlatformDeleteFile(path);
    }
}

// Removes the new files that an interrupted run left in the staging folder.
void DeleteLeftoverNewFiles() {
    char pattern[kStagedPathBuffer];
    if (!JoinPath(pattern, sizeof(pattern), s_folder, "*.new")) return;
    PlatformFindData data;
    std::vector<std::string> names;
    PlatformFind* find = PlatformFindFirst(pattern, &data);
    if (find == nullptr) return;
    do {
        if ((data.attributes & kAttrFolder) == 0) names.push_back(data.name);
    } while (PlatformFindNext(find, &data) == 0);
    PlatformFindClose(find);
    char path[kStagedPathBuffer];
    for (const std::string& name : names)
        if (JoinPath(path, sizeof(path), s_folder, name.c_str())) PlatformDeleteFile(path);
}

void Reset() {
    s_files.clear();
    s_liveByTarget.clear();
    s_createdFolders.clear();
    s_folder[0] = '\0';
}

}  // namespace

int BeginStaging(const char* destination, bool direct) {
    Reset();
    s_direct = direct;
    if (direct) return 0;
    // A staging folder that an interrupted run left behind may still hold
    // originals moved aside; it is emptied of new files and, if anything else
    // stays in it, left alone for a name of its own.
    for (int attempt = 1; attempt <= kStagingFolderAttempts; ++attempt) {
        char name[64];
        if (attempt == 1) snprintf(name, sizeof(name), "%s", kStagingFolderName);
        else snprintf(name, sizeof(name), "%s_%d", kStagingFolderName, attempt);
        if (!JoinPath(s_folder, sizeof(s_folder), destination, name)) return kPackagePathTooLong;
        uint32_t attributes = 0;
        if (PlatformGetAttributes(s_folder, &attributes) != 0)
            return PlatformCreateFolder(s_folder) == 0 ? 0 : kPackageCannotWrite;
        if ((attributes & kAttrFolder) == 0) continue;
        DeleteLeftoverNewFiles();
        if (PlatformRemoveFolder(s_folder) == 0 && PlatformCreateFolder(s_folder) == 0) return 0;
    }
    s_folder[0] = '\0';
    return kPackageCannotWrite;
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
    size_t index = s_files.size();
    auto found = s_liveByTarget.find(folded);
    if (found != s_liveByTarget.end()) {
        StagedFile& earlier = s_files[found->second];
        char old[kStagedPathBuffer];
        StagedName(earlier.number, "new", old, sizeof(old));
        PlatformDeleteFile(old);
        earlier.live = false;
        found->second = index;
    } else {
        s_liveByTarget.emplace(folded, index);
    }
    unsigned number = static_cast<unsigned>(index);
    s_files.push_back(StagedFile{target, number, true, false, false});
    StagedName(number, "new", writePath, capacity);
    return writePath[0] != '\0' ? 0 : kPackagePathTooLong;
}

static void PutBack(StagedFile* file) {
    char path[kStagedPathBuffer];
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
    char staged[kStagedPathBuffer];
    char aside[kStagedPathBuffer];
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
    for (const StagedFile& file : s_files) {
        if (!file.replaced) continue;
        StagedName(file.number, "old", aside, sizeof(aside));
        PlatformDeleteFile(aside);
    }
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
