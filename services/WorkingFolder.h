// The updater's private working folder under the user's temporary folder,
// where the start-up files are extracted and found by their bare names.
#pragma once

#include <cstdint>

// Formats the folder name for a timer value: "TempGPInstallFolder_%09d" with
// the value taken as a signed 32-bit number. buffer must hold kMaxPath bytes.
void FormatWorkingFolderName(uint32_t tick, char* buffer, unsigned capacity);

// Remembers the current folder as the start folder, creates the working folder
// (an existing one is used as it is) under the user's temporary folder, or
// under the Windows folder's Temp when that one cannot be spelled or written,
// and makes it current. Returns 0; or 1, with the working folder path empty and
// nothing created, when neither place can take it. Shows nothing.
int CreateWorkingFolder();

// Takes path, the working folder of the updater that started this process as
// its helper, as this process's own: makes it current and gives it as
// WorkingFolderPath, but RemoveWorkingFolder and EndProgram leave it to its
// owner. Returns 0; or 1, nothing changed, when it does not fit or is not a
// folder that can be made current.
int BorrowWorkingFolder(const char* path);

// Makes the start folder current (its parent when the start folder could not be
// spelled), deletes the files directly inside the
// working folder and removes it. Subfolders are neither entered nor removed.
// Does nothing when there is no working folder path, or a borrowed one.
void RemoveWorkingFolder();

// Removes the working folder and ends the process with code through the
// runtime's exit, so the registered exit handlers run. Does not return.
[[noreturn]] void EndProgram(int code);

// The working folder path (no final backslash), or "" before it was made.
const char* WorkingFolderPath();
