// The settings file "install.env", read by two passes over the same Shift-JIS
// text. The key/value pass keeps "KEY<blanks>VALUE" lines:
//
//   // comment (a line starting with a blank, a tab or '/' is skipped)
//   TITLEBAR        サンプル|ゲーム      <- value "サンプル ゲーム"; '|' stands for a blank
//   CHKREGVER       100                  further words on the line are ignored
//   [EOF]                                in the first column: nothing after it is read
//
// Rules, each of which a maker can see the effect of: at most 400 physical
// lines are read (every line counts); a line yields at most 511 bytes and a
// longer one arrives as pieces that count as lines; bytes 0x00-0x20 separate
// tokens; the value must start within 99 separators of the key; the first
// definition of a key wins; keys are case-sensitive. Nothing is reported: a
// line the pass cannot use is ignored and a missing key gives its default.
#pragma once

#include <cstddef>

#include "services/Messages.h"  // kDefaultTitleBar, with the other texts

// Lines the key/value pass reads at most.
constexpr int kMaxSettingsLines = 400;
// One physical line with its terminator; longer lines arrive in pieces.
constexpr size_t kSettingsLineBuffer = 512;
// The value must begin within this many bytes from the end of the key.
constexpr size_t kValueSearchSpan = 100;
// Buffer of each text accessor: values are cut to 127 bytes.
constexpr size_t kSettingBuffer = 128;
// INSTREADME in the finish dialog and INSTREADMEFL after an update.
constexpr size_t kLongSettingBuffer = 512;
// UpdaterTitle: 127 bytes of TITLEBAR, the suffix and the terminator.
constexpr size_t kTitleBuffer = 141;

constexpr const char* kSettingsFileName = "install.env";
constexpr const char* kDefaultInstTo = "VORNEL_APP";
constexpr const char* kDefaultExeName = "vornel.exe";
constexpr const char* kDefaultReadmeLabel = "-";
constexpr const char* kDefaultReadmeFile = "readme.txt";
// Default of REG_GLOBAL, REG_LOCAL, INI_FILE and INI_SECTION.
constexpr const char* kDefaultDash = "-";

struct SettingEntry {
    char* key;
    char* value;
    SettingEntry* next;
};

// Reads name through the retrying opener into the table, appending to what is
// there. Returns 0. Registers the exit handler that releases the table.
int LoadSettingsTable(const char* name);

// Splits one line buffer (kSettingsLineBuffer bytes, zero-filled after the
// line) in place into key and value by the pass's rules. Returns false for a
// line the pass skips. The value still holds its '|' characters.
bool SplitSettingsLine(char* line, const char** key, const char** value);

// Releases every entry; the table is empty afterwards.
void ReleaseSettingsTable();

// The first entry whose key equals key byte for byte, or null.
const SettingEntry* FindSetting(const char* key);

// Copies the value of key, or defaultText when it is absent, into buffer cut
// to size - 1 bytes (even inside a double-byte character). Returns buffer.
char* SettingString(const char* key, char* buffer, size_t size, const char* defaultText);

// The value of key as a decimal integer (sign, digits, up to the first other
// character; none gives 0; clamped to the int range), or defaultValue.
int SettingInt(const char* key, int defaultValue);

// "%s アップデータ" with the current TITLEBAR value.
const char* UpdaterTitle();

// One accessor per key. Text accessors return their own 128-byte buffer;
// those marked "or null" return null when the key is absent.
const char* RegGlobalSetting();     // REG_GLOBAL, read on first use
const char* RegLocalSetting();      // REG_LOCAL, read on first use
const char* IniFileSetting();       // INI_FILE, read on first use
const char* IniSectionSetting();    // INI_SECTION, read on first use
const char* TitleBarSetting();      // TITLEBAR
const char* InstToSetting();        // INSTTO
const char* InstFolSetting();       // INSTFOL, or null
const char* ExeNameSetting();       // EXENAME
int InstMakeFolSetting();           // INSTMAKEFOL, read on first use
const char* KeyFileSetting();       // KEYFILE, or null
const char* ChkRegSetting();        // CHKREG, or null
int ChkRegVerSetting();             // CHKREGVER, read on first use
int ChkRegVerHighSetting();         // CHKREGVERHIGH, read on first use

// Forgets the table and every accessor's cached value, so that a test can
// load another file.
void ResetSettingsForTesting();
