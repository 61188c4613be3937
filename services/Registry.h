// String values of the game key "Software\<global>\<local>" under the current
// user's hive: where the game's installer recorded whether it is installed,
// where, and which version; and where the update writes its [reg] values.
// Only string values count; a value of another type, or one whose data is
// longer than kRegistryReadBuffer bytes, reads as absent. Nothing is reported:
// every failure is the result alone.
#pragma once

#include <cstddef>

// The data of a value is read into this many bytes, terminator included.
constexpr size_t kRegistryReadBuffer = 512;
// The key path: "Software\" and two names of at most 127 bytes each.
constexpr size_t kRegistryPathBuffer = 512;

// Copies the value's text, or defaultText, into out cut to capacity - 1 bytes.
// Returns 0 when the value was read, -1 otherwise.
int RegReadString(const char* global, const char* local, const char* valueName, const char* defaultText,
                  char* out, size_t capacity);

// The value read as decimal text (blanks, a sign, digits up to the first other
// character; none gives 0), or defaultValue when it cannot be read.
int RegReadInt(const char* global, const char* local, const char* valueName, int defaultValue);

// Creates the key with every missing level and writes text as a string value
// with its terminator. Returns 0, or -1 when the key or the value could not be
// written. With flush set, the key is flushed after a successful write.
int RegWriteString(const char* global, const char* local, const char* valueName, const char* text);
int RegWriteStringFlush(const char* global, const char* local, const char* valueName, const char* text,
                        bool flush);

// The key path "Software\<global>\<local>" into buffer; false when it does not fit.
bool FormatGameKeyPath(const char* global, const char* local, char* buffer, size_t capacity);

// Decimal text as the registry's numbers are read; clamped to the int range.
int ReadDecimalText(const char* text);
