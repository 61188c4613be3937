// The program image in front of the package: its layout read from the
// headers, and every way a file can fail to be a well-formed image.
#include "package/ProgramImage.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "base/ByteReader.h"
#include "services/Platform.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr size_t kSection = 3000;  // rounds up to 0xC00 bytes of raw data
constexpr int64_t kDataEnd = kImageHeaderSize + 0xC00;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// The layout of bytes, written to a file in dir and read back; false when
// there is none.
bool LayoutOf(const TempFolder& dir, const Bytes& bytes, ImageLayout* layout) {
    std::string path = dir / "image.exe";
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    std::unique_ptr<FILE, FileCloser> file(PlatformOpenFile(path.c_str(), "rb"));
    EXPECT_TRUE(file != nullptr);
    return file && ReadImageLayout(file.get(), static_cast<int64_t>(bytes.size()), layout);
}

void Put32(Bytes* b, size_t at, uint32_t v) { StoreU32(b->data() + at, v); }
void Put16(Bytes* b, size_t at, uint16_t v) { StoreU16(b->data() + at, v); }

TEST(ProgramImageTest, LayoutOfBothKindsWithAndWithoutACertificateTable) {
    TempFolder dir;
    struct Case {
        const char* what;
        Bytes file;
        int64_t certificateOffset, certificateSize;
        bool signedToTheEnd;
    } cases[] = {
        {"PE32+ unsigned", MakeImage(kImagePe32Plus, kSection), 0, 0, false},
        {"PE32 unsigned", MakeImage(kImagePe32, kSection), 0, 0, false},
        {"PE32+ signed", SignLikeATool(MakeImage(kImagePe32Plus, kSection), 1024), kDataEnd, 1024, true},
        {"PE32 signed", SignLikeATool(MakeImage(kImagePe32, kSection), 1024), kDataEnd, 1024, true},
        {"signed, then something appended", [] {
             Bytes b = SignLikeATool(MakeImage(kImagePe32Plus, kSection), 1024);
             b.push_back(0);
             return b;
         }(), kDataEnd, 1024, false},
    };
    for (const Case& c : cases) {
        ImageLayout layout;
        ASSERT_TRUE(LayoutOf(dir, c.file, &layout)) << c.what;
        EXPECT_EQ(kDataEnd, layout.dataEnd) << c.what;
        EXPECT_EQ(static_cast<int64_t>(SecurityEntryOffset(c.file)), layout.securityEntry) << c.what;
        EXPECT_EQ(c.certificateOffset, layout.certificateOffset) << c.what;
        EXPECT_EQ(c.certificateSize, layout.certificateSize) << c.what;
        EXPECT_EQ(c.signedToTheEnd, IsSignedToTheEnd(layout, static_cast<int64_t>(c.file.size()))) << c.what;
    }
}

// Every field the reader trusts, broken in turn: the file is then no image.
TEST(ProgramImageTest, MalformedHeadersGiveNoLayout) {
    TempFolder dir;
    const Bytes good = MakeImage(kImagePe32Plus, kSection);
    const size_t pe = 0x80, optional = pe + 24, section = optional + 240;
    struct Case {
        const char* what;
        std::function<void(Bytes*)> damage;
    } cases[] = {
        {"not MZ", [](Bytes* b) { (*b)[0] = 'X'; }},
        {"signature offset beyond the file", [](Bytes* b) { Put32(b, 0x3C, 0x7FFFFFF0); }},
        {"no PE signature", [&](Bytes* b) { (*b)[pe] = 'Q'; }},
        {"unknown optional header magic", [&](Bytes* b) { Put16(b, optional, 0x107); }},
        {"optional header larger than any", [&](Bytes* b) { Put16(b, pe + 20, 241); }},
        {"optional header too small for its magic", [&](Bytes* b) { Put16(b, pe + 20, 1); }},
        {"optional header too small for the directory count", [&](Bytes* b) { Put16(b, pe + 20, 100); }},
        {"more sections than Windows loads", [&](Bytes* b) { Put16(b, pe + 6, 97); }},
        {"a section table past the end", [&](Bytes* b) { Put16(b, pe + 6, 90); }},
        {"section data past the end", [&](Bytes* b) { Put32(b, section + 16, 0x10000); }},
        {"cut inside the DOS header", [](Bytes* b) { b->resize(0x20); }},
        {"cut inside the optional header", [&](Bytes* b) { b->resize(optional + 50); }},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        c.damage(&bad);
        ImageLayout layout = {-7, -7, -7, -7, -7, -7};
        EXPECT_FALSE(LayoutOf(dir, bad, &layout)) << c.what;
        EXPECT_EQ(-7, layout.dataEnd) << c.what;
    }
    ImageLayout layout;
    EXPECT_FALSE(LayoutOf(dir, ToBytes("MZimage"), &layout));
    EXPECT_FALSE(LayoutOf(dir, {}, &layout));
}

// An image whose directories stop before the security directory has none;
// an empty section does not move the end of the data.
TEST(ProgramImageTest, FewDirectoriesMeanNoSecurityEntry) {
    TempFolder dir;
    Bytes image = MakeImage(kImagePe32Plus, kSection);
    Put32(&image, 0x80 + 24 + 108, 4);
    ImageLayout layout;
    ASSERT_TRUE(LayoutOf(dir, image, &layout));
    EXPECT_EQ(-1, layout.securityEntry);
    EXPECT_EQ(0, layout.certificateSize);
    EXPECT_FALSE(IsSignedToTheEnd(layout, static_cast<int64_t>(image.size())));

    Bytes empty = MakeImage(kImagePe32, kSection);
    Put32(&empty, 0x80 + 24 + 224 + 16, 0);
    ASSERT_TRUE(LayoutOf(dir, empty, &layout));
    EXPECT_EQ(static_cast<int64_t>(kImageHeaderSize), layout.dataEnd);
}

TEST(ProgramImageTest, ACertificateTableMustLieAfterTheDataAndRunToTheEnd) {
    ImageLayout layout = {kDataEnd, 0x100, kDataEnd, 512, 0, 0};
    struct Case { const char* what; int64_t offset, size, fileSize; bool expected; } cases[] = {
        {"table to the end", kDataEnd, 512, kDataEnd + 512, true},
        {"table short of the end", kDataEnd, 512, kDataEnd + 520, false},
        {"table past the end", kDataEnd, 512, kDataEnd + 500, false},
        {"table inside the image's data", kDataEnd - 8, 520, kDataEnd + 512, false},
        {"no table", 0, 0, kDataEnd, false},
    };
    for (const Case& c : cases) {
        layout.certificateOffset = c.offset;
        layout.certificateSize = c.size;
        EXPECT_EQ(c.expected, IsSignedToTheEnd(layout, c.fileSize)) << c.what;
    }
}

// A signed image cut at every length: the reader answers without reading
// outside the file, and never claims a table that runs to the end.
TEST(ProgramImageTest, TruncatedImagesNeverCrash) {
    TempFolder dir;
    Bytes signedImage = SignLikeATool(MakeImage(kImagePe32Plus, 100), 64);
    for (size_t size = 0; size < signedImage.size(); ++size) {
        Bytes cut(signedImage.begin(), signedImage.begin() + static_cast<long>(size));
        ImageLayout layout;
        if (LayoutOf(dir, cut, &layout)) {
            EXPECT_FALSE(IsSignedToTheEnd(layout, static_cast<int64_t>(size))) << size;
        }
    }
}

}  // namespace
