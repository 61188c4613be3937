// Continuing as administrator. When the install folder refuses this account's
// writes, the updater offers to start its own program file elevated, as a
// helper that writes the package, the [ini] lines and the deletions, while the
// process the player started keeps the player's registry, the finish dialog
// and the launches. The Windows build shows the box and starts the helper
// (update/Elevation_win32.cpp); a build without windows answers from a script
// (update/Elevation_script.cpp) and records what it was asked.
#pragma once

// How the helper's run ended, as the process that started it sees it.
enum HelperOutcome {
    kHelperFinished = 0,  // the package, the [ini] lines and the deletions are in
    kHelperFailedTold,    // ended after a failure it told, or Cancel: the folder is as it was
    kHelperNotStarted,    // elevation refused or unavailable, or the handshake refused: nothing changed
};

// Shows the box saying that this account may not write into folder and that
// continuing as administrator can update it. True for continue, false for
// Cancel, Escape or the close box.
bool AskContinueAsAdministrator(const char* folder);

// Starts this program elevated as the helper for folder and waits for it,
// the owner window disabled meanwhile. Returns how it ended; kHelperNotStarted
// when the system or the user refused the elevation.
HelperOutcome RunElevatedHelper(const char* folder);
