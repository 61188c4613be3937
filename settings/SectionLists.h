// The section pass over the settings file: the lines of five named sections,
// each opened by its header and closed by a line starting with "-".
//
//   [ini]
//   Install	REP_INSTALLDIR          kept as written, leading blanks too
//   -		// end of [ini]             closes the section; the line is not kept
//   EOF                                  at the start of a line ends the pass
//
// Lines are stripped of trailing bytes 0x00-0x20; empty lines and lines
// starting with "//" or ";" are skipped; a header clears its own list. A
// section still open when the pass stops is an error: the user is told and
// the program ends with -1, as it does when the file cannot be opened.
#pragma once

#include <cstddef>

struct StringEntry {
    char* text;
    StringEntry* next;
};

struct StringList {
    StringEntry* first;
    StringEntry* last;
};

enum SectionId {
    kSectionDelfiles,
    kSectionDelfilesUser,
    kSectionIni,
    kSectionReg,
    kSectionDelfilesAfterinst,
    kSectionCount,
};

// Opens name relative to the current folder and fills the five lists.
// Returns only after a complete, well-formed pass; otherwise shows its box and
// ends the program with -1, leaving the working folder.
void LoadSectionLists(const char* name);

// The header of a section ("[ini]") and its name in messages ("ini").
const char* SectionHeader(int section);
const char* SectionName(int section);

// The section whose header the stripped line begins with, or -1.
int MatchSectionHeader(const char* line);

// Removes trailing bytes 0x00-0x20 in place; returns the new length.
size_t StripTrailingSeparators(char* line);

// The lines of one section in file order.
const StringList* SectionList(int section);

// Releases the entries of one list, leaving it empty.
void ClearStringList(StringList* list);

// Empties every list, so that a test can read another file.
void ResetSectionListsForTesting();
