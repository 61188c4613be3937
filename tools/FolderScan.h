// Reading a maker's folder tree with the Shift-JIS names its package entries
// will carry: one level at a time for pack, which checks each name as it goes,
// and the whole tree for diff and check. A native name without an exact
// Shift-JIS form stops the scan and is reported, since no package can name it.
#pragma once

#include <string>
#include <vector>

#include "services/Platform.h"

enum FolderScanResult {
    kScanOk = 0,
    kScanNoShiftJis,  // a native name has no exact Shift-JIS form
    kScanCannotRead,  // a folder cannot be read
};

struct ScannedEntry {
    std::string name;  // Shift-JIS, relative to the scanned root, '\' separated, folders without a final '\'
    bool isFolder;
};

// The entries directly in folder (a Shift-JIS path), without "." and "..".
// Returns kScanOk; kScanNoShiftJis with the native name (UTF-8) in
// unconvertible; or kScanCannotRead.
FolderScanResult ReadFolderLevel(const std::string& folder, std::vector<PlatformFindData>* entries,
                                 std::string* unconvertible);

// Every file and folder below root, each folder before what it holds. A folder
// whose name is already too long for a package entry is listed but not
// entered. Returns kScanOk, or the failure with where it happened (UTF-8, for
// a message) in where.
FolderScanResult ScanTree(const std::string& root, std::vector<ScannedEntry>* entries, std::string* where);

// The Shift-JIS name's parent folder part: "a\b" for "a\b\c.dat", "" at the
// top. Steps by whole characters, so a '\' second byte is never a separator.
std::string ParentOf(const std::string& name);

// The name folded as NTFS matches names (FoldFileName): two names are one
// name to Windows, and to the updater, when these are equal.
std::string FoldedName(const std::string& name);
