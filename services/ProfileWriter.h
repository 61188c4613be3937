// Writing "key=value" entries into INI files as the system's profile writer
// does, while keeping the file's own bytes.
//
//   ; options              a line without "=": a key named "; options"
//   [設定] ; main           section "設定": blanks around the line and what
//                          follows its last "]" are ignored, the name trimmed
//     パス = D:\Games       key "パス", value "D:\Games": blanks around both ignored
//   Path                   a key "Path" with no value
//
// Blanks are space, tab, CR, LF, VT, FF and Ctrl-Z (an old end-of-file mark);
// full-width spaces are text. Section and key names match after trimming,
// without regard to ASCII letter case. A line ends at CR LF, CR or LF.
//
// The file is Shift-JIS bytes unless it opens with a byte-order mark: UTF-8
// (EF BB BF), UTF-16 little-endian (FF FE) or big-endian (FE FF); such a file
// stays in its encoding and the entries are converted into it, as the system
// writer does. The system's writer converts Shift-JIS text through the
// system's code page and so loses Japanese text on any other system; this one
// keeps the bytes whatever the system.
//
// Writing an entry: the first key of that name in the first section of that
// name is rewritten as "key=value" (the key as the file spells it); a new key
// goes after the last non-blank line of its section; a new section goes at the
// end of the file. A blank section name means the lines before the first
// header. Leading blanks of the value are dropped. Every other byte stays, and
// a file whose text does not change is not written.
//
// Error policy: a file that exists but cannot be read is never rewritten. The
// new text is written to a file beside the old one and swapped in only when it
// is complete and on disk, so a failure at any point leaves the old file whole.
#pragma once

#include <cstddef>

// Why writing into an INI file failed. 0 is success.
enum ProfileResult {
    kProfileOk = 0,
    kProfileBadPath,      // the name does not resolve to a path that fits 259 bytes
    kProfileCannotRead,   // the file exists but cannot be read: held open, a folder, a read error
    kProfileReadOnly,     // the file is read-only
    kProfileTooLarge,     // larger than any settings file
    kProfileBadText,      // a UTF-16 file cut in half a character, or text with no form in the file's encoding
    kProfileCannotWrite,  // the new file could not be written or swapped in
};

// One entry to write.
struct ProfileEntry {
    const char* key;
    const char* value;
};

// The path a profile name stands for: a name without any folder lives in the
// Windows folder. Returns false when it does not fit capacity bytes.
bool ResolveProfilePath(const char* file, char* path, size_t capacity);

// Writes count entries, in order, into section of file, as count calls of the
// system's writer would, with one swap of the file. Returns a ProfileResult;
// on failure the file is as it was.
int WriteProfileEntries(const char* section, const ProfileEntry* entries, size_t count, const char* file);

// Writes key=value into section of file. Returns a ProfileResult.
int WriteProfileEntry(const char* section, const char* key, const char* value, const char* file);
