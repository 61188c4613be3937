#include "tools/SettingsMerge.h"

#include <set>

#include "settings/SectionLists.h"
#include "tools/FolderScan.h"

namespace {

// The line that closes a section the tool writes.
constexpr const char* kCloseLine = "-\t// end of [delfiles_afterinst]";

// A default as a key line writes it: a value is one word, '|' stands for a blank.
std::string AsValue(const char* text) {
    std::string value = text;
    for (char& c : value)
        if (c == ' ') c = '|';
    return value;
}

// Byte offset where physical line number line (from 1) begins, or where the
// updater's reading ends when there are fewer lines.
size_t LineStart(const std::string& text, int line) {
    size_t end = SettingsReadEnd(text);
    size_t at = 0;
    for (int n = 1; n < line; ++n) {
        size_t next = text.find('\n', at);
        if (next == std::string::npos || next + 1 > end) return end;
        at = next + 1;
    }
    return at < end ? at : end;
}

}  // namespace

std::string StartingSettingsText(const std::vector<std::string>& entries) {
    const char* eol = "\r\n";
    std::string text;
    text += "// install.env: the settings of this patch's updater, Shift-JIS text.\r\n";
    text += "// A key line: the key in the first column, blanks, one word (| stands for a blank).\r\n";
    text += "// Every key below is commented out and shows the value the updater takes\r\n";
    text += "// when it is not set; remove the // to set it. Check the file with\r\n";
    text += "// patchtool check install.env --package-folder <this folder>.\r\n";
    for (int k = 0; k < KnownSettingCount(); ++k) {
        text += std::string("//") + eol;
        text += std::string("// ") + KnownSettingMeaning(k) + eol;
        text += std::string("//") + KnownSettingKey(k) + "\t" + AsValue(KnownSettingDefault(k)) + eol;
    }
    text += std::string("//") + eol;
    text += std::string("// [ini] lines (key=value) go into INI_FILE, section INI_SECTION; [reg] lines") + eol;
    text += std::string("// (\"name\"=\"data\") into the game's registry key; REP_INSTALL stands for the") + eol;
    text += std::string("// install folder. Each section ends with a line beginning with -.") + eol;
    if (!entries.empty()) {
        text += std::string("// The files the new version no longer has, deleted after the update:") + eol;
        text += std::string(SectionHeader(kSectionDelfilesAfterinst)) + eol;
        for (const std::string& entry : entries) text += entry + eol;
        text += std::string(kCloseLine) + eol;
    }
    text += std::string("[EOF]") + eol;
    return text;
}

std::string MergeDeleteEntries(const std::string& bytes, const SettingsCheck& check,
                               const std::vector<std::string>& entries, int* added) {
    const char* eol = bytes.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::set<std::string> listed;
    for (const std::string& entry : check.sections[kSectionDelfilesAfterinst]) listed.insert(FoldedName(entry));
    std::string lines;
    *added = 0;
    for (const std::string& entry : entries) {
        if (!listed.insert(FoldedName(entry)).second) continue;
        lines += entry + eol;
        ++*added;
    }
    if (*added == 0) return bytes;
    int header = check.sectionHeaderLine[kSectionDelfilesAfterinst];
    size_t at = 0;
    if (header != 0) {
        // A section without its end would be an error, so the end is there.
        at = LineStart(bytes, check.sectionEndLine[kSectionDelfilesAfterinst]);
    } else {
        int before = check.endMarkerLine;
        if (check.sectionEofLine != 0 && (before == 0 || check.sectionEofLine < before)) before = check.sectionEofLine;
        at = before != 0 ? LineStart(bytes, before) : SettingsReadEnd(bytes);
        lines = std::string(SectionHeader(kSectionDelfilesAfterinst)) + eol + lines + kCloseLine + eol;
    }
    // A last line without its line end must not run into the new lines.
    std::string prefix = bytes.substr(0, at);
    if (!prefix.empty() && prefix.back() != '\n') prefix += eol;
    return prefix + lines + bytes.substr(at);
}
