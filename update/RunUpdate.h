// The updater's main job, run by the Update button: find the install folder,
// write the whole package into it, apply the [ini] and [reg] lines, delete
// what [delfiles_afterinst] lists, ask what to launch and launch it.
#pragma once

#include <cstddef>

#include "package/Extract.h"
#include "update/HelperHandshake.h"

// How an update ended, when the program goes on.
enum UpdateResult {
    kUpdateApplied = 0,     // the main window then closes
    kUpdateAbandoned = -1,  // told, and nothing changed
};

// Runs the update. A damaged package or Cancel after a write failure ends
// the program, with the install folder as it was. A folder that refuses this
// account's writes is offered to the elevated helper; the registry values,
// the finish dialog and the launches stay with this process.
UpdateResult RunUpdate();

// What an update writes into folder, for this process and for
// the elevated helper alike: the package (Retry/Cancel on write failures),
// the [ini] lines (a failed one told, and the update goes on), the
// [delfiles_afterinst] deletions. Returns kHelperExitDone, or
// kHelperExitFailed after telling the failure (or Cancel), the folder as it
// was. Writes no registry value and launches nothing.
HelperExit WriteInstallFolder(const char* folder);

// Writes every [ini] line that splits (tokens expanded) into INI_SECTION of
// INI_FILE, in one swap, for the updater and the makers' rehearsal. Returns
// kProfileOk, with path "" when there is no INI_FILE or no such line and
// otherwise the file's resolved path; or the ProfileResult of a failed write,
// the file as it was. Shows nothing.
int WriteIniLines(char* path, size_t capacity);

// Hands each [reg] line that splits, as value name and data, to use in file
// order; none when REG_GLOBAL is "-" (unset). Writes nothing itself.
void ForEachRegLine(void (*use)(const char* name, const char* data, void* context), void* context);

// Ends the program after an extraction that did not end in kExtractDone:
// a damaged package, or an installed file a delta does not apply to, is told
// first; the exit code is -1. Does not return.
[[noreturn]] void EndAfterFailedExtraction(ExtractResult result);
