// Writing a patch's [delfiles_afterinst] entries into its install.env: into
// a copy of the maker's own file, or into a starting file whose keys are all
// commented out.
//
//   [delfiles_afterinst]
//   data\scene00.dat
//   -	// end of [delfiles_afterinst]
//
// The section the updater keeps (the last one before the section pass stops)
// gets the entries it lacks, just before the line that ends it; a file
// without one gets a new section before its first "[EOF]" outside a section,
// or before the line where the section pass stops, or at its end. The file's
// own line ends, CR LF or LF, are kept, and nothing else in it changes.
#pragma once

#include <string>
#include <vector>

#include "tools/SettingsCheck.h"

// The starting install.env as Shift-JIS text with CR LF line ends: every key
// the updater reads, commented out with its default and what it does, then a
// [delfiles_afterinst] section with entries (none when entries is empty),
// then "[EOF]".
std::string StartingSettingsText(const std::vector<std::string>& entries);

// bytes with the entries its [delfiles_afterinst] section lacks (compared
// without letter case) added. check must describe bytes and hold no error.
// Sets added to the number of lines added.
std::string MergeDeleteEntries(const std::string& bytes, const SettingsCheck& check,
                               const std::vector<std::string>& entries, int* added);
