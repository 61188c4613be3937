// The generated copy animation, read back the way a player would read it: a
// walk over its RIFF chunks, the headers checked field by field, and every
// frame decoded from RLE8 under strict rules. The build generates the file
// and names it in UPDATER_AVI.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ResourceBytes.h"

namespace {

constexpr int kWidth = 260;
constexpr int kHeight = 40;
constexpr uint32_t kFrameCount = 17;
constexpr uint32_t kMicroSecondsPerFrame = 100000;
constexpr uint32_t kMainHeaderSize = 56;
constexpr uint32_t kStreamHeaderSize = 56;
constexpr uint32_t kBitmapHeaderSize = 40;
constexpr uint32_t kIndexEntrySize = 16;
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyFrame = 0x10;
constexpr uint32_t kBiRle8 = 1;

std::string FourCc(const Bytes& b, size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

// One chunk: its id, where its data starts and how long it is; for RIFF and
// LIST chunks the form type, with the data starting after it.
struct Chunk {
    std::string id;
    std::string type;
    size_t data;
    size_t size;
};

// Splits [begin, end) into chunks. False when a header or a chunk (with its
// pad byte) runs past end, or a list is too short for its type.
bool ReadChunks(const Bytes& file, size_t begin, size_t end, std::vector<Chunk>* chunks) {
    chunks->clear();
    size_t at = begin;
    while (at < end) {
        if (end - at < 8) return false;
        Chunk c{FourCc(file, at), "", at + 8, U32(file, at + 4)};
        size_t padded = c.size + (c.size & 1);
        if (padded > end - c.data) return false;
        at = c.data + padded;
        if (c.id == "RIFF" || c.id == "LIST") {
            if (c.size < 4) return false;
            c.type = FourCc(file, c.data);
            c.data += 4;
            c.size -= 4;
        }
        chunks->push_back(c);
    }
    return true;
}

bool Fail(std::string* why, const char* text) {
    *why = text;
    return false;
}

// Decodes one RLE8 frame of width x height into pixels (top row first). Every
// row must be filled exactly, rows end with 00 00, the frame with 00 01 right
// after its top row and at the end of the data; no delta codes.
bool DecodeRle8(const uint8_t* data, size_t size, int width, int height, Bytes* pixels, std::string* why) {
    pixels->assign(static_cast<size_t>(width) * height, 0xFF);
    int x = 0;
    int row = 0;  // rows decoded so far, bottom first
    size_t i = 0;
    while (i + 2 <= size) {
        uint8_t count = data[i];
        uint8_t code = data[i + 1];
        i += 2;
        if (row >= height) return Fail(why, "data after the last row");
        uint8_t* line = pixels->data() + static_cast<size_t>(height - 1 - row) * width;
        if (count != 0) {
            if (x + count > width) return Fail(why, "run past the end of a row");
            for (int k = 0; k < count; ++k) line[x++] = code;
        } else if (code == 0 || code == 1) {
            if (x != width) return Fail(why, "row ended short");
            x = 0;
            ++row;
            if (code == 1) {
                if (row != height) return Fail(why, "frame ended early");
                if (i != size) return Fail(why, "bytes after the end of the frame");
                return true;
            }
        } else if (code == 2) {
            return Fail(why, "delta code");
        } else {
            size_t padded = code + (code & 1);
            if (padded > size - i) return Fail(why, "absolute run cut short");
            if (x + code > width) return Fail(why, "absolute run past the end of a row");
            for (int k = 0; k < code; ++k) line[x++] = data[i + k];
            i += padded;
        }
    }
    return Fail(why, "no end of frame");
}

TEST(AviTest, DecoderRejectsWhatAPlayerWouldMisdraw) {
    // A 4 x 2 frame: bottom row 4 x colour 1, top row absolute 2 3 4 then 5.
    const Bytes good = {4, 1, 0, 0, 0, 3, 2, 3, 4, 0, 1, 5, 0, 1};
    Bytes pixels;
    std::string why;
    ASSERT_TRUE(DecodeRle8(good.data(), good.size(), 4, 2, &pixels, &why)) << why;
    EXPECT_EQ((Bytes{2, 3, 4, 5, 1, 1, 1, 1}), pixels);

    struct Case {
        const char* what;
        Bytes data;
    } cases[] = {
        {"row too long", {5, 1, 0, 0, 4, 2, 0, 1}},
        {"row ended short", {3, 1, 0, 0, 4, 2, 0, 1}},
        {"missing end of frame", {4, 1, 0, 0, 4, 2}},
        {"end of frame too early", {4, 1, 0, 1}},
        {"bytes after the end", {4, 1, 0, 0, 4, 2, 0, 1, 0, 0}},
        {"delta code", {0, 2, 1, 0, 3, 1, 0, 0, 4, 2, 0, 1}},
        {"absolute run cut short", {4, 1, 0, 0, 0, 4, 2, 3}},
        {"absolute run past the row", {4, 1, 0, 0, 0, 5, 2, 3, 4, 5, 6, 0, 0, 1}},
        {"extra row", {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 1}},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(DecodeRle8(c.data.data(), c.data.size(), 4, 2, &pixels, &why)) << c.what;
}

class AviFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = getenv("UPDATER_AVI");
        ASSERT_NE(nullptr, path) << "UPDATER_AVI must name the generated clip";
        ASSERT_TRUE(ReadGeneratedFile(path, &file_)) << path;
        ASSERT_GE(file_.size(), 12u);
        ASSERT_EQ("RIFF", FourCc(file_, 0));
        ASSERT_EQ("AVI ", FourCc(file_, 8));
        ASSERT_EQ(file_.size() - 8, U32(file_, 4)) << "the RIFF chunk is the whole file";
        ASSERT_TRUE(ReadChunks(file_, 12, file_.size(), &top_));
        ASSERT_EQ(3u, top_.size());
        ASSERT_EQ("LIST", top_[0].id);
        ASSERT_EQ("hdrl", top_[0].type);
        ASSERT_EQ("LIST", top_[1].id);
        ASSERT_EQ("movi", top_[1].type);
        ASSERT_EQ("idx1", top_[2].id);
    }

    Bytes file_;
    std::vector<Chunk> top_;
};

TEST_F(AviFileTest, HeadersDescribeOneRle8VideoStream) {
    std::vector<Chunk> hdrl;
    ASSERT_TRUE(ReadChunks(file_, top_[0].data, top_[0].data + top_[0].size, &hdrl));
    ASSERT_EQ(2u, hdrl.size());
    ASSERT_EQ("avih", hdrl[0].id);
    ASSERT_EQ(kMainHeaderSize, hdrl[0].size);
    size_t a = hdrl[0].data;
    EXPECT_EQ(kMicroSecondsPerFrame, U32(file_, a));
    EXPECT_EQ(kAvifHasIndex, U32(file_, a + 12) & kAvifHasIndex);
    EXPECT_EQ(kFrameCount, U32(file_, a + 16));
    EXPECT_EQ(1u, U32(file_, a + 24)) << "one stream, so no sound";
    EXPECT_EQ(static_cast<uint32_t>(kWidth), U32(file_, a + 32));
    EXPECT_EQ(static_cast<uint32_t>(kHeight), U32(file_, a + 36));

    ASSERT_EQ("LIST", hdrl[1].id);
    ASSERT_EQ("strl", hdrl[1].type);
    std::vector<Chunk> strl;
    ASSERT_TRUE(ReadChunks(file_, hdrl[1].data, hdrl[1].data + hdrl[1].size, &strl));
    ASSERT_EQ(2u, strl.size());
    ASSERT_EQ("strh", strl[0].id);
    ASSERT_EQ(kStreamHeaderSize, strl[0].size);
    size_t s = strl[0].data;
    EXPECT_EQ("vids", FourCc(file_, s));
    std::string handler = FourCc(file_, s + 4);
    EXPECT_TRUE(handler == "RLE " || handler == std::string(4, '\0')) << handler;
    uint32_t scale = U32(file_, s + 20);
    uint32_t rate = U32(file_, s + 24);
    ASSERT_NE(0u, scale);
    EXPECT_EQ(1000000u / kMicroSecondsPerFrame, rate / scale);
    EXPECT_EQ(0u, rate % scale);
    EXPECT_EQ(kFrameCount, U32(file_, s + 32));
    uint32_t suggested = U32(file_, s + 36);
    EXPECT_EQ(0, static_cast<int16_t>(U16(file_, s + 48)));
    EXPECT_EQ(0, static_cast<int16_t>(U16(file_, s + 50)));
    EXPECT_EQ(kWidth, U16(file_, s + 52));
    EXPECT_EQ(kHeight, U16(file_, s + 54));

    ASSERT_EQ("strf", strl[1].id);
    ASSERT_EQ(kBitmapHeaderSize + kPaletteSize * 4, strl[1].size);
    size_t f = strl[1].data;
    EXPECT_EQ(kBitmapHeaderSize, U32(file_, f));
    EXPECT_EQ(static_cast<uint32_t>(kWidth), U32(file_, f + 4));
    EXPECT_EQ(static_cast<uint32_t>(kHeight), U32(file_, f + 8)) << "positive: bottom-up rows";
    EXPECT_EQ(1, U16(file_, f + 12));
    EXPECT_EQ(8, U16(file_, f + 14));
    EXPECT_EQ(kBiRle8, U32(file_, f + 16));
    EXPECT_EQ(kPaletteSize, U32(file_, f + 32));
    for (uint32_t i = 0; i < kPaletteSize; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(kVgaPalette[i][k], file_[f + kBitmapHeaderSize + i * 4 + k]) << "colour " << i;

    // A player reads each frame into a buffer of the suggested size and the
    // decoder stops at biSizeImage: both must hold the largest frame.
    std::vector<Chunk> movi;
    ASSERT_TRUE(ReadChunks(file_, top_[1].data, top_[1].data + top_[1].size, &movi));
    size_t largest = 0;
    for (const Chunk& c : movi) largest = c.size > largest ? c.size : largest;
    EXPECT_GE(suggested, largest);
    EXPECT_GE(U32(file_, a + 28), largest);
    EXPECT_GE(U32(file_, f + 20), largest);
}

TEST_F(AviFileTest, MoviHoldsSeventeenValidFramesAndTheIndexPointsAtThem) {
    std::vector<Chunk> movi;
    ASSERT_TRUE(ReadChunks(file_, top_[1].data, top_[1].data + top_[1].size, &movi));
    ASSERT_EQ(kFrameCount, movi.size());

    std::vector<Bytes> frames;
    for (size_t i = 0; i < movi.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ("00dc", movi[i].id);
        Bytes pixels;
        std::string why;
        ASSERT_TRUE(DecodeRle8(&file_[movi[i].data], movi[i].size, kWidth, kHeight, &pixels, &why)) << why;
        for (uint8_t p : pixels) ASSERT_LT(p, kPaletteSize);
        // The control keys its transparency on the top-left pixel of the first frame.
        EXPECT_EQ(frames.empty() ? pixels[0] : frames[0][0], pixels[0]);
        if (!frames.empty()) {
            EXPECT_NE(frames.back(), pixels) << "every frame moves";
        }
        frames.push_back(pixels);
    }
    EXPECT_NE(frames.front(), frames.back());

    const Chunk& idx1 = top_[2];
    ASSERT_EQ(kFrameCount * kIndexEntrySize, idx1.size);
    size_t moviType = top_[1].data - 4;  // offsets count from the list's type field
    for (uint32_t i = 0; i < kFrameCount; ++i) {
        SCOPED_TRACE(i);
        size_t e = idx1.data + i * kIndexEntrySize;
        EXPECT_EQ("00dc", FourCc(file_, e));
        EXPECT_EQ(kAviifKeyFrame, U32(file_, e + 4) & kAviifKeyFrame);
        EXPECT_EQ(movi[i].data - 8, moviType + U32(file_, e + 8));
        EXPECT_EQ(movi[i].size, U32(file_, e + 12));
    }
}

}  // namespace
