#include "tools/PackageCursor.h"

#include <cstring>

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
    result = ReadEntryHeaderWithDeltas(&cursor->stream, nameLength, &entry->header);
    entry->name = entry->header.name;
    if (result != kPackageOk) return result;
    ++cursor->entries;
    if (entry->header.isFolder) return kPackageOk;
    uint8_t raw[kFileTimeSize];
    if (ReadPackageBytes(&cursor->stream, raw, sizeof(raw)) != sizeof(raw)) return kPackageTruncated;
    if (entry->header.isDelta && (result = ReadDeltaFields(&cursor->stream, &entry->delta)) != kPackageOk)
        return result;
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
    switch (ExplainEntryName(name, strlen(name) + 1, isFolder)) {
        case kNameOk: return nullptr;
        case kNameEmpty: return "empty";
        case kNameTooLong: return "longer than 259 bytes";
        case kNameUnterminated: return "not terminated where its length says";
        case kNameRooted: return "begins with a separator";
        case kNameEmptyPart: return "has an empty folder level";
        case kNameDotOrSpaceEnd: return "has a part ending in a dot or space, which Windows drops";
        case kNameDevice: return "uses a reserved device name";
        case kNameForbiddenByte: return "contains a character Windows forbids in names";
        case kNameHalfCharacter: return "ends in half a double-byte character";
        case kNameBadPair: return "holds an invalid Shift-JIS pair (a lead byte followed by a byte no character has there)";
        case kNameStaging: return "uses the updater's staging folder name";
        default: return "breaks the entry-name rules";
    }
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
