#include "services/ProfileWriter.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "services/Platform.h"
#include "shell/PathRules.h"

namespace {

std::string Folded(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    FoldToLowerSjis(buffer.data());
    return buffer.data();
}

bool SameText(const std::string& a, const std::string& b) { return Folded(a) == Folded(b); }

// The file as the profile functions find it: a bare name lives in the Windows folder.
bool ResolveProfilePath(const char* file, char* path, size_t capacity) {
    if (FolderPartLength(file) > 0) return CopyText(path, capacity, file);
    char windows[kMaxPath];
    return PlatformGetWindowsFolder(windows, sizeof(windows)) == 0 && JoinPath(path, capacity, windows, file);
}

std::vector<std::string> ReadLines(const char* path) {
    std::vector<std::string> lines;
    FILE* in = PlatformOpenFile(path, "rb");
    if (in == nullptr) return lines;
    std::string line;
    for (int c; (c = fgetc(in)) != EOF;) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    fclose(in);
    return lines;
}

// The key of an entry line ("key=value"), trimmed of blanks, or "" for none.
std::string EntryKey(const std::string& line) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return "";
    size_t begin = line.find_first_not_of(" \t");
    size_t end = line.find_last_not_of(" \t", eq == 0 ? 0 : eq - 1);
    if (begin == std::string::npos || begin >= eq || end == std::string::npos) return "";
    return line.substr(begin, end - begin + 1);
}

}  // namespace

int WriteProfileEntry(const char* section, const char* key, const char* value, const char* file) {
    char path[kMaxPath];
    if (!ResolveProfilePath(file, path, sizeof(path))) return 1;
    std::vector<std::string> lines = ReadLines(path);
    std::string header = std::string("[") + section + "]";
    std::string entry = std::string(key) + "=" + value;
    size_t at = lines.size();
    for (size_t i = 0; i < lines.size() && at == lines.size(); ++i)
        if (SameText(lines[i], header)) at = i;
    if (at == lines.size()) {
        lines.push_back(header);
        lines.push_back(entry);
    } else {
        size_t end = at + 1;
        while (end < lines.size() && (lines[end].empty() || lines[end][0] != '[')) ++end;
        size_t last = at;  // the section's last non-empty line
        bool replaced = false;
        for (size_t i = at + 1; i < end && !replaced; ++i) {
            if (!lines[i].empty()) last = i;
            if (SameText(EntryKey(lines[i]), key)) {
                lines[i] = entry;
                replaced = true;
            }
        }
        if (!replaced) lines.insert(lines.begin() + static_cast<long>(last + 1), entry);
    }
    FILE* out = PlatformOpenFile(path, "wb");
    if (out == nullptr) return 1;
    for (const std::string& line : lines) fprintf(out, "%s\r\n", line.c_str());
    return fclose(out) == 0 ? 0 : 1;
}
