// Reads an updater's package entry by entry for the tool's list and verify
// commands and for finding a package already carried by an updater image,
// with the updater's own header reader. Unlike the updater's walk it checks
// that each file's stream lies wholly inside the package before it is read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/DeltaEntry.h"
#include "package/PackageFormat.h"

struct PackageCursor {
    PackageStream stream;  // bounded to the package: nothing past it is read
    int64_t start;         // file offset of the first entry
    int entries;           // entries read so far
};

struct CursorEntry {
    PackageEntry header;
    std::string name;   // the name up to its first NUL, even when the header was refused
    uint64_t fileTime;  // files only
    DeltaFields delta;  // delta entries only (header.isDelta)
};

// Opens the package carried by the file at path. Returns false, with nothing
// open, when the file cannot be opened or its trailer points outside it.
bool OpenCursor(PackageCursor* cursor, const char* path);

// Closes the file; safe to call twice.
void CloseCursor(PackageCursor* cursor);

// Reads the next entry's header and, for a file, its last-write time (and a
// delta entry's fields), leaving the file at the stream. Returns kPackageOk with end set at the end marker,
// or the package result of a header the updater would refuse or one that
// would reach past the package.
int NextEntry(PackageCursor* cursor, CursorEntry* entry, bool* end);

// Passes over the stream of the file entry that NextEntry just returned.
int SkipStream(PackageCursor* cursor, const CursorEntry* entry);

// Why the updater refuses a name (ExplainEntryName's verdict), in a few
// words, or null when it accepts it.
const char* ExplainBadName(const char* name, bool isFolder);

// When the updater image at path already carries a complete package (every
// header sound, the end marker and two to nine zero filler bytes right before
// the trailer), returns true with the length of the image before it and its entry count.
bool FindCarriedPackage(const char* path, int64_t* imageLength, int* entries);
