#include "tests/support/ImageBuilder.h"

#include "base/ByteReader.h"
#include "package/ProgramImage.h"
#include "resources/Version.h"

namespace {

constexpr size_t kSignatureAt = 0x80;
constexpr size_t kOptionalAt = kSignatureAt + 24;
constexpr size_t kFileAlignment = 0x200;
constexpr uint16_t kDirectoryCount = 16;
// The WIN_CERTIFICATE header: length, revision 2.0, type PKCS#7 signed data.
constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kCertificateType = 0x0002;

void Put16(Bytes* b, size_t at, uint16_t v) { StoreU16(b->data() + at, v); }
void Put32(Bytes* b, size_t at, uint32_t v) { StoreU32(b->data() + at, v); }
void Put64(Bytes* b, size_t at, uint64_t v) { StoreU64(b->data() + at, v); }

size_t RoundUp(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }

size_t DirectoriesAt(const Bytes& image) {
    uint16_t magic = static_cast<uint16_t>(image[kOptionalAt] | image[kOptionalAt + 1] << 8);
    return kOptionalAt + (magic == 0x10B ? 96 : 112);
}

}  // namespace

Bytes MakeImage(ImageKind kind, size_t sectionBytes) {
    size_t raw = RoundUp(sectionBytes == 0 ? 1 : sectionBytes, kFileAlignment);
    Bytes b(kImageHeaderSize + raw, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(&b, 0x3C, kSignatureAt);
    Put32(&b, kSignatureAt, 0x00004550);
    bool plus = kind == kImagePe32Plus;
    uint16_t optionalSize = static_cast<uint16_t>((plus ? 112 : 96) + kDirectoryCount * 8);
    Put16(&b, kSignatureAt + 4, plus ? 0x8664 : 0x014C);  // machine
    Put16(&b, kSignatureAt + 6, 1);                        // sections
    Put16(&b, kSignatureAt + 20, optionalSize);
    Put16(&b, kSignatureAt + 22, plus ? 0x0022 : 0x0102);  // executable image
    size_t o = kOptionalAt;
    Put16(&b, o, plus ? 0x20B : 0x10B);
    Put32(&b, o + 4, static_cast<uint32_t>(raw));           // size of code
    Put32(&b, o + 16, kImageSectionAlignment);              // entry point
    Put32(&b, o + 20, kImageSectionAlignment);              // base of code
    if (plus) {
        Put64(&b, o + 24, 0x140000000ULL);
    } else {
        Put32(&b, o + 28, 0x400000);
    }
    Put32(&b, o + 32, kImageSectionAlignment);
    Put32(&b, o + 36, kFileAlignment);
    Put16(&b, o + 40, 6);  // operating system version
    Put16(&b, o + 48, 6);  // subsystem version
    Put32(&b, o + 56, static_cast<uint32_t>(kImageSectionAlignment + RoundUp(raw, kImageSectionAlignment)));
    Put32(&b, o + 60, kImageHeaderSize);
    Put16(&b, o + 68, 2);  // GUI
    size_t stacks = o + 72;
    if (plus) {
        Put64(&b, stacks, 0x100000);
        Put64(&b, stacks + 8, 0x1000);
        Put64(&b, stacks + 16, 0x100000);
        Put64(&b, stacks + 24, 0x1000);
    } else {
        Put32(&b, stacks, 0x100000);
        Put32(&b, stacks + 4, 0x1000);
        Put32(&b, stacks + 8, 0x100000);
        Put32(&b, stacks + 12, 0x1000);
    }
    Put32(&b, DirectoriesAt(b) - 4, kDirectoryCount);
    size_t section = kOptionalAt + optionalSize;
    const char name[8] = {'.', 't', 'e', 'x', 't', 0, 0, 0};
    for (size_t i = 0; i < 8; ++i) b[section + i] = static_cast<uint8_t>(name[i]);
    Put32(&b, section + 8, static_cast<uint32_t>(sectionBytes));
    Put32(&b, section + 12, kImageSectionAlignment);
    Put32(&b, section + 16, static_cast<uint32_t>(raw));
    Put32(&b, section + 20, kImageHeaderSize);
    Put32(&b, section + 36, 0x60000020);  // code, executable, readable
    b[kImageHeaderSize] = 0xC3;            // ret
    for (size_t i = 1; i < sectionBytes; ++i) b[kImageHeaderSize + i] = static_cast<uint8_t>(i * 31 + 7);
    return b;
}

Bytes MakeUpdaterImage(ImageKind kind, size_t sectionBytes) {
    const char16_t name[] = u"" UPDATER_PRODUCT_NAME;
    const size_t nameBytes = sizeof(name) - sizeof(name[0]);
    // The resources take the second half of the section.
    size_t into = sectionBytes / 2;
    Bytes b = MakeImage(kind, sectionBytes);
    if (into + nameBytes > sectionBytes) return b;
    for (size_t i = 0; i < nameBytes / 2; ++i) Put16(&b, kImageHeaderSize + into + 2 * i, static_cast<uint16_t>(name[i]));
    size_t directory = DirectoriesAt(b) + 2 * 8;
    Put32(&b, directory, static_cast<uint32_t>(kImageSectionAlignment + into));
    Put32(&b, directory + 4, static_cast<uint32_t>(sectionBytes - into));
    return b;
}

Bytes TinyRctPicture() {
    return Bytes{0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x30, 64, 0, 0, 0, 64, 0,
                 0,    0,    6,    0,    0,    0,    0x40, 0x80, 0xC0, 0x83, 0xFB, 0x0F};
}

size_t SecurityEntryOffset(const Bytes& image) { return DirectoriesAt(image) + 4 * 8; }

Bytes SignLikeATool(const Bytes& file, size_t tableBytes) {
    Bytes out = file;
    out.resize(RoundUp(out.size(), kCertificateAlignment), 0);
    size_t table = out.size();
    out.resize(table + tableBytes, 0x5A);
    Put32(&out, table, static_cast<uint32_t>(tableBytes));
    Put16(&out, table + 4, kCertificateRevision);
    Put16(&out, table + 6, kCertificateType);
    size_t entry = SecurityEntryOffset(out);
    Put32(&out, entry, static_cast<uint32_t>(table));
    Put32(&out, entry + 4, static_cast<uint32_t>(tableBytes));
    return out;
}
