// The diff command: makes the patch folder from the folder of the released
// game (OLD) and that of its new version (NEW), for pack to take as it is:
//
//   OLD  sample.exe  data\scene00.dat  data\scene01.dat
//   NEW  sample.exe  data\scene01.dat (other bytes)  data\scene02.dat
//   OUT  data\scene01.dat  data\scene02.dat  install.env, whose
//        [delfiles_afterinst] lists data\scene00.dat
//
// Files are compared by their bytes, never by their times. A file that is new
// or changed is copied with its last-write time, with the folders it needs; a
// new folder comes even when it is empty. Names are matched without letter
// case, as Windows matches them: a file renamed in letter case only is no
// removal, and no entry deletes a file that the patch brings. The removed
// files are listed by their exact names, never by wildcards, merged into the
// maker's install.env or written into a starting one whose keys are all
// commented out.
//
// Refused before anything is written, each naming its entry: a name the
// updater refuses or that has no Shift-JIS form; two names in one tree that
// differ only in letter case; a file that becomes a folder or the reverse (the
// updater writes the package before it deletes anything, so the old one stands
// in the way); a start-up file inside a folder; a removed file whose name
// cannot be an entry line; a new or changed install.env in the game itself;
// and a maker's install.env the updater would not start with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/SettingsCheck.h"

// What diff did; every value but kDiffDone names its entry in the report.
enum DiffRefusal {
    kDiffDone = 0,
    kDiffCannotRead,       // OLD, NEW, a file in them or the settings file cannot be read
    kDiffNoShiftJis,       // a name without an exact Shift-JIS form
    kDiffBadName,          // a name the updater refuses
    kDiffCaseClash,        // two names in one tree that differ only in letter case
    kDiffKindChanged,      // a file that became a folder, or a folder that became a file
    kDiffStartupInFolder,  // a new or changed file inside a folder with a start-up name
    kDiffNotListable,      // a removed file whose name cannot be a [delfiles_afterinst] line
    kDiffGameInstallEnv,   // a new or changed top-level install.env in NEW: the patch's own takes its place
    kDiffFileTooLarge,     // a new or changed file of 2 GiB or more
    kDiffSettingsError,    // the maker's install.env has an error: the updater would not start
    kDiffOutputExists,     // OUT exists and is not an empty folder
    kDiffCannotWrite,      // OUT or a file in it cannot be written
};

struct DiffRequest {
    std::string oldFolder;  // Shift-JIS paths
    std::string newFolder;
    std::string output;
    std::string settings;   // the maker's install.env, or "" for a starting one
    FILE* progress;         // the terminal that shows a progress line, or null
    std::vector<std::string> excludes = {};  // --exclude patterns (Shift-JIS), besides DefaultExcludes()
    bool deltas = true;     // changed files may ship as deltas (tools/DeltaFiles.h)
};

struct DiffReport {
    DiffRefusal refusal;
    std::string entry;      // the entry, file or line concerned, as UTF-8
    std::string other;      // the second name of a case clash
    std::string detail;     // why, or which tree
    int added;              // files new in NEW
    int changed;            // files whose bytes differ
    int removed;            // files NEW no longer has, listed for deletion
    int unchanged;
    int newFolders;         // folders new in NEW
    int64_t addedBytes;
    int64_t changedBytes;   // the bytes of the new versions
    std::vector<std::string> addedNames;    // Shift-JIS, NEW's spelling, in NEW's order
    std::vector<std::string> changedNames;
    std::vector<std::string> removedNames;  // Shift-JIS, as listed
    std::vector<std::string> notes;         // UTF-8: what the maker should know about the patch
    bool settingsMerged;    // the maker's install.env was taken
    int entriesAdded;       // lines added to its [delfiles_afterinst]
    std::vector<CheckFinding> settingsFindings;  // the check of the install.env written
    std::vector<std::string> excludedNames;      // Shift-JIS: left out of OLD or NEW by a pattern
    std::vector<std::string> badNames;           // UTF-8: every refused name of the run, the first as above
    std::vector<std::string> shipped;  // UTF-8: each changed file, whole or as a delta, and its bytes
};

// Makes the patch folder as the request says. Returns the refusal (kDiffDone
// on success); on failure nothing the command made stays.
DiffRefusal DiffTrees(const DiffRequest& request, DiffReport* report);

// The outcome for the maker: the summary, or the refusal, without a final newline.
std::string DescribeDiffReport(const DiffReport& report);

// Runs diff and prints the summary and notes on out, the install.env
// findings and a refusal on err. Returns the exit code, 0 or 1.
int DiffCommand(const DiffRequest& request, FILE* out, FILE* err);
