// The rehearsal of an update before it ships: the whole update as the
// updater runs it, onto a folder the maker gives (a copy of the released
// game), then, when asked, a comparison of that folder with the new release.
//
//   patchtool try patch.exe copy-of-1.00 --expect release-1.01 --installed-version 100
//   version gate: installed version 100 passes (CHKREGVER 100 .. CHKREGVERHIGH 100)
//   ok: extracted into copy-of-1.00
//   [ini] written into copy-of-1.00\game.ini: 1 entry
//   [reg] not applied: HKEY_CURRENT_USER\Software\Game  "InstallDir"="copy-of-1.00"
//   [delfiles_afterinst] old.dat
//   left out of the comparison: install.env (a start-up file the patch brings), ...
//   equal: copy-of-1.00 holds release-1.01
//
// Every step is the updater's own code: the Boot walk and its settings
// reading, the version gate's rule, the Full walk with its staging, the [ini]
// writer, the [reg] line split (printed, never written to the registry) and
// the after-install deletions, which skip a line leaving the folder.
#pragma once

#include <cstdio>
#include <string>

// The exit codes besides 0 (the folder holds the new release, or no
// comparison was asked for) and the usage exit 2.
constexpr int kTryDiffersExit = 1;       // the folder differs from the new release
constexpr int kTryRefusedExit = 3;       // the version gate refuses the installed version
constexpr int kTryWalkFailedExit = 4;    // the Full walk failed: a damaged package or a failed write
constexpr int kTryCannotStartExit = 5;   // no package, no settings the updater would start with, no such folder

struct TryRequest {
    std::string patch;     // Shift-JIS paths
    std::string game;
    std::string expect;    // "" for no comparison
    bool versionGiven;     // --installed-version given
    int installedVersion;
};

// Runs the rehearsal, steps and differences on out, failures on err.
// Returns 0 or one of the exit codes above.
int TryCommand(const TryRequest& request, FILE* out, FILE* err);
