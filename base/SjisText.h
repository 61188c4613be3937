// Shift-JIS text rules shared by the updater and the makers' tool: the fixed
// lead-byte table, stepping by whole characters, lead-byte-aware replacing and
// case folding, and bounded copies that never cut a character in two.
//
// Text is Shift-JIS bytes. A lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after
// it form one character, whatever that second byte is: its value may equal '\\',
// '/', '|' or an ASCII letter, and those are never taken for themselves. A lead
// byte with nothing after it (the end of the text, or its terminator) counts as
// one byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns true for the Shift-JIS lead bytes 0x81-0x9F and 0xE0-0xFC, from the
// program's own table; never asks the system's code page.
bool IsLeadByte(uint8_t byte);

// Returns true for the bytes that may follow a lead byte in a Shift-JIS
// character, 0x40-0x7E and 0x80-0xFC; any other byte there makes the pair
// invalid, and Windows refuses to convert a name that holds one.
bool IsTrailByte(uint8_t byte);

// Index of the character after the one that starts at text[i], for text of
// length bytes: i + 2 when text[i] is a lead byte with a byte after it, else
// i + 1.
size_t NextCharIndex(const char* text, size_t length, size_t i);

// The same for NUL-terminated text: a lead byte just before the terminator
// counts as one byte.
size_t NextCharIndex(const char* text, size_t i);

// Replaces every single-byte character from with to in text (length bytes),
// leaving the second byte of every double-byte character untouched.
void ReplaceSjisByte(char* text, size_t length, char from, char to);

// The same for NUL-terminated text.
void ReplaceSjisByte(char* text, char from, char to);

// Copies src into dst (capacity bytes, terminator included), cutting at a
// character boundary when it does not fit. Returns false when it cut.
bool CopyText(char* dst, size_t capacity, const char* src);

// Appends src to the text in dst, as CopyText. Returns false when it cut.
bool AppendText(char* dst, size_t capacity, const char* src);

// Length of the longest prefix of text (at most limit bytes) that does not end
// in the middle of a double-byte character.
size_t CharBoundaryLength(const char* text, size_t limit);

// One character folded as FoldToLowerSjis folds text: 'A'-'Z' become 'a'-'z';
// any other value (a double-byte character held as one unit, a code point) is
// returned unchanged.
uint32_t FoldAsciiLetter(uint32_t c);

// Folds ASCII letters to lower case in place, leaving every double-byte
// character (whose second byte may be a letter) untouched.
void FoldToLowerSjis(char* text);

// The same for text of length bytes (which may hold NULs).
void FoldToLowerSjis(char* text, size_t length);

// Folds a file name in place as NTFS matches names, so that two names are one
// file exactly when their folded forms are equal: ASCII letters as
// FoldToLowerSjis, and each double-byte character to one spelling of its
// upper-case form (full-width Latin, Greek, Cyrillic and Roman numeral letters
// in either case; the characters code page 932 spells twice, which NTFS
// stores as one). Never changes the length or a character boundary.
void FoldFileName(char* text);

// Returns true when a and b (NUL-terminated) are equal once both are folded as
// FoldToLowerSjis folds them.
bool EqualsFoldedSjis(const char* a, const char* b);

// Returns true when the first length bytes of a and b are equal once folded as
// FoldToLowerSjis folds them; a NUL among them is compared like any byte.
bool EqualsFoldedSjis(const char* a, const char* b, size_t length);

// The first occurrence of needle in text that begins on a character boundary
// at or after from (itself a boundary, at most the text's length), or null;
// an empty needle is found at from.
const char* FindSjis(const char* text, size_t from, const char* needle);

// Index of the first character of text (length bytes) at or after from (a
// boundary) that is one of separators (ASCII bytes, NUL-terminated), or length
// when there is none; the second byte of a double-byte character is never one.
size_t FindSjisSeparator(const char* text, size_t length, size_t from, const char* separators);

// Index of the last character of text (length bytes) that is one of
// separators, as FindSjisSeparator, or length when there is none.
size_t FindLastSjisSeparator(const char* text, size_t length, const char* separators);

// Finds needle in haystack stepping by whole characters, so that the second
// byte of a double-byte character never begins a match. Both must already be
// folded as the caller wants. Returns true on a hit.
bool ContainsSjis(const char* haystack, const char* needle);
