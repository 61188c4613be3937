#include "settings/SectionLists.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "settings/SettingsFile.h"
#include "services/WorkingFolder.h"

namespace {

// Headers in the order they are tried; none is a prefix of another.
struct Section {
    int id;
    const char* header;
    const char* name;
};
const Section kSections[] = {
    {kSectionDelfiles, "[delfiles]", "delfiles"},
    {kSectionDelfilesUser, "[delfiles_user]", "delfiles_user"},
    {kSectionIni, "[ini]", "ini"},
    {kSectionReg, "[reg]", "reg"},
    {kSectionDelfilesAfterinst, "[delfiles_afterinst]", "delfiles_afterinst"},
};

StringList s_lists[kSectionCount];

bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// An exhausted heap ends the program after CheckedAlloc's box.
void AppendLine(StringList* list, const char* text) {
    StringEntry* entry = static_cast<StringEntry*>(CheckedAlloc(sizeof(StringEntry)));
    if (entry == nullptr) EndProgram(-1);
    size_t n = strlen(text) + 1;
    entry->text = static_cast<char*>(CheckedAlloc(n));
    if (entry->text == nullptr) EndProgram(-1);
    memcpy(entry->text, text, n);
    entry->next = nullptr;
    if (list->last != nullptr) list->last->next = entry;
    else list->first = entry;
    list->last = entry;
}

}  // namespace

const char* SectionHeader(int section) { return kSections[section].header; }
const char* SectionName(int section) { return kSections[section].name; }

int MatchSectionHeader(const char* line) {
    for (const Section& s : kSections)
        if (StartsWith(line, s.header)) return s.id;
    return -1;
}

size_t StripTrailingSeparators(char* line) {
    size_t n = strlen(line);
    while (n > 0 && static_cast<uint8_t>(line[n - 1]) <= 0x20) line[--n] = '\0';
    return n;
}

const StringList* SectionList(int section) { return &s_lists[section]; }

void ResetSectionListsForTesting() {
    for (StringList& list : s_lists) ClearStringList(&list);
}

void ClearStringList(StringList* list) {
    while (list->first != nullptr) {
        StringEntry* next = list->first->next;
        free(list->first->text);
        free(list->first);
        list->first = next;
    }
    list->last = nullptr;
}

void LoadSectionLists(const char* name) {
    FILE* file = PlatformOpenFile(name, "rt");
    if (file == nullptr) {
        ShowMessage(kMsgCannotOpenSections, name);
        exit(-1);
    }
    int open = -1;
    char line[kSettingsLineBuffer];
    while (fgets(line, sizeof(line), file) != nullptr) {
        if (StripTrailingSeparators(line) == 0) continue;
        if (StartsWith(line, "//") || line[0] == ';') continue;
        if (StartsWith(line, "EOF")) break;
        if (line[0] == '-') {
            open = -1;
            continue;
        }
        int header = MatchSectionHeader(line);
        if (header >= 0) {
            ClearStringList(&s_lists[header]);
            open = header;
        } else if (open >= 0) {
            AppendLine(&s_lists[open], line);
        }
    }
    fclose(file);
    if (open >= 0) {
        ShowMessage(kMsgUnterminatedSection, SectionName(open));
        exit(-1);
    }
}
