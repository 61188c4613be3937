// The image pack puts a package behind: it must be a Windows program, and
// this updater, recognised by the product name its version resource gives.
// A text file or another program would ship as an "exe" that never runs or
// never reads its package.
#pragma once

#include <string>

// What the image at a path is.
enum UpdaterImageCheck {
    kImageIsUpdater = 0,
    kImageUnreadable,    // the file cannot be opened or read
    kImageNotAProgram,   // no well-formed Windows program headers
    kImageOtherProgram,  // a Windows program whose resources do not name this updater
};

// Reads the image at path (Shift-JIS): its headers through the package
// reader's own image reader, then its resources. Never writes.
UpdaterImageCheck CheckUpdaterImage(const char* path);

// The check's result in a few words for the maker, "" for kImageIsUpdater.
const char* DescribeUpdaterImageCheck(UpdaterImageCheck check);
