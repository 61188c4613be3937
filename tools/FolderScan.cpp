#include "tools/FolderScan.h"

#include <cstring>

#include "package/PackageFormat.h"
#include "base/PathRules.h"
#include "base/SjisText.h"
#include "tools/ToolText.h"

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

FolderScanResult ScanFolder(const std::string& root, const std::string& relative, std::vector<ScannedEntry>* entries,
                            std::string* where) {
    std::vector<PlatformFindData> found;
    std::string unconvertible;
    FolderScanResult result = ReadFolderLevel(relative.empty() ? root : root + "\\" + relative, &found, &unconvertible);
    if (result == kScanNoShiftJis) {
        *where = (relative.empty() ? "" : PrintableName(relative.c_str()) + "\\") + unconvertible;
        return result;
    }
    if (result != kScanOk) {
        *where = relative.empty() ? PrintableName(root.c_str()) : PrintableName(relative.c_str());
        return result;
    }
    for (const PlatformFindData& f : found) {
        std::string name = Join(relative, f.name);
        bool isFolder = (f.attributes & kAttrFolder) != 0;
        entries->push_back(ScannedEntry{name, isFolder});
        // Deeper names could never be package entries; the caller refuses this one.
        if (!isFolder || name.size() + 1 >= kMaxEntryName) continue;
        result = ScanFolder(root, name, entries, where);
        if (result != kScanOk) return result;
    }
    return kScanOk;
}

}  // namespace

FolderScanResult ReadFolderLevel(const std::string& folder, std::vector<PlatformFindData>* entries,
                                 std::string* unconvertible) {
    entries->clear();
    if (FindNameWithoutSjis(folder.c_str(), unconvertible)) return kScanNoShiftJis;
    std::string pattern = folder + "\\*.*";
    PlatformFindData found;
    PlatformFind* find = PlatformFindFirst(pattern.c_str(), &found);
    if (find == nullptr) {
        // An empty folder has no entries, not even "." on every system.
        uint32_t attributes = 0;
        bool isFolder = PlatformGetAttributes(folder.c_str(), &attributes) == 0 && (attributes & kAttrFolder) != 0;
        return isFolder ? kScanOk : kScanCannotRead;
    }
    do {
        if (strcmp(found.name, ".") != 0 && strcmp(found.name, "..") != 0) entries->push_back(found);
    } while (PlatformFindNext(find, &found) == 0);
    PlatformFindClose(find);
    return kScanOk;
}

FolderScanResult ScanTree(const std::string& root, std::vector<ScannedEntry>* entries, std::string* where) {
    entries->clear();
    return ScanFolder(root, "", entries, where);
}

std::string ParentOf(const std::string& name) {
    size_t last = FindLastSjisSeparator(name.data(), name.size(), "\\");
    return last == name.size() ? "" : name.substr(0, last);
}

std::string FoldedName(const std::string& name) {
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    FoldFileName(text.data());
    return text.data();
}
