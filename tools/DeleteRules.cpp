#include "tools/DeleteRules.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "settings/SectionLists.h"
#include "base/PathRules.h"
#include "base/SjisText.h"

namespace {

// A name as characters: a byte, or a lead byte and its second byte as one
// unit, with ASCII letters folded to lower case.
using Units = std::vector<uint16_t>;

constexpr uint16_t kDot = '.';

Units ToUnits(const std::string& text) {
    Units units;
    for (size_t i = 0, next = 0; i < text.size(); i = next) {
        next = NextCharIndex(text.data(), text.size(), i);
        uint8_t c = static_cast<uint8_t>(text[i]);
        units.push_back(next == i + 2 ? static_cast<uint16_t>(c << 8 | static_cast<uint8_t>(text[i + 1]))
                                      : static_cast<uint16_t>(FoldAsciiLetter(c)));
    }
    return units;
}

bool HasDot(const Units& name) {
    for (uint16_t u : name)
        if (u == kDot) return true;
    return false;
}

// * and ? as the system's search reads them, over whole characters.
bool Glob(const Units& pattern, const Units& name) {
    // at[j]: pattern[i..] matches name[j..], filled from the end of the pattern.
    std::vector<bool> at(name.size() + 1, false), next(name.size() + 1, false);
    next[name.size()] = true;
    for (size_t i = pattern.size(); i-- > 0;) {
        for (size_t j = name.size() + 1; j-- > 0;) {
            bool end = j == name.size();
            if (pattern[i] == '*') {
                at[j] = next[j] || (!end && at[j + 1]);
            } else if (pattern[i] == '?') {
                // Before a dot or at the end a ? may stand for nothing.
                at[j] = (!end && next[j + 1]) || ((end || name[j] == kDot) && next[j]);
            } else {
                at[j] = !end && pattern[i] == name[j] && next[j + 1];
            }
        }
        next.swap(at);
    }
    return next[0];
}

bool NameMatches(Units pattern, const Units& name) {
    if (pattern == Units{'*', kDot, '*'}) return true;
    if (Glob(pattern, name)) return true;
    if (HasDot(name)) return false;
    // "abc.*" and "abc." also find a file called abc.
    size_t n = pattern.size();
    if (n >= 2 && pattern[n - 2] == kDot && pattern[n - 1] == '*') return Glob(Units(pattern.begin(), pattern.end() - 2), name);
    if (n >= 1 && pattern[n - 1] == kDot) return Glob(Units(pattern.begin(), pattern.end() - 1), name);
    return false;
}

// Splits at the last separator ('\' or '/') that is not a second byte.
void SplitFolder(const std::string& path, std::string* folder, std::string* name) {
    size_t last = FindLastSjisSeparator(path.data(), path.size(), "\\/");
    *folder = last == path.size() ? "" : path.substr(0, last);
    *name = last == path.size() ? path : path.substr(last + 1);
}

Units FolderUnits(const std::string& folder) {
    Units units = ToUnits(folder);
    for (uint16_t& u : units)
        if (u == '/') u = '\\';
    return units;
}

}  // namespace

const char* ReachesOutside(const char* entry) {
    switch (FindFolderEscape(entry)) {
        case kEscapeFromRoot: return "a path from the root of the drive";
        case kEscapeDrive: return "a drive";
        case kEscapeParentPart: return "a \"..\" part, the folder above";
        default: return nullptr;
    }
}

bool EntryMatchesFile(const char* entry, const char* name) {
    std::string entryFolder, entryName, fileFolder, fileName;
    SplitFolder(entry, &entryFolder, &entryName);
    SplitFolder(name, &fileFolder, &fileName);
    if (entryFolder.find_first_of("*?") != std::string::npos) return false;
    if (FolderUnits(entryFolder) != FolderUnits(fileFolder)) return false;
    return NameMatches(ToUnits(entryName), ToUnits(fileName));
}

const char* WhyNotListable(const char* name) {
    if (strncmp(name, "//", 2) == 0 || name[0] == ';')
        return "a line beginning with // or ; is a comment to the updater";
    if (name[0] == '-') return "a line beginning with - ends the section";
    if (strncmp(name, "EOF", 3) == 0) return "a line beginning with EOF ends the updater's reading of sections";
    if (MatchSectionHeader(name) >= 0) return "a line beginning with a section header opens that section";
    if (strpbrk(name, "*?") != nullptr) return "a wildcard in it would delete other files too";
    return nullptr;
}
