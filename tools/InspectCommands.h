// The tool's commands that read a finished updater: list its entries, verify
// every stream, and extract it with the updater's own Full-mode walk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/DeltaEntry.h"
#include <vector>

struct ListedEntry {
    std::string name;  // Shift-JIS, as stored
    bool isFolder;
    int32_t unpackedSize;
    uint32_t packedSize;
    uint64_t fileTime;  // files only
    bool isDelta;
    DeltaFields delta;  // delta entries only
};

// Reads every entry header of the package carried by path, without
// inflating. Returns true; or false with problem set when there is no package
// or a header is bad (entries then holds those before it).
bool ReadListing(const char* path, std::vector<ListedEntry>* entries, std::string* problem);

// A Windows file time as UTC "YYYY-MM-DD HH:MM:SS".
std::string FormatFileTime(uint64_t fileTime);

// One line of the listing: kind, unpacked size, packed size, time, name as UTF-8.
std::string FormatListLine(const ListedEntry& entry);

struct VerifyReport {
    int entries;        // entries checked, the bad one included
    int64_t bytes;      // unpacked bytes of the files checked
    std::string entry;  // Shift-JIS name of the first bad entry, or "" when the package as a whole is bad
    std::string reason; // why it is bad, or why the package is ("" when sound)
};

// Reads the package carried by path as the updater would and inflates every
// stream into memory; follows the updater's start (the Boot walk) over it:
// every start-up file must be reached and writable, install.env among them,
// and a background picture must show. Returns true when all is sound; false
// with the first problem in report otherwise. Writes nothing to disk.
bool VerifyPackage(const char* path, VerifyReport* report);

// The commands as the tool runs them: results on out, problems on err.
// Each returns the process exit code: 0, or 1 on failure.
int ListCommand(const char* path, FILE* out, FILE* err);

// The listing for scripts: a JSON array, one object a line, each entry with
// its kind, sizes, time, name (as UTF-8, or null when it has no such form,
// and as the package's Shift-JIS bytes in hex) and, for a file, the SHA-256
// of its unpacked bytes. Returns 0, or 1 with the problem on err when the
// package cannot be read to its end (the array then holds the entries before).
int ListJsonCommand(const char* path, FILE* out, FILE* err);
int VerifyCommand(const char* path, FILE* out, FILE* err);
// Extracts into destination (made when missing, one level) in Full mode,
// with a progress line on progress when it is not null.
int ExtractCommand(const char* path, const char* destination, FILE* out, FILE* err, FILE* progress = nullptr);
