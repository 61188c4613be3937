// The update's dialogs and launchers as the portable code sees them. The
// Windows build shows the real SETUP and finish dialogs, browses with the
// shell and starts processes; a build without windows answers from a script
// (update/UpdateDialogs_script.cpp) and records what it was asked.
#pragma once

#include <cstddef>

struct FinishChoices {
    bool runGame;
    bool openReadme;
};

// Runs the SETUP dialog showing path (the path buffer, capacity bytes). On the
// OK button the edit box's text (at most capacity - 1 bytes) is stored in path
// and true returned; Cancel, Escape or the close box give false. The browse
// button refills the edit box from path after the shell's folder browser.
bool RunSetupDialog(char* path, size_t capacity);

// Runs the finish dialog: ENDINSTALL with its readme check box labelled
// readmeLabel, or ENDINSTALL_SHORT when readmeLabel is null. OK sets choices
// from the check boxes; Escape or the close box clear both.
void RunFinishDialog(const char* readmeLabel, FinishChoices* choices);

// Starts "name" (quoted) in the current folder without waiting for it.
// Returns nonzero when the process was created.
int StartProgram(const char* name);

// Opens name with the shell's "open" verb, owned by the owner window.
void OpenDocument(const char* name);
