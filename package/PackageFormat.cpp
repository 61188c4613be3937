#include "package/PackageFormat.h"

#include <cstring>

#include "base/ByteReader.h"
#include "package/ProgramImage.h"
#include "services/Platform.h"
#include "base/PathRules.h"

namespace {

// Names that Windows opens as devices whatever folder they are in.
const char* const kDeviceNames[] = {"con",  "prn",  "aux",  "nul",  "com1", "com2", "com3",
                                    "com4", "com5", "com6", "com7", "com8", "com9", "lpt1",
                                    "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8",
                                    "lpt9"};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Checks one name component [begin, end): not empty, not ending in a dot or a
// space (Windows would drop them, and "." and ".." end in a dot), not a device name.
EntryNameProblem ComponentProblem(const char* begin, const char* end) {
    if (begin == end) return kNameEmptyPart;
    char last = end[-1];
    if (last == '.' || last == ' ') return kNameDotOrSpaceEnd;
    size_t stem = 0;
    while (begin + stem < end && begin[stem] != '.') ++stem;
    if (stem == 3 || stem == 4) {
        for (const char* device : kDeviceNames)
            if (strlen(device) == stem && EqualsFoldedSjis(begin, device, stem)) return kNameDevice;
    }
    return kNameOk;
}

bool IsForbiddenByte(uint8_t c) {
    return c < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
           c == '|';
}

// Reads the trailer at position: true when the offset it gives lies at or
// after floor and not after the trailer itself, within the signed 32-bit range.
bool ReadTrailerAt(FILE* file, int64_t position, int64_t floor, uint32_t* offset) {
    uint8_t raw[kTrailerSize];
    if (position < 0 || PlatformSeek(file, position, SEEK_SET) != 0 || fread(raw, 1, sizeof(raw), file) != sizeof(raw))
        return false;
    ByteReader reader;
    InitReader(&reader, raw, sizeof(raw));
    uint32_t value = 0;
    if (!ReadU32(&reader, &value) || value < floor || value > position || value > kMaxPackageValue ||
        position - value > kMaxPackageValue)
        return false;
    *offset = value;
    return true;
}

}  // namespace

bool FindTrailer(FILE* file, int64_t fileSize, int64_t* position, uint32_t* offset) {
    ImageLayout layout;
    if (!ReadImageLayout(file, fileSize, &layout) || !IsSignedToTheEnd(layout, fileSize)) {
        *position = fileSize - static_cast<int64_t>(kTrailerSize);
        return ReadTrailerAt(file, *position, 0, offset);
    }
    // The trailer's own high bytes are often zero and look like padding, so
    // each amount of padding is tried, the least first; one too small reads
    // the offset shifted down by whole bytes, which falls inside the image.
    for (int64_t padding = 0; padding < kCertificateAlignment; ++padding) {
        if (padding > 0) {
            uint8_t byte = 1;
            int64_t at = layout.certificateOffset - padding;
            if (at < 0 || PlatformSeek(file, at, SEEK_SET) != 0 || fread(&byte, 1, 1, file) != 1 || byte != 0)
                return false;
        }
        *position = layout.certificateOffset - padding - static_cast<int64_t>(kTrailerSize);
        if (ReadTrailerAt(file, *position, layout.dataEnd, offset)) return true;
    }
    return false;
}

const char* DescribePackageResult(int result) {
    switch (result) {
        case kPackageOk: return "ok";
        case kPackageCannotOpen: return "the file cannot be opened or has no package";
        case kPackageTruncated: return "the package is cut short";
        case kPackageBadName: return "an entry name is empty, unterminated, too long or leaves the destination";
        case kPackageBadSize: return "an entry size is out of range";
        case kPackageCorruptStream: return "a compressed stream is corrupt";
        case kPackageCannotWrite: return "a destination file cannot be created or written";
        case kPackageNoMemory: return "out of memory";
        case kPackagePathTooLong: return "a destination path is longer than 259 bytes";
        case kPackageCannotReplace: return "an existing destination file cannot be replaced";
        case kPackageRestoreFailed: return "an original file could not be put back";
        case kPackageFolderBusy: return "another update of the destination is running";
        case kPackageSourceMismatch: return "an installed file is not the version a delta applies to";
        default: return "unknown failure";
    }
}

