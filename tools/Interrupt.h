// Ctrl-C while the tool writes a file that appears under its name only when
// complete: the half-written file (OUT.exe.partial) is removed before the
// tool ends, so an interrupted run leaves nothing behind.
#pragma once

#include <cstddef>

// The exit code of a run ended by Ctrl-C, as shells report SIGINT.
constexpr int kInterruptedExit = 130;
// The partial path in the form the system takes, and its terminator; a
// longer one is not watched.
constexpr size_t kInterruptPathBuffer = 1024;

// Makes Ctrl-C (SIGINT) remove the partial file named by WatchPartialFile, if
// any, and end the tool with kInterruptedExit.
void RemovePartialFileOnInterrupt();

// Names the partial file being written (Shift-JIS); null when none is.
void WatchPartialFile(const char* path);
