// The one way the updater opens the data files it reads by name: the settings
// file, the background picture, and the existence tests of the settings file
// and the key file. Names are opened unchanged, relative to the current folder
// or as absolute paths; sound names (".ogg", ".wav") are opened only when they
// hold no backslash. Every attempt runs under one lock.
#pragma once

#include <cstdio>

// Switches direct opening on (nonzero) or off. While it is off nothing is found.
void SetDirectOpenAllowed(int flag);

// True when the extension of the name's file part (after a drive, the last
// '\' or '/' outside double-byte characters) is ".ogg" or ".wav" in any case.
bool IsSoundName(const char* name);

// One attempt: the open stream, or null when the file is not found or cannot
// be opened. Reports nothing.
FILE* OpenDataFile(const char* name, const char* mode);

// Opens the file or asks Retry/Cancel (kMsgOpenFailed) until it opens;
// Cancel ends the program with -1. Never returns null.
FILE* OpenDataFileRetry(const char* name, const char* mode);

// True when the file opens for reading by the rules of OpenDataFile; the
// stream is closed again at once and no box is shown.
bool DataFileExists(const char* name);
