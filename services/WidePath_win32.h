// Paths at the Windows edge. The program's own paths are Shift-JIS and become
// UTF-16 for the W functions; a path the system reports (the temporary folder,
// the program's own file, a folder the user picked) becomes Shift-JIS only
// when it can be spelled exactly, so that it is never taken for another path.
#pragma once

#include <windows.h>

#include <cstddef>

// UTF-16 characters for any path the program builds. The longest, a staged
// name beside a target that uses the whole 259-byte limit, stays far below it.
constexpr size_t kWidePathBuffer = 1024;

// Converts a Shift-JIS path into buffer (capacity characters) for the W
// functions. A path too long for the plain form is made absolute and given the
// "\\?\" prefix, so that long install folders are not cut short by the
// system's folder limit. Returns false, leaving "", when the bytes are not
// Shift-JIS or the result does not fit.
bool ToWidePath(const char* path, wchar_t* buffer, size_t capacity);

// Spells a path the system reported in Shift-JIS into buffer (capacity bytes):
// exactly, or else by its short (8.3) form when the volume has one that can be
// spelled. Returns false, leaving "", when neither can be.
bool SystemPathToSjis(const wchar_t* path, char* buffer, size_t capacity);
