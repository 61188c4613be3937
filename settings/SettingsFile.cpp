#include "settings/SettingsFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "base/PathRules.h"
#include "base/SjisText.h"
#include "services/WorkingFolder.h"

namespace {

SettingEntry* s_first = nullptr;
SettingEntry* s_last = nullptr;
bool s_exitHandlerRegistered = false;

// Accessor storage: the first-use ones keep their first result.
char s_regGlobal[kSettingBuffer];
char s_regLocal[kSettingBuffer];
char s_iniFile[kSettingBuffer];
char s_iniSection[kSettingBuffer];
char s_titleBar[kSettingBuffer];
char s_instTo[kSettingBuffer];
char s_instFol[kSettingBuffer];
char s_exeName[kSettingBuffer];
char s_keyFile[kSettingBuffer];
char s_chkReg[kSettingBuffer];
char s_title[kTitleBuffer];
int s_instMakeFol = -1;
int s_chkRegVer = -1;
int s_chkRegVerHigh = -1;

bool IsSeparator(char c) { return static_cast<uint8_t>(c) <= 0x20; }

// A heap copy of text; an exhausted heap ends the program after its box.
char* CopyOrExit(const char* text) {
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(CheckedAlloc(n));
    if (copy == nullptr) EndProgram(-1);
    memcpy(copy, text, n);
    return copy;
}

void AppendEntry(const char* key, const char* value) {
    SettingEntry* entry = static_cast<SettingEntry*>(CheckedAlloc(sizeof(SettingEntry)));
    if (entry == nullptr) EndProgram(-1);
    entry->key = CopyOrExit(key);
    entry->value = CopyOrExit(value);
    entry->next = nullptr;
    // '|' stands for a blank; the second byte of a character (0x7C in ポ) stays.
    ReplaceSjisByte(entry->value, '|', ' ');
    if (s_last != nullptr) s_last->next = entry;
    else s_first = entry;
    s_last = entry;
}

const char* CachedText(char* buffer, const char* key, const char* defaultText) {
    if (buffer[0] == '\0') SettingString(key, buffer, kSettingBuffer, defaultText);
    return buffer;
}

const char* FreshText(char* buffer, const char* key, const char* defaultText) {
    return SettingString(key, buffer, kSettingBuffer, defaultText);
}

const char* FreshTextOrNull(char* buffer, const char* key) {
    SettingString(key, buffer, kSettingBuffer, "");
    return buffer[0] != '\0' ? buffer : nullptr;
}

int CachedInt(int* cache, const char* key) {
    if (*cache == -1) *cache = SettingInt(key, 0);
    return *cache;
}

}  // namespace

bool SplitSettingsLine(char* line, const char** key, const char** value) {
    if (IsSeparator(line[0]) || line[0] == '/') return false;
    for (size_t i = 0; i < kSettingsLineBuffer; ++i)
        if (IsSeparator(line[i])) line[i] = '\0';
    size_t keyEnd = strnlen(line, kSettingsLineBuffer);
    size_t limit = keyEnd + kValueSearchSpan;
    if (limit > kSettingsLineBuffer) limit = kSettingsLineBuffer;
    for (size_t i = keyEnd; i < limit; ++i) {
        if (line[i] != '\0') {
            // The line buffer ends in a zero byte, so the value is terminated.
            *key = line;
            *value = line + i;
            return true;
        }
    }
    return false;
}

int LoadSettingsTable(const char* name) {
    if (!s_exitHandlerRegistered) {
        atexit(ReleaseSettingsTable);
        s_exitHandlerRegistered = true;
    }
    FILE* file = OpenDataFileRetry(name, "rt");
    if (file == nullptr) return -1;
    // One byte more than a line can fill, so that a line of 511 bytes is
    // still followed by a zero byte after its tokens are cut out.
    char line[kSettingsLineBuffer + 1];
    for (int count = 0; count < kMaxSettingsLines; ++count) {
        memset(line, 0, sizeof(line));
        if (fgets(line, static_cast<int>(kSettingsLineBuffer), file) == nullptr) break;
        if (memcmp(line, "[EOF]", 5) == 0) break;
        const char* key = nullptr;
        const char* value = nullptr;
        if (SplitSettingsLine(line, &key, &value)) AppendEntry(key, value);
    }
    fclose(file);
    return 0;
}

void ReleaseSettingsTable() {
    while (s_first != nullptr) {
        SettingEntry* next = s_first->next;
        free(s_first->key);
        free(s_first->value);
        free(s_first);
        s_first = next;
    }
    s_last = nullptr;
}

const SettingEntry* FindSetting(const char* key) {
    for (const SettingEntry* e = s_first; e != nullptr; e = e->next)
        if (strcmp(e->key, key) == 0) return e;
    return nullptr;
}

char* SettingString(const char* key, char* buffer, size_t size, const char* defaultText) {
    if (size == 0) return buffer;
    const SettingEntry* e = FindSetting(key);
    strncpy(buffer, e != nullptr ? e->value : defaultText, size);
    buffer[size - 1] = '\0';
    return buffer;
}

int SettingInt(const char* key, int defaultValue) {
    const SettingEntry* e = FindSetting(key);
    if (e == nullptr) return defaultValue;
    errno = 0;
    long long v = strtoll(e->value, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

const char* UpdaterTitle() {
    snprintf(s_title, sizeof(s_title), kUpdaterTitleFormat, TitleBarSetting());
    return s_title;
}

const char* RegGlobalSetting() { return CachedText(s_regGlobal, "REG_GLOBAL", kDefaultDash); }
const char* RegLocalSetting() { return CachedText(s_regLocal, "REG_LOCAL", kDefaultDash); }
const char* IniFileSetting() { return CachedText(s_iniFile, "INI_FILE", kDefaultDash); }
const char* IniSectionSetting() { return CachedText(s_iniSection, "INI_SECTION", kDefaultDash); }
const char* TitleBarSetting() { return FreshText(s_titleBar, "TITLEBAR", kDefaultTitleBar); }
const char* InstToSetting() { return FreshText(s_instTo, "INSTTO", kDefaultInstTo); }
const char* InstFolSetting() { return FreshTextOrNull(s_instFol, "INSTFOL"); }
const char* ExeNameSetting() { return FreshText(s_exeName, "EXENAME", kDefaultExeName); }
int InstMakeFolSetting() { return CachedInt(&s_instMakeFol, "INSTMAKEFOL"); }
const char* KeyFileSetting() { return FreshTextOrNull(s_keyFile, "KEYFILE"); }
const char* ChkRegSetting() { return FreshTextOrNull(s_chkReg, "CHKREG"); }
int ChkRegVerSetting() { return CachedInt(&s_chkRegVer, "CHKREGVER"); }
int ChkRegVerHighSetting() { return CachedInt(&s_chkRegVerHigh, "CHKREGVERHIGH"); }

void ResetSettingsForTesting() {
    ReleaseSettingsTable();
    for (char* buffer : {s_regGlobal, s_regLocal, s_iniFile, s_iniSection, s_titleBar, s_instTo, s_instFol,
                         s_exeName, s_keyFile, s_chkReg, s_title})
        buffer[0] = '\0';
    s_instMakeFol = s_chkRegVer = s_chkRegVerHigh = -1;
}