int OpenPackageStream(const char* path, PackageStream* stream) {
    return OpenPackageFile(PlatformOpenFile(path, "rb"), stream);
}

int OpenPackageFile(FILE* file, PackageStream* stream) {
    if (file == nullptr) return kPackageCannotOpen;
    int64_t fileSize = -1;
    if (PlatformSeek(file, 0, SEEK_END) == 0) fileSize = PlatformTell(file);
    int64_t trailerPosition = -1;
    uint32_t offset = 0;
    if (fileSize < 0 || !FindTrailer(file, fileSize, &trailerPosition, &offset) ||
        PlatformSeek(file, offset, SEEK_SET) != 0) {
        fclose(file);
        return kPackageCannotOpen;
    }
    stream->file = file;
    stream->position = offset;
    stream->end = trailerPosition;
    return kPackageOk;
}

void ClosePackageStream(PackageStream* stream) {
    if (stream->file != nullptr) fclose(stream->file);
    stream->file = nullptr;
}

int64_t PackageLength(const PackageStream* stream) {
    return stream->end - stream->position;
}

size_t ReadPackageBytes(PackageStream* stream, void* out, size_t count) {
    int64_t left = stream->end - stream->position;
    if (left <= 0) return 0;
    if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);
    size_t got = fread(out, 1, count, stream->file);
    stream->position += static_cast<int64_t>(got);
    return got;
}

size_t ReadPackageBytesAt(const PackageStream* stream, void* out, size_t count, int64_t position) {
    int64_t left = stream->end - position;
    if (position < 0 || left <= 0) return 0;
    if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);
    return PlatformReadAt(stream->file, out, count, position);
}

int SkipPackageBytes(PackageStream* stream, int64_t count) {
    if (count < 0 || count > stream->end - stream->position) return kPackageTruncated;
    if (PlatformSeek(stream->file, stream->position + count, SEEK_SET) != 0) return kPackageTruncated;
    stream->position += count;
    return kPackageOk;
}

int ReadNameLength(PackageStream* package, uint16_t* nameLength) {
    uint8_t raw[kNameLengthSize];
    if (ReadPackageBytes(package, raw, sizeof(raw)) != sizeof(raw)) return kPackageTruncated;
    ByteReader reader;
    InitReader(&reader, raw, sizeof(raw));
    return ReadU16(&reader, nameLength) ? kPackageOk : kPackageTruncated;
}

static int ReadAnyEntryHeader(PackageStream* package, uint16_t nameLength, PackageEntry* entry, bool deltas) {
    entry->name[0] = '\0';
    entry->nameLength = nameLength;
    entry->unpackedSize = 0;
    entry->packedSize = 0;
    entry->isFolder = false;
    entry->isDelta = false;
    if (nameLength > kMaxEntryName) return kPackageBadName;
    uint8_t raw[kMaxEntryName + kSizeFieldsSize];
    size_t want = nameLength + kSizeFieldsSize;
    size_t got = ReadPackageBytes(package, raw, want);
    if (got != want) {
        // As much of the name as there was, for the report.
        size_t kept = got < nameLength ? got : nameLength;
        if (kept > kMaxEntryName - 1) kept = kMaxEntryName - 1;
        memcpy(entry->name, raw, kept);
        entry->name[kept] = '\0';
        return kPackageTruncated;
    }
    ByteReader reader;
    InitReader(&reader, raw, want);
    if (!ReadBytes(&reader, entry->name, nameLength) || !ReadI32(&reader, &entry->unpackedSize) ||
        !ReadU32(&reader, &entry->packedSize))
        return kPackageTruncated;
    entry->isFolder = entry->unpackedSize == kFolderEntrySize;
    entry->isDelta = deltas && entry->unpackedSize == kDeltaEntrySize;
    // A folder's packed size is never used, so any value there is accepted.
    int result = kPackageOk;
    if ((entry->unpackedSize < kFolderEntrySize && !entry->isDelta) ||
        (!entry->isFolder && entry->packedSize > kMaxPackageValue))
        result = kPackageBadSize;
    else
        result = CheckEntryName(entry->name, nameLength, entry->isFolder);
    if (result == kPackageOk && entry->isDelta && IsStartupFile(entry->name)) result = kPackageBadName;
    // A refused name may lack its terminator; reports show it cut there.
    size_t end = strnlen(entry->name, nameLength);
    if (end > kMaxEntryName - 1) end = kMaxEntryName - 1;
    entry->name[end] = '\0';
    return result;
}

