// The generated program icon, read back the way the system's icon loader
// would: the directory, each entry against the image it points at, the
// bitmap headers field by field, the palette, and both bitmaps decoded. The
// build generates the file and names it in UPDATER_ICON.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ResourceBytes.h"

namespace {

constexpr uint32_t kBitmapHeaderSize = 40;
constexpr size_t kDirectorySize = 6;
constexpr size_t kEntrySize = 16;
constexpr int kImageCount = 2;
constexpr int kSizes[kImageCount] = {32, 16};
constexpr uint8_t kGreen = 2;
constexpr uint8_t kLime = 10;

void PatchU32(Bytes* b, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// One decoded image: colours and AND bits, top row first.
struct Picture {
    int size;
    Bytes colours;
    Bytes transparent;
};

bool Fail(std::string* why, const char* text) {
    *why = text;
    return false;
}

uint32_t XorRowBytes(int size) { return static_cast<uint32_t>((size * 4 + 31) / 32 * 4); }

uint32_t AndRowBytes(int size) { return static_cast<uint32_t>((size + 31) / 32 * 4); }

// Parses a 4-bit icon with the two images in kSizes order. The images must
// follow the directory back to back and end exactly at the end of the file.
bool ParseIcon(const Bytes& file, std::vector<Picture>* pictures, std::string* why) {
    pictures->clear();
    if (file.size() < kDirectorySize) return Fail(why, "no directory");
    if (U16(file, 0) != 0) return Fail(why, "reserved field set");
    if (U16(file, 2) != 1) return Fail(why, "not an icon");
    if (U16(file, 4) != kImageCount) return Fail(why, "wrong image count");
    if (file.size() < kDirectorySize + kEntrySize * kImageCount) return Fail(why, "entries cut short");
    size_t expected = kDirectorySize + kEntrySize * kImageCount;
    for (int i = 0; i < kImageCount; ++i) {
        const size_t e = kDirectorySize + kEntrySize * i;
        const int size = kSizes[i];
        if (file[e] != size || file[e + 1] != size) return Fail(why, "wrong entry size");
        if (file[e + 2] != kPaletteSize) return Fail(why, "wrong colour count");
        if (file[e + 3] != 0) return Fail(why, "entry reserved field set");
        if (U16(file, e + 4) != 1) return Fail(why, "entry planes not 1");
        if (U16(file, e + 6) != 4) return Fail(why, "entry not 4 bits");
        const uint32_t bytes = U32(file, e + 8);
        const uint32_t offset = U32(file, e + 12);
        if (offset != expected) return Fail(why, "image not where expected");
        const uint32_t want = kBitmapHeaderSize + kPaletteSize * 4 + (XorRowBytes(size) + AndRowBytes(size)) * size;
        if (bytes != want) return Fail(why, "wrong image byte count");
        if (offset > file.size() || bytes > file.size() - offset) return Fail(why, "image past the end");
        expected = offset + bytes;

        const size_t h = offset;
        if (U32(file, h) != kBitmapHeaderSize) return Fail(why, "wrong header size");
        if (U32(file, h + 4) != static_cast<uint32_t>(size)) return Fail(why, "wrong width");
        if (U32(file, h + 8) != static_cast<uint32_t>(size * 2)) return Fail(why, "height not doubled");
        if (U16(file, h + 12) != 1) return Fail(why, "planes not 1");
        if (U16(file, h + 14) != 4) return Fail(why, "not 4 bits");
        if (U32(file, h + 16) != 0) return Fail(why, "compressed");
        uint32_t sizeImage = U32(file, h + 20);
        if (sizeImage != 0 && sizeImage != (XorRowBytes(size) + AndRowBytes(size)) * size)
            return Fail(why, "wrong bitmap size");
        uint32_t used = U32(file, h + 32);
        if (used != 0 && used != kPaletteSize) return Fail(why, "wrong palette size");
        for (uint32_t c = 0; c < kPaletteSize; ++c)
            for (int k = 0; k < 4; ++k)
                if (file[h + kBitmapHeaderSize + c * 4 + k] != kVgaPalette[c][k]) return Fail(why, "not the VGA palette");

        Picture p{size, Bytes(static_cast<size_t>(size) * size), Bytes(static_cast<size_t>(size) * size)};
        const size_t xorAt = h + kBitmapHeaderSize + kPaletteSize * 4;
        const size_t andAt = xorAt + XorRowBytes(size) * size;
        for (int row = 0; row < size; ++row) {
            const int y = size - 1 - row;  // bottom row first
            for (int x = 0; x < size; ++x) {
                uint8_t pair = file[xorAt + row * XorRowBytes(size) + x / 2];
                p.colours[y * size + x] = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
                p.transparent[y * size + x] = (file[andAt + row * AndRowBytes(size) + x / 8] >> (7 - x % 8)) & 1;
            }
        }
        pictures->push_back(p);
    }
    if (expected != file.size()) return Fail(why, "file length does not match the images");
    return true;
}

class IconFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = getenv("UPDATER_ICON");
        ASSERT_NE(nullptr, path) << "UPDATER_ICON must name the generated icon";
        ASSERT_TRUE(ReadGeneratedFile(path, &file_)) << path;
    }

