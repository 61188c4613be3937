// Path rules shared by every part of the updater: the final-backslash rules,
// the folder part of a path and joining a folder with a name.
//
// All text is NUL-terminated Shift-JIS bytes. A path is at most kMaxPath bytes
// including its terminator. The backslash rules look only at the last byte and
// the one before it, never scanning from the start, so a real backslash after a
// character whose second byte lies in a lead range is taken for part of that
// character; callers rely on that exact behaviour.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/SjisText.h"

// Windows' classic path limit, which the program's fixed buffers follow.
constexpr size_t kMaxPath = 260;
// The start folder and the temp path are read into buffers one byte shorter.
constexpr size_t kShortPathBuffer = 259;

// Appends one '\' unless the path already ends in a backslash that is not the
// second byte of a character. Never writes past capacity: when the backslash
// would not fit, the path is left as it is. An empty path gets nothing.
// Returns path.
char* EnsureTrailingBackslash(char* path, size_t capacity);

// Removes one final '\' unless it follows a lead byte. A one-byte path "\" is
// left alone (it names the root of the current drive). Returns path.
char* StripTrailingBackslash(char* path);

// Returns true when the last byte of path is a '\' that the rules above treat as
// a separator.
bool EndsInSeparator(const char* path);

// Length of the drive and folder part of a path: the first two bytes when the
// second is ':', then up to and including the last '\' or '/' that is not the
// second byte of a character. 0 for a bare name.
size_t FolderPartLength(const char* path);

// Joins folder and name with one '\' into dst. Returns false, leaving dst
// empty, when the result would not fit in capacity bytes or folder is empty
// (never "\name", which would lie at the root of the drive).
bool JoinPath(char* dst, size_t capacity, const char* folder, const char* name);

// Where a path meant to stay inside a folder (a [delfiles_afterinst] entry,
// relative to the install folder) would lead the system instead.
enum FolderEscape {
    kStaysInFolder = 0,
    kEscapeFromRoot,     // begins with '\' or '/': the root of the drive, or a network share
    kEscapeDrive,        // begins with a drive letter and ':'
    kEscapeParentPart,   // a ".." part, blanks after it included, as the system drops them
};

// Whether relative (Shift-JIS) leaves the folder it is taken in; '\' and '/'
// both separate parts, and a 5C second byte never does. Reads only the text.
FolderEscape FindFolderEscape(const char* relative);
