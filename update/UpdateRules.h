// The text rules of applying an update: token expansion in the [ini] and
// [reg] lines of the settings file, their splitting into key and value, and
// the deletions of [delfiles_afterinst].
//
//   [ini]   Path=REP_INSTALL\save              key "Path", value "D:\Games\Title\save"
//   [reg]   "InstallDir"="REP_INSTALL"         name "InstallDir", data "D:\Games\Title"
//           "Data"="C:\\Old\\Place"            data "C:\Old\Place" (escapes removed first)
//
// Tokens: "REP_INSTALL" stands for the install folder, the CD-ROM token for
// the first CD-ROM drive's root ("E:\" without one). [ini] lines use
// "REP_CDROMDRIVE", [reg] lines "REP_CDROM"; only the first occurrence of each
// token is replaced, the CD-ROM token first. Every search here steps through
// whole Shift-JIS characters, so the second byte of a double-byte character
// never begins a token, "=", "\"=\"" or a backslash.
//
// Length policy: every buffer holds kExpandBuffer bytes, 511 of text. A line
// whose expansion, unescaped copy, key or value would not fit is skipped
// whole (the split returns -1), never cut: a cut path written to the registry
// would send the game somewhere else. A [delfiles_afterinst] folder longer
// than 259 bytes is not removed.
#pragma once

#include <cstddef>

// One section line and any expansion of it: 511 bytes and the terminator.
constexpr size_t kExpandBuffer = 512;

// The token for the install folder in both sections.
constexpr const char* kInstallToken = "REP_INSTALL";
// The CD-ROM token of [ini] lines; its presence also selects the [ini] buffer.
constexpr const char* kIniCdRomToken = "REP_CDROMDRIVE";
// The CD-ROM token of [reg] lines.
constexpr const char* kRegCdRomToken = "REP_CDROM";

// Sets the text that "REP_INSTALL" stands for (at most 259 bytes). Returns
// false, leaving the token empty, when folder does not fit.
bool SetInstallFolderToken(const char* folder);

// Returns the first CD-ROM drive's root ("Q:\"), asking the platform for the
// drives A to Z each time, or "E:\" when there is none. The text lives in a
// module buffer valid until the next call.
const char* CdRomRoot();

// Expands line: the first cdromTokenName becomes CdRomRoot(), then the first
// "REP_INSTALL" the install folder text. Works in the [ini] buffer when
// cdromTokenName is "REP_CDROMDRIVE", else in the [reg] buffer; the result is
// valid until the next expansion of its kind. Returns null, leaving that
// buffer empty, when the line or the result does not fit in 511 bytes.
const char* ExpandTokens(const char* line, const char* cdromTokenName);

// Copies line without its escapes: each backslash is removed and the
// character after it kept as it is, so "\\" gives "\" and "\"" gives '"'; a
// final lone backslash is dropped. Returns its own buffer, valid until the
// next call, or null when line is longer than 511 bytes.
const char* RemoveEscapes(const char* line);

// Whether an [ini] or [reg] line gave its two parts.
enum SplitResult {
    kSplitOk = 0,
    kSplitSkipped = -1,  // not such a line, or too long for the buffers: both parts emptied
};

// Splits an [ini] line "key=value" after expanding its tokens: the key is the
// text before the first "=", the value everything after it, nothing trimmed.
// Returns kSplitOk, or kSplitSkipped for a line without "=" or one whose
// expansion, key or value does not fit its buffer.
SplitResult SplitIniLine(const char* line, char* key, size_t keySize, char* value, size_t valueSize);

// Splits a [reg] line "\"name\"=\"data\"" as the registry editor exports a
// string value: escapes removed, then tokens expanded; the name runs from the
// second byte to the first "\"=\"" after it, the data is the rest without its
// last byte. Returns kSplitOk, or kSplitSkipped for a line without "\"=\""
// after its first byte or one that does not fit its buffers.
SplitResult SplitRegLine(const char* line, char* name, size_t nameSize, char* data, size_t dataSize);

// Deletes the files that each [delfiles_afterinst] entry matches below
// installFolder, then removes the entry's first folder when it is empty. An
// entry that leaves the folder (FindFolderEscape) is skipped whole. Failures
// are passed over silently.
void DeleteAfterInstall(const char* installFolder);
