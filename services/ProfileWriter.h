// Writing "key=value" entries into INI files, byte for byte in Shift-JIS.
//
//   [設定]
//   パス=D:\Games\Title\save
//
// The system's own profile writer stores text in the system's code page and
// so loses Japanese text on any other system; this one keeps the bytes of the
// settings file whatever the system. It follows the system's rules: a file
// named without any folder lives in the Windows folder; sections and keys
// match without regard to ASCII letter case; an existing key is replaced in
// place, a new one goes at the end of its section, a new section at the end of
// the file; lines end in CR LF.
#pragma once

// Writes key=value into section of file. Returns 0, or nonzero when the file
// cannot be read or written.
int WriteProfileEntry(const char* section, const char* key, const char* value, const char* file);
