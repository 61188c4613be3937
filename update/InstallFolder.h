// Finding the folder the game is installed in: through the values its
// installer left in the game key ("IsInst", "InstTo"), or chosen by hand in
// the SETUP dialog and normalised. Both ways apply the version gate and end
// with the user's confirmation; neither writes anything.
#pragma once

#include <cstddef>

// The path buffer and the caller's install folder: 259 bytes and a terminator.
constexpr size_t kInstallPathBuffer = 260;
// The current folder is remembered in a buffer this large.
constexpr size_t kRememberedFolderBuffer = 520;

// What the hand-chosen path became.
enum NormalizeResult {
    kNormalizeOk = 0,
    kNormalizeNetwork,  // two backslashes: a network share
    kNormalizeRoot,     // a drive root
    kNormalizeTooLong,  // would not fit the path buffer
};

struct NormalizeOptions {
    bool makeFolder;            // INSTMAKEFOL
    const char* instFol;        // INSTFOL, or null
    const char* instTo;         // INSTTO
    const char* windowsFolder;  // the Windows folder, for a path without a drive
};

// Normalises a typed or browsed path in place (capacity bytes): '/' to '\',
// the network test, one final backslash stripped, the game's folders appended,
// the Windows drive put in front, a backslash after the colon, the root test.
// Never writes past capacity.
NormalizeResult NormalizeInstallPath(char* path, size_t capacity, const NormalizeOptions& options);

// Where an installed version stands against the range a patch updates.
enum VersionVerdict {
    kVersionAccepted = 0,
    kVersionTooOld,         // below CHKREGVER: the patch needs an earlier update first
    kVersionAlreadyUpdated, // above CHKREGVERHIGH: the game is newer than the patch
};

// The version gate's rule, for the updater and for the makers' tool: version
// passes when lowest <= version <= highest, the lower bound tested first.
VersionVerdict JudgeInstalledVersion(int version, int lowest, int highest);

// Passes when CHKREG is not set or the stored version lies within
// CHKREGVER..CHKREGVERHIGH; otherwise shows why and fails.
bool VersionGate();

// Fills the path buffer with "<drive root>Program Files\[INSTFOL\]INSTTO",
// cut at a character boundary if it does not fit.
void DefaultInstallPath();

// How the search for the install folder ended; every failure was told.
enum FolderResult {
    kFolderConfirmed = 0,  // folder filled, and the user agreed to update it
    kFolderNotFound = -1,  // no folder was had: not installed, unknown, or none chosen
    kFolderRefused = -2,   // the version gate refused, or the user declined the folder found
};

// Finds the install folder through the game key. Returns kFolderConfirmed with
// folder filled (kInstallPathBuffer bytes); kFolderNotFound (the caller may
// offer the manual way); or kFolderRefused.
FolderResult FindInstalledCopy(char* folder);

// Lets the user choose the install folder in the SETUP dialog. Returns
// kFolderConfirmed with folder filled, kFolderNotFound otherwise. Cancel in
// the root box ends the program.
FolderResult ChooseInstallFolder(char* folder);
