// The package reader over the entries of a package, as a download may carry
// them damaged: every entry it accepts obeys the name and size rules, a
// refused entry leaves a terminated name, and no read goes past the package.
#include <cstdio>
#include <cstring>

#include "package/PackageFormat.h"
#include "tests/fuzz/FuzzKit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (file == nullptr) return 0;
    PackageStream package = {file, 0, static_cast<int64_t>(size)};
    for (;;) {
        uint16_t nameLength = 0;
        if (ReadNameLength(&package, &nameLength) != kPackageOk || nameLength == 0) break;
        PackageEntry entry;
        memset(&entry, 0x5A, sizeof(entry));
        int result = ReadEntryHeader(&package, nameLength, &entry);
        FuzzCheck(memchr(entry.name, '\0', sizeof(entry.name)) != nullptr, "an entry's name is always terminated");
        FuzzCheck(package.position <= package.end, "the reader stays inside the package");
        if (result != kPackageOk) break;
        size_t length = strlen(entry.name) + 1;
        FuzzCheck(length == nameLength, "an accepted name ends in its NUL at byte L");
        FuzzCheck(length <= kMaxEntryName, "an accepted name fits the reader's buffers");
        FuzzCheck(ExplainEntryName(entry.name, length, entry.isFolder) == kNameOk, "an accepted name is sound");
        FuzzCheck(entry.isFolder == (entry.unpackedSize == kFolderEntrySize), "a folder is the entry of size -1");
        if (entry.isFolder) continue;
        FuzzCheck(entry.unpackedSize >= 0 && entry.packedSize <= kMaxPackageValue, "sizes below 2^31");
        if (SkipPackageBytes(&package, static_cast<int64_t>(kFileTimeSize) + entry.packedSize) != kPackageOk) break;
        FuzzCheck(package.position <= package.end, "a skip stays inside the package");
    }
    uint8_t rest[64];
    ReadPackageBytes(&package, rest, sizeof(rest));
    FuzzCheck(package.position <= package.end, "a read stays inside the package");
    fclose(file);
    return 0;
}