    Bytes file_;
};

TEST_F(IconFileTest, IsAValidTwoImageSixteenColourIcon) {
    std::vector<Picture> pictures;
    std::string why;
    ASSERT_TRUE(ParseIcon(file_, &pictures, &why)) << why;
    ASSERT_EQ(2u, pictures.size());
    // 6 + 2 x 16 directory, then 40 + 64 + 512 + 128 and 40 + 64 + 128 + 64.
    EXPECT_EQ(1078u, file_.size());
}

TEST_F(IconFileTest, MasksLeaveCornersTransparentAndShowTheArrow) {
    std::vector<Picture> pictures;
    std::string why;
    ASSERT_TRUE(ParseIcon(file_, &pictures, &why)) << why;
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.size);
        const int last = p.size - 1;
        EXPECT_TRUE(p.transparent[0]);
        EXPECT_TRUE(p.transparent[last]);
        EXPECT_TRUE(p.transparent[last * p.size]);
        EXPECT_TRUE(p.transparent[last * p.size + last]);
        int clear = 0;
        int opaque = 0;
        int arrow = 0;
        for (size_t i = 0; i < p.colours.size(); ++i) {
            if (p.transparent[i]) {
                ++clear;
                // A set AND bit over a non-zero colour would invert the screen.
                EXPECT_EQ(0, p.colours[i]) << "pixel " << i;
            } else {
                ++opaque;
                if (p.colours[i] == kGreen || p.colours[i] == kLime) ++arrow;
            }
        }
        EXPECT_GT(clear, 0);
        EXPECT_GT(opaque, p.size * p.size / 4) << "the picture fills a good part of the icon";
        EXPECT_GT(arrow, 0);
    }
}

TEST_F(IconFileTest, ParserRejectsDamagedCopies) {
    std::vector<Picture> pictures;
    std::string why;
    ASSERT_TRUE(ParseIcon(file_, &pictures, &why)) << why;
    ASSERT_EQ(1078u, file_.size());
    const size_t second = kDirectorySize + kEntrySize;
    const size_t firstImage = U32(file_, kDirectorySize + 12);
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"cursor type", 2, 2},
        {"one image", 4, 1},
        {"first entry 48 wide", kDirectorySize, 48},
        {"256 colours", kDirectorySize + 2, 0},
        {"8 bits", kDirectorySize + 6, 8},
        {"second entry 32 high", second + 1, 32},
        {"second offset off by one", second + 12, static_cast<uint8_t>(file_[second + 12] + 1)},
        {"height not doubled", firstImage + 8, 32},
        {"RLE4", firstImage + 16, 2},
        {"palette red changed", firstImage + kBitmapHeaderSize + 9 * 4 + 2, 0x80},
    };
    for (const Case& c : cases) {
        Bytes bad = file_;
        bad[c.at] = c.value;
        EXPECT_FALSE(ParseIcon(bad, &pictures, &why)) << c.what;
    }
    Bytes longer = file_;
    longer.push_back(0);
    EXPECT_FALSE(ParseIcon(longer, &pictures, &why)) << "trailing byte";
    Bytes wrongBytes = file_;
    PatchU32(&wrongBytes, kDirectorySize + 8, U32(file_, kDirectorySize + 8) + 4);
    EXPECT_FALSE(ParseIcon(wrongBytes, &pictures, &why)) << "first image byte count";
    for (size_t length = 0; length < file_.size(); ++length) {
        Bytes cut(file_.begin(), file_.begin() + length);
        EXPECT_FALSE(ParseIcon(cut, &pictures, &why)) << "cut at " << length;
    }
}

}  // namespace
