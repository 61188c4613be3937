// Files diff leaves out of both versions: the ones a folder view leaves
// behind on the maker's machine, and those the maker names with --exclude.
// A pattern without a separator is matched against every name's last part
// ("*.bak" anywhere), one with a separator against the whole relative name
// ("save\*.tmp"); * and ? as the system's file search reads them, letter case
// ignored. A folder left out takes everything in it along.
#pragma once

#include <string>
#include <vector>

// Thumbs.db, desktop.ini and .DS_Store, in the order they are said.
std::vector<std::string> DefaultExcludes();

// True when name (Shift-JIS, relative, '\' separated) or a folder above it
// matches one of patterns (Shift-JIS).
bool IsExcluded(const std::vector<std::string>& patterns, const std::string& name);
