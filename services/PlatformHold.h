// A file held open so that no other process, nor another open in this one,
// can open or delete it until it is released or the process ends: the mark
// that one program at a time works in a folder. A process that dies lets go
// of its hold with it.
#pragma once

struct PlatformHold;  // a held file

enum PlatformHoldResult {
    kHoldTaken = 0,  // *hold is set
    kHoldBusy,       // someone else holds the file; nothing was changed
    kHoldFailed,     // the file could not be made or opened (no folder, no permission)
};

// Opens the file at path, making it when it does not exist, and holds it.
// Counts as one change to the file system for the test hook.
PlatformHoldResult PlatformHoldFile(const char* path, PlatformHold** hold);

// Lets go of a hold and deletes its file (unless the test hook has stopped
// every change: then only the hold ends, as at the death of the process).
void PlatformReleaseHold(PlatformHold* hold);
