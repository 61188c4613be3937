// Conversion between the program's Shift-JIS text and the UTF-16 of the
// Windows W functions. Code page 932 is named explicitly, so the program reads
// and writes the same names on a Japanese system and on any other.
#pragma once

#include <windows.h>

#include <cstddef>

// Room for any text of the program once it is UTF-16: the 1024-byte message
// buffer never needs more characters than it has bytes.
constexpr size_t kWideTextBuffer = 1024;

// Converts Shift-JIS to UTF-16 into buffer (capacity characters, terminator
// included). Returns false, leaving an empty string, when it does not fit or
// the bytes are not Shift-JIS.
bool SjisToWide(const char* text, wchar_t* buffer, size_t capacity);

// Converts UTF-16 to Shift-JIS into buffer (capacity bytes), exactly: the
// result reads back as the same text. Returns false, leaving an empty string,
// when it does not fit or has no exact Shift-JIS form (no best-fit letters, no
// default character).
bool WideToSjis(const wchar_t* text, char* buffer, size_t capacity);
