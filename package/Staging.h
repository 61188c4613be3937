// Keeps a Full-mode walk from leaving the install folder half-updated. New
// files are written under a staging folder inside the destination; only when
// every entry has been read and written are they moved into place, each
// replaced original first moved aside so that a failure part-way can put every
// original back. Folders that the walk creates are removed again on failure.
//
// In direct mode (the private working folder of a Boot walk) files are written
// in place and nothing is staged.
#pragma once

#include <cstddef>

#include "shell/PathRules.h"

// A staged or moved-aside name: the staging folder, a numbered name and the
// suffix of an earlier run's folder, beside a target that may itself use the
// whole path limit. Staging never shortens the limit a package can rely on.
constexpr size_t kStagedPathBuffer = kMaxPath + 64;

// Starts staging into destination. Returns 0, or nonzero when the staging
// folder cannot be made (nothing has changed then). An earlier staging folder
// left by an interrupted run is emptied and reused.
int BeginStaging(const char* destination, bool direct);

// Makes sure the folder at path exists, creating it if need be. Returns 0, or
// a package result when a file of that name is in the way.
int StageFolder(const char* path);

// Chooses where the file for target is written and fills writePath (capacity
// bytes, kStagedPathBuffer in Full mode). Refuses, with kPackageCannotReplace, a target that is a folder or a
// read-only file. A second entry for the same target supersedes the first.
int StageFile(const char* target, char* writePath, size_t capacity);

// Moves every staged file into place. Returns 0; or kPackageCannotReplace after
// putting back every original it had already replaced.
int CommitStaging();

// Undoes the staging: deletes staged files, removes the folders it created and
// the staging folder. The destination is as it was before BeginStaging.
void AbortStaging();
