// What the tool says about itself: the usage of each command and its
// version. Asked for, it goes to standard output; after a wrong command line,
// to standard error with the problem named first.
#pragma once

#include <cstdio>

// Prints "usage:" and the usage of command ("diff", "pack", ...), or of every
// command when command is null, then the options they share. Returns false,
// printing nothing, for a command the tool does not have.
bool PrintUsage(const char* command, FILE* out);

// The tool's version, that of the updater it comes with ("1.0.0.0").
const char* ToolVersion();
