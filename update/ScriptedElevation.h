// Scripted answers for continuing as administrator in a build without windows.
#pragma once

#include <string>
#include <vector>

#include "update/Elevation.h"

// The next administrator box answers continue, or Cancel when cont is false.
// With none queued it answers Cancel.
void QueueAdministratorAnswer(bool cont);
// How the next helper run ends. With none queued it is kHelperNotStarted.
void QueueHelperOutcome(HelperOutcome outcome);
// The folders the administrator box named, and those a helper was started for.
const std::vector<std::string>& AdministratorBoxFolders();
const std::vector<std::string>& HelperFolders();
void ResetScriptedElevation();
