#include "tools/ExcludePatterns.h"

#include "base/SjisText.h"
#include "tools/DeleteRules.h"

namespace {

bool HasSeparator(const std::string& text) {
    return FindSjisSeparator(text.data(), text.size(), 0, "\\/") != text.size();
}

bool Matches(const std::string& pattern, const std::string& name) {
    if (HasSeparator(pattern)) return EntryMatchesFile(pattern.c_str(), name.c_str());
    size_t last = FindLastSjisSeparator(name.data(), name.size(), "\\");
    std::string part = last == name.size() ? name : name.substr(last + 1);
    return EntryMatchesFile(pattern.c_str(), part.c_str());
}

}  // namespace

std::vector<std::string> DefaultExcludes() { return {"Thumbs.db", "desktop.ini", ".DS_Store"}; }

bool IsExcluded(const std::vector<std::string>& patterns, const std::string& name) {
    for (size_t end = 0; end <= name.size();) {
        size_t next = FindSjisSeparator(name.data(), name.size(), end, "\\");
        std::string prefix = name.substr(0, next);
        for (const std::string& pattern : patterns)
            if (Matches(pattern, prefix)) return true;
        end = next + 1;
    }
    return false;
}
