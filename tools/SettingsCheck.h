// The install.env analysis: reads the file the way the updater will and
// lists, without printing anything, where the updater would quietly do
// something other than what the file seems to say. Both of the updater's
// passes run over the same pieces of text the updater's fgets would hand them:
//
//   TITLEBAR My Game        line 1: only "My" is read (write My|Game)
//   titlebar x              line 2: unknown key, did you mean TITLEBAR?
//   [ini]                   line 3: a section opens...
//   a b                     line 4: ...and is never closed: the updater will
//                                   not start (an error, the rest are warnings)
//
// The updater opens the file in text mode on Windows: CR LF arrives as LF and a
// Ctrl-Z byte ends the file. A piece is at most 511 bytes with its LF, so a
// line of 511 bytes or more arrives as several pieces, each one counting
// towards the 400 lines the key/value pass reads. Findings carry the physical
// line number; texts in findings are UTF-8, values and entries Shift-JIS.
#pragma once

#include <string>
#include <vector>

#include "settings/SectionLists.h"

enum CheckSeverity {
    kCheckWarning,
    kCheckError,  // the updater refuses to start
};

// What a finding is about; tests compare these rather than the wording.
enum CheckKind {
    kCheckNoValue,          // a known key with nothing after it: it keeps its default
    kCheckValueTooFar,      // the value starts more than 99 separators after the key
    kCheckValueCut,         // a text value over 127 bytes
    kCheckExtraWords,       // words after the value, which the updater drops
    kCheckUnknownKey,       // a key the updater never asks for (other case, misspelt, '=')
    kCheckDuplicateKey,     // a key set again: the first definition wins
    kCheckPastLineLimit,    // a key beyond the 400 lines the key/value pass reads
    kCheckAfterEof,         // a key after "[EOF]" in the first column
    kCheckNotFirstColumn,   // "[EOF]", a header or "-" after a blank: not a marker
    kCheckMarkerCase,       // "[eof]", "[INI]": markers are matched byte for byte
    kCheckIndentedKey,      // a known key after a blank: the line is a comment
    kCheckSectionLineKey,   // a section line the key/value pass reads as a known key
    kCheckSectionReopened,  // a section header again: the earlier entries are dropped
    kCheckAfterSectionEof,  // a section header after "EOF", where the section pass stopped
    kCheckLongLine,         // a line that arrives as several pieces
    kCheckCtrlZ,            // a Ctrl-Z byte, after which nothing is read
    kCheckNotDecimal,       // an integer key whose value is not wholly a decimal number
    kCheckReadmeMissing,    // INSTREADMEFL names a file the package does not carry at its top
    kCheckDeleteOutside,    // a [delfiles_afterinst] entry that leaves the install folder: skipped (error)
    kCheckDeletesPatchFile, // a [delfiles_afterinst] entry that finds a file the patch itself brings
    kCheckUnterminated,     // a section still open when the section pass stops (error)
    kCheckWrongEncoding,    // a UTF-8 byte-order mark, or UTF-8 text that is no sensible Shift-JIS (error)
    kCheckNoVersionPasses,  // CHKREG set and no installed version within CHKREGVER..CHKREGVERHIGH (error)
    kCheckVersionCheckOff,  // CHKREGVER or CHKREGVERHIGH without CHKREG: no version is checked
    kCheckSkippedLine,      // an [ini] line without "=" or a [reg] line the updater cannot split: skipped
    kCheckSectionUnused,    // [ini] lines without INI_FILE, [reg] lines without REG_GLOBAL
};

struct CheckFinding {
    int line;               // physical line, from 1
    CheckSeverity severity;
    CheckKind kind;
    std::string text;       // UTF-8, without the file name and line
};

// One key as the updater's accessor returns it.
struct EffectiveSetting {
    const char* key;
    bool isInteger;
    bool isDefault;        // no line sets the key
    bool absentIsNull;     // the accessor gives null, not a default text, when unset
    int line;              // the line that sets it, or 0
    std::string value;     // Shift-JIS, cut as the 128-byte accessor cuts it
    std::string fullValue; // Shift-JIS, as the table holds it ('|' already a blank)
    int number;            // integer keys: what the updater reads
};

struct SettingsCheck {
    std::vector<CheckFinding> findings;  // by line
    std::vector<EffectiveSetting> settings;  // every known key, in a fixed order
    std::vector<std::string> sections[kSectionCount];  // Shift-JIS entries as the section pass keeps them
    std::vector<int> sectionLines[kSectionCount];      // the physical line of each entry
    int sectionHeaderLine[kSectionCount];  // the header whose entries are kept, or 0
    int sectionEndLine[kSectionCount];     // the "-" line or the header that ends that section, or 0
    int keyEofLine;      // "[EOF]", where the key/value pass stops, or 0
    int sectionEofLine;  // a line beginning with "EOF", where the section pass stops, or 0
    int endMarkerLine;   // the first "[EOF]" line outside every section, before the section pass stops, or 0
    int physicalLines;  // lines in the file as the updater reads it
    int linesRead;      // physical lines the key/value pass reached
    int errors;
    int warnings;
};

// The keys the updater reads, in the order the check prints them; each key's
// default (Shift-JIS, "" for a key that is unset without one) and what it
// does, in a few words of English.
int KnownSettingCount();
const char* KnownSettingKey(int index);
const char* KnownSettingDefault(int index);
const char* KnownSettingMeaning(int index);

// Analyses the bytes of an install.env. packageFiles lists the names
// (Shift-JIS, relative, '\' separated) of every file the package carries, or
// is null to skip the checks against the package (the readme is there, no
// [delfiles_afterinst] entry deletes a file the patch brings). Never fails:
// every byte string is some settings file.
void CheckSettingsText(const std::string& bytes, const std::vector<std::string>* packageFiles, SettingsCheck* check);

// Where the updater's reading of a settings file's bytes ends: at the first
// Ctrl-Z, which ends a text-mode stream, or at the end.
size_t SettingsReadEnd(const std::string& bytes);

// Reads the bytes of the settings file at path (Shift-JIS). Returns false
// when it cannot be read or is far larger than any settings file.
bool ReadSettingsBytes(const char* path, std::string* bytes);

// Reads the file at path (Shift-JIS) and analyses it as CheckSettingsText
// does. Returns false, leaving check empty, when it cannot be read.
bool CheckSettingsFile(const char* path, const std::vector<std::string>* packageFiles, SettingsCheck* check);

// The names of every file (not folder) below folder, relative to it. Returns
// false when the folder or one below it cannot be read.
bool ListPackageFiles(const char* folder, std::vector<std::string>* names);

// Shift-JIS text for the maker to read: UTF-8 where it converts, else
// character by character, a character that does not convert as \xNN bytes, so
// that one cut character does not spoil the rest. Never fails.
std::string ShownSjis(const std::string& sjis);
