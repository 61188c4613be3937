#include "package/ProgramImage.h"

#include "base/ByteReader.h"
#include "services/Platform.h"

namespace {

// "MZ" at the start; the signature's offset at 0x3C.
constexpr uint16_t kDosMagic = 0x5A4D;
constexpr int64_t kSignatureOffsetAt = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// The signature and the COFF header before the optional header.
constexpr int64_t kFileHeaderSize = 24;
// Where the optional header keeps the header size and the directory count.
constexpr size_t kHeaderSizeAt = 60;
constexpr size_t kPe32DirectoryCountAt = 92;
constexpr size_t kPe32PlusDirectoryCountAt = 108;
// The resource directory is the third, the security directory the fifth;
// each directory is 8 bytes.
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr size_t kDirectorySize = 8;
// The largest optional header: PE32+ with all sixteen directories.
constexpr size_t kMaxOptionalHeader = 240;
// Windows loads at most 96 sections; each has a 40-byte header.
constexpr uint16_t kMaxSections = 96;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionMemorySizeAt = 8;

// Reads count bytes at offset; false when the file has fewer.
bool ReadAt(FILE* file, int64_t fileSize, int64_t offset, void* out, size_t count) {
    if (offset < 0 || offset > fileSize || static_cast<int64_t>(count) > fileSize - offset) return false;
    return PlatformSeek(file, offset, SEEK_SET) == 0 && fread(out, 1, count, file) == count;
}

}  // namespace

bool ReadImageLayout(FILE* file, int64_t fileSize, ImageLayout* layout) {
    uint8_t dos[kSignatureOffsetAt + 4];
    if (!ReadAt(file, fileSize, 0, dos, sizeof(dos))) return false;
    ByteReader reader;
    InitReader(&reader, dos, sizeof(dos));
    uint16_t magic = 0;
    uint32_t signatureAt = 0;
    if (!ReadU16(&reader, &magic) || magic != kDosMagic || !SkipBytes(&reader, kSignatureOffsetAt - 2) ||
        !ReadU32(&reader, &signatureAt))
        return false;

    uint8_t header[kFileHeaderSize + kMaxOptionalHeader];
    if (!ReadAt(file, fileSize, signatureAt, header, kFileHeaderSize)) return false;
    InitReader(&reader, header, kFileHeaderSize);
    uint32_t signature = 0;
    uint16_t sections = 0, optionalSize = 0;
    if (!ReadU32(&reader, &signature) || signature != kPeSignature || !SkipBytes(&reader, 2) ||
        !ReadU16(&reader, &sections) || !SkipBytes(&reader, 12) || !ReadU16(&reader, &optionalSize))
        return false;
    if (sections > kMaxSections || optionalSize < 2 || optionalSize > kMaxOptionalHeader) return false;
    int64_t optionalAt = static_cast<int64_t>(signatureAt) + kFileHeaderSize;
    if (!ReadAt(file, fileSize, optionalAt, header, optionalSize)) return false;

    InitReader(&reader, header, optionalSize);
    uint16_t kind = 0;
    if (!ReadU16(&reader, &kind) || (kind != kPe32Magic && kind != kPe32PlusMagic)) return false;
    size_t countAt = kind == kPe32Magic ? kPe32DirectoryCountAt : kPe32PlusDirectoryCountAt;
    uint32_t headerSize = 0, directories = 0;
    InitReader(&reader, header, optionalSize);
    if (!SkipBytes(&reader, kHeaderSizeAt) || !ReadU32(&reader, &headerSize)) return false;
    InitReader(&reader, header, optionalSize);
    if (!SkipBytes(&reader, countAt) || !ReadU32(&reader, &directories)) return false;

    ImageLayout found = {headerSize, -1, 0, 0, 0, 0};
    uint32_t resourceAddress = 0, resourceSize = 0;
    if (directories > kResourceDirectory) {
        InitReader(&reader, header, optionalSize);
        if (!SkipBytes(&reader, countAt + 4 + kResourceDirectory * kDirectorySize) ||
            !ReadU32(&reader, &resourceAddress) || !ReadU32(&reader, &resourceSize))
            return false;
        InitReader(&reader, header, optionalSize);
        if (!SkipBytes(&reader, countAt) || !SkipBytes(&reader, 4)) return false;
    }
    if (directories > kSecurityDirectory) {
        uint32_t tableOffset = 0, tableSize = 0;
        size_t entryAt = countAt + 4 + kSecurityDirectory * kDirectorySize;
        if (!SkipBytes(&reader, entryAt - countAt - 4) || !ReadU32(&reader, &tableOffset) ||
            !ReadU32(&reader, &tableSize))
            return false;
        found.securityEntry = optionalAt + static_cast<int64_t>(entryAt);
        found.certificateOffset = tableOffset;
        found.certificateSize = tableSize;
    }

    int64_t sectionAt = optionalAt + optionalSize;
    for (uint16_t i = 0; i < sections; ++i) {
        uint8_t raw[kSectionHeaderSize];
        if (!ReadAt(file, fileSize, sectionAt + i * static_cast<int64_t>(kSectionHeaderSize), raw, sizeof(raw)))
            return false;
        InitReader(&reader, raw, sizeof(raw));
        uint32_t memorySize = 0, address = 0, rawSize = 0, rawOffset = 0;
        if (!SkipBytes(&reader, kSectionMemorySizeAt) || !ReadU32(&reader, &memorySize) ||
            !ReadU32(&reader, &address) || !ReadU32(&reader, &rawSize) || !ReadU32(&reader, &rawOffset))
            return false;
        int64_t end = static_cast<int64_t>(rawOffset) + rawSize;
        if (rawSize != 0 && end > found.dataEnd) found.dataEnd = end;
        // The resources lie wholly in the raw data of the section that holds their address.
        int64_t into = static_cast<int64_t>(resourceAddress) - address;
        if (resourceSize != 0 && into >= 0 && into + resourceSize <= static_cast<int64_t>(rawSize)) {
            found.resourceOffset = rawOffset + into;
            found.resourceSize = resourceSize;
        }
    }
    if (found.dataEnd > fileSize) return false;
    *layout = found;
    return true;
}

bool IsSignedToTheEnd(const ImageLayout& layout, int64_t fileSize) {
    return layout.certificateSize > 0 && layout.certificateOffset >= layout.dataEnd &&
           layout.certificateOffset + layout.certificateSize == fileSize;
}