int ReadEntryHeader(PackageStream* package, uint16_t nameLength, PackageEntry* entry) {
    return ReadAnyEntryHeader(package, nameLength, entry, false);
}

int ReadEntryHeaderWithDeltas(PackageStream* package, uint16_t nameLength, PackageEntry* entry) {
    return ReadAnyEntryHeader(package, nameLength, entry, true);
}

EntryNameProblem ExplainEntryName(const char* name, size_t length, bool isFolder) {
    if (length > kMaxEntryName) return kNameTooLong;
    if (length == 0) return kNameEmpty;
    if (name[length - 1] != '\0' || strlen(name) != length - 1) return kNameUnterminated;
    if (length == 1) return kNameEmpty;
    if (IsSeparator(name[0])) return kNameRooted;
    const char* componentStart = name;
    const char* end = name + length - 1;
    for (size_t i = 0, next = 0; i < length - 1; i = next) {
        next = NextCharIndex(name, length - 1, i);
        uint8_t c = static_cast<uint8_t>(name[i]);
        if (IsLeadByte(c)) {
            if (next == i + 1) return kNameHalfCharacter;
            if (!IsTrailByte(static_cast<uint8_t>(name[i + 1]))) return kNameBadPair;
            continue;
        }
        if (IsForbiddenByte(c)) return kNameForbiddenByte;
        if (IsSeparator(name[i])) {
            EntryNameProblem problem = ComponentProblem(componentStart, name + i);
            if (problem != kNameOk) return problem;
            componentStart = name + i + 1;
        }
    }
    // A folder may end in its separator (save\); a file names its last component.
    if (componentStart != end || !isFolder) {
        EntryNameProblem problem = ComponentProblem(componentStart, end);
        if (problem != kNameOk) return problem;
    }
    // The staging folders (the name, or the name and a suffix) belong to the
    // reader, whether the entry is a file or a folder.
    size_t stagingLength = strlen(kStagingFolderName);
    if (length - 1 >= stagingLength && EqualsFoldedSjis(name, kStagingFolderName, stagingLength))
        return kNameStaging;
    return kNameOk;
}

int CheckEntryName(const char* name, size_t length, bool isFolder) {
    return ExplainEntryName(name, length, isFolder) == kNameOk ? kPackageOk : kPackageBadName;
}

bool IsStartupFile(const char* name) {
    static const char* const kPatterns[] = {"insttscr.rct", "install.env", ".txt"};
    char folded[kMaxEntryName];
    if (!CopyText(folded, sizeof(folded), name)) return false;
    FoldToLowerSjis(folded);
    for (const char* pattern : kPatterns)
        if (ContainsSjis(folded, pattern)) return true;
    return false;
}

bool IsNestedFolderName(const char* name) {
    size_t length = strlen(name);
    size_t separator = FindSjisSeparator(name, length, 0, "\\");
    return separator + 1 < length;
}
