// Path rules shared by every part of the updater: the fixed Shift-JIS lead-byte
// test, the final-backslash rules, and bounded text copies.
//
// All text is NUL-terminated Shift-JIS bytes. A path is at most kMaxPath bytes
// including its terminator. The backslash rules look only at the last byte and
// the one before it, never scanning from the start, so a real backslash after a
// character whose second byte lies in a lead range is taken for part of that
// character; callers rely on that exact behaviour.
#pragma once

#include <cstddef>
#include <cstdint>

// Windows' classic path limit, which the program's fixed buffers follow.
constexpr size_t kMaxPath = 260;
// The start folder and the temp path are read into buffers one byte shorter.
constexpr size_t kShortPathBuffer = 259;

// Returns true for the Shift-JIS lead bytes 0x81-0x9F and 0xE0-0xFC, from the
// program's own table; never asks the system's code page.
bool IsLeadByte(uint8_t byte);

// Returns true for the bytes that may follow a lead byte in a Shift-JIS
// character, 0x40-0x7E and 0x80-0xFC; any other byte there makes the pair
// invalid, and Windows refuses to convert a name that holds one.
bool IsTrailByte(uint8_t byte);

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

// Copies src into dst (capacity bytes, terminator included), cutting at a
// character boundary when it does not fit. Returns false when it cut.
bool CopyText(char* dst, size_t capacity, const char* src);

// Appends src to the text in dst, as CopyText. Returns false when it cut.
bool AppendText(char* dst, size_t capacity, const char* src);

// Joins folder and name with one '\' into dst. Returns false, leaving dst
// empty, when the result would not fit in capacity bytes or folder is empty
// (never "\name", which would lie at the root of the drive).
bool JoinPath(char* dst, size_t capacity, const char* folder, const char* name);

// Length of the longest prefix of text (at most limit bytes) that does not end
// in the middle of a double-byte character.
size_t CharBoundaryLength(const char* text, size_t limit);

// Folds ASCII letters to lower case in place, leaving every double-byte
// character (whose second byte may be a letter) untouched.
void FoldToLowerSjis(char* text);

// Finds needle in haystack stepping by whole characters, so that the second
// byte of a double-byte character never begins a match. Both must already be
// folded as the caller wants. Returns true on a hit.
bool ContainsSjis(const char* haystack, const char* needle);
