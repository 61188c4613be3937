// The [delfiles_afterinst] entries as the updater uses them, after it has
// written the whole package: each entry goes to the system's file search in
// the install folder (a folder part, then a name that may hold * and ?), every
// file it finds is deleted, and the entry's first folder is removed when that
// leaves it empty.
//
//   data\old.dat     deletes that file, then removes the folder data if it is now empty
//   save\*.tmp       deletes every .tmp file in the folder save
//   ..\x.dat         leaves the install folder: the updater skips it
//
// The makers' tool refuses an entry that leaves the install folder, warns
// where one finds a file that the patch itself has just written, and writes the entries
// for removed files so that the section pass keeps them exactly.
#pragma once

// Why an entry (Shift-JIS) leaves the install folder, by the updater's own
// rule (FindFolderEscape), in a few words, or null when it stays inside.
const char* ReachesOutside(const char* entry);

// True when the file search for entry, run in the install folder, finds the
// file name (both Shift-JIS, relative to the install folder). Letter case is
// ignored as Windows ignores it; * matches any run of characters and ? one
// character or none before a dot or the end; a final ".*" or "." also matches
// a name without a dot; "*.*" matches every name. A folder part is compared
// whole, and one holding a wildcard finds nothing. The system's short 8.3
// names are not modelled.
bool EntryMatchesFile(const char* entry, const char* name);

// Why a file name (Shift-JIS, relative) cannot be written as an entry line
// that the updater's section pass keeps as it is, or null when it can.
const char* WhyNotListable(const char* name);
