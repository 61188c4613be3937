// The makers' tool's edge to the terminal and the native file system: the
// conversions between the package's Shift-JIS names and what a maker types
// and reads, and the one native folder scan the platform interface cannot
// do (it passes over names without a Shift-JIS form, which the tool must
// report instead). The POSIX side speaks UTF-8 through iconv, the Windows side
// UTF-16 through code page 932.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Makes the terminal show UTF-8 (a no-op where it always does).
void PrepareTerminal();

// True when stream writes to a terminal (a console on Windows).
bool IsTerminal(FILE* stream);

// The command-line arguments as Shift-JIS. Returns false, naming the argument
// in bad (as typed), when one has no Shift-JIS form.
bool ToolArguments(int argc, char** argv, std::vector<std::string>* arguments, std::string* bad);

// Converts Shift-JIS to UTF-8. Returns false, leaving utf8 empty, when the
// bytes are not Shift-JIS.
bool SjisToUtf8(const char* sjis, std::string* utf8);

// Converts UTF-8 to Shift-JIS. Returns false, leaving sjis empty, when the
// text is not UTF-8 or has no exact Shift-JIS form (one that converts back to
// the same text).
bool Utf8ToSjis(const char* utf8, std::string* sjis);

// A Shift-JIS name fit for a message: UTF-8 when it converts, otherwise the
// ASCII bytes kept and every other byte as \xNN. Never fails.
std::string PrintableName(const char* sjis);

// Looks in the folder at sjisFolder (not in its subfolders) for an entry
// whose native name has no exact Shift-JIS form. Returns true and the first
// such name, as UTF-8, in utf8Name; false when every name converts or the
// folder cannot be read.
bool FindNameWithoutSjis(const char* sjisFolder, std::string* utf8Name);
