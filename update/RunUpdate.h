// The updater's main job, run by the Update button: find the install folder,
// write the whole package into it, apply the [ini] and [reg] lines, delete
// what [delfiles_afterinst] lists, ask what to launch and launch it.
#pragma once

#include "package/Extract.h"

// How an update ended, when the program goes on.
enum UpdateResult {
    kUpdateApplied = 0,     // the main window then closes
    kUpdateAbandoned = -1,  // told, and nothing changed
};

// Runs the update. A damaged package or Cancel after a write failure ends
// the program, with the install folder as it was.
UpdateResult RunUpdate();

// Ends the program after an extraction that did not end in kExtractDone:
// a damaged package is told first; the exit code is -1. Does not return.
[[noreturn]] void EndAfterFailedExtraction(ExtractResult result);
