// The check command's printing: turns the findings, the values and the section
// lists of an install.env analysis into the lines the tool prints, and runs the
// check command itself. Nothing here reads the settings file; every decision
// about it is the analysis's, so what is printed is what the analysis found:
//
//   install.env:2: warning: unknown key "titlebar" is ignored: ...
//   install.env:3: error: [ini] is not closed by a line starting with "-" ...
//   settings as the updater reads them:
//     TITLEBAR       "My"  (line 1)
//     INSTFOL        none  (default)
//     ...
//   sections:
//     [ini] 1 entry
//       a b
//   install.env: 1 error, 1 warning
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/SettingsCheck.h"

// One finding as the line the tool prints, "name:LINE: warning: text" (or
// "error"), without the newline.
std::string FindingLine(const CheckFinding& finding, const char* shownName);

// Prints FindingLine for each finding, in the order given, one line each.
void PrintFindings(const std::vector<CheckFinding>& findings, const char* shownName, FILE* out);

// Prints every key's effective value, marking defaults, and the five section
// lists with their entries.
void PrintEffectiveSettings(const SettingsCheck& check, FILE* out);

// The check command: findings, values and lists on out, a file or folder that
// cannot be read on err. packageFolder may be null. Returns the exit code: 0
// when there are at most warnings, 1 on an error or an unreadable input.
int CheckCommand(const char* path, const char* packageFolder, FILE* out, FILE* err);
