// The one wildcard search of the program and the deletion of matching files.
// There is exactly one search at a time; starting a new one ends the old one.
#pragma once

// Starts a search for pattern (a path whose last component may hold * and ?).
// Returns 0 when at least one entry matched (a search is now open), 1 when none
// did, the search could not start, or the pattern does not fit its buffer.
int FindFirstMatch(const char* pattern);

// Returns the next matching file of the open search as the pattern's drive and
// folder part followed by the found name, or null when the search is exhausted
// or none is open. Folders are passed over. The text lives in a module buffer
// valid until the next call; a result that would not fit it is passed over.
const char* FindNextMatch();

// Deletes the files matching pattern (which may carry a relative sub-path)
// inside folder, then restores the current folder. Files that cannot be deleted
// are passed over; folders are never deleted. Deletes nothing when folder
// cannot be made current or the current folder cannot be remembered.
void DeleteMatchingFiles(const char* folder, const char* pattern);
