// Scripted answers for the update's dialogs in a build without windows.
#pragma once

#include <string>
#include <vector>

// The next SETUP dialog ends with OK and this text, or with Cancel when cancel is set.
void QueueSetupAnswer(const std::string& text, bool cancel = false);
// The next finish dialog ends with OK and these check boxes, or with Escape.
void QueueFinishAnswer(bool runGame, bool openReadme, bool escape = false);
// What the dialogs showed, and what was started and opened, oldest first.
const std::vector<std::string>& SetupProposals();
const std::vector<std::string>& FinishLabels();  // "(short)" for ENDINSTALL_SHORT
const std::vector<std::string>& StartedPrograms();
const std::vector<std::string>& OpenedDocuments();
void ResetScriptedUpdateDialogs();
// Forgets the SETUP dialog's answers and proposals (ResetScriptedUpdateDialogs
// calls it too).
void ResetScriptedSetupDialog();
