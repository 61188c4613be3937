#include "tools/PackageCursor.h"

#include <cstring>

#include "shell/PathRules.h"

namespace {

// Names that Windows opens as devices in any folder; kept here only to name
// the reason for a refusal, the decision itself is CheckEntryName's.
const char* const kDeviceStems[] = {"con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4",
                                    "com5", "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3",
                                    "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};

bool IsDeviceComponent(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    char folded[16];
    if (!CopyText(folded, sizeof(folded), stem.c_str())) return false;
    FoldToLowerSjis(folded);
    for (const char* device : kDeviceStems)
        if (strcmp(folded, device) == 0) return true;
    return false;
}

}  // namespace

bool OpenCursor(PackageCursor* cursor, const char* path) {
    if (OpenPackageStream(path, &cursor->stream) != kPackageOk) return false;
    cursor->start = cursor->stream.position;
    cursor->entries = 0;
    return true;
}

void CloseCursor(PackageCursor* cursor) { ClosePackageStream(&cursor->stream); }

int NextEntry(PackageCursor* cursor, CursorEntry* entry, bool* end) {
    *end = false;
    entry->name.clear();
    entry->fileTime = 0;
    uint16_t nameLength = 0;
    int result = ReadNameLength(&cursor->stream, &nameLength);
    if (result != kPackageOk) return result;
    if (nameLength == 0) {
        *end = true;
        return kPackageOk;
    }
    memset(&entry->header, 0, sizeof(entry->header));
    result = ReadEntryHeader(&cursor->stream, nameLength, &entry->header);
    if (nameLength <= kMaxEntryName)
        entry->name.assign(entry->header.name, strnlen(entry->header.name, nameLength));
    if (result != kPackageOk) return result;
    ++cursor->entries;
    if (entry->header.isFolder) return kPackageOk;
    uint8_t raw[kFileTimeSize];
    if (ReadPackageBytes(&cursor->stream, raw, sizeof(raw)) != sizeof(raw)) return kPackageTruncated;
    if (cursor->stream.end - cursor->stream.position < entry->header.packedSize) return kPackageTruncated;
    uint64_t time = 0;
    for (size_t i = kFileTimeSize; i-- > 0;) time = (time << 8) | raw[i];
    entry->fileTime = time;
    return kPackageOk;
}

int SkipStream(PackageCursor* cursor, const CursorEntry* entry) {
    if (entry->header.isFolder) return kPackageOk;
    return SkipPackageBytes(&cursor->stream, entry->header.packedSize);
}

const char* ExplainBadName(const char* name, bool isFolder) {
    size_t length = strlen(name) + 1;
    if (CheckEntryName(name, length, isFolder) == kPackageOk) return nullptr;
    if (length > kMaxEntryName) return "longer than 259 bytes";
    if (length < 2) return "empty";
    if (name[0] == '\\' || name[0] == '/') return "begins with a separator";
    std::string component;
    for (const char* p = name;; ++p) {
        uint8_t c = static_cast<uint8_t>(*p);
        if (c != '\0' && IsLeadByte(c)) {
            if (p[1] == '\0') return "ends in half a double-byte character";
            component.append(p, 2);
            ++p;
            continue;
        }
        bool folderEnd = c == '\0' && isFolder && component.empty() && p > name;
        if ((c == '\\' || c == '/' || c == '\0') && !folderEnd) {
            if (component.empty()) return "has an empty folder level";
            // A trail byte is never below 0x40, so the last byte alone tells.
            if (component.back() == '.' || component.back() == ' ')
                return "has a part ending in a dot or space, which Windows drops";
            if (IsDeviceComponent(component)) return "uses a reserved device name";
            component.clear();
        }
        if (c == '\0') break;
        if (c < 0x20 || strchr(":*?\"<>|", c) != nullptr) return "contains a character Windows forbids in names";
        if (c != '\\' && c != '/') component += static_cast<char>(c);
    }
    return "uses the updater's staging folder name";
}

bool FindCarriedPackage(const char* path, int64_t* imageLength, int* entries) {
    PackageCursor cursor;
    if (!OpenCursor(&cursor, path)) return false;
    CursorEntry entry;
    bool end = false;
    bool sound = true;
    while (sound && !end) {
        sound = NextEntry(&cursor, &entry, &end) == kPackageOk && (end || SkipStream(&cursor, &entry) == kPackageOk);
    }
    // The filler: two zero bytes, or up to seven more from an aligning writer.
    int64_t fillerSize = cursor.stream.end - cursor.stream.position;
    uint8_t filler[kMaxPackageFillerSize];
    sound = sound && fillerSize >= static_cast<int64_t>(kPackageFillerSize) &&
            fillerSize <= static_cast<int64_t>(kMaxPackageFillerSize) &&
            ReadPackageBytes(&cursor.stream, filler, sizeof(filler)) == static_cast<size_t>(fillerSize);
    for (int64_t i = 0; sound && i < fillerSize; ++i) sound = filler[i] == 0;
    if (sound) {
        *imageLength = cursor.start;
        *entries = cursor.entries;
    }
    CloseCursor(&cursor);
    return sound;
}
