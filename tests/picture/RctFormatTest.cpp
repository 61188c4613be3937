#include "picture/RctFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "picture/RctFile.h"
#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "services/ScriptedBoxes.h"
#include "tests/support/BoxReport.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

Bytes Header(int version, int32_t width, int32_t height, uint32_t packed, const std::string& name = "") {
    Bytes out(version == 0 ? kRctMagicTc00 : kRctMagicTc01, (version == 0 ? kRctMagicTc00 : kRctMagicTc01) + 8);
    uint8_t raw[4];
    StoreU32(raw, static_cast<uint32_t>(width));
    out.insert(out.end(), raw, raw + 4);
    StoreU32(raw, static_cast<uint32_t>(height));
    out.insert(out.end(), raw, raw + 4);
    StoreU32(raw, packed);
    out.insert(out.end(), raw, raw + 4);
    if (version == 1) {
        StoreU16(raw, static_cast<uint16_t>(name.size()));
        out.insert(out.end(), raw, raw + 2);
        out.insert(out.end(), name.begin(), name.end());
    }
    return out;
}

// Decodes and returns the tightly packed image, or an empty vector on failure.
Bytes Decode(const Bytes& stream, int32_t width, int32_t height, int* result = nullptr) {
    Bytes out(static_cast<size_t>(width) * height * 3, 0xEE);
    int r = DecodeRctStream(stream.data(), stream.size(), width, height, out.data());
    if (result != nullptr) *result = r;
    return r == kRctOk ? out : Bytes();
}

Bytes Pixels(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
    return out;
}

TEST(RctFormatTest, HeaderMagicsAndSizes) {
    RctHeader h;
    Bytes tc00 = Header(0, 2, 3, 8);
    ASSERT_EQ(kRctOk, ParseRctHeader(tc00.data(), tc00.size(), &h));
    EXPECT_EQ(0, h.version);
    EXPECT_EQ(2, h.width);
    EXPECT_EQ(3, h.height);
    EXPECT_EQ(8u, h.packedLength);
    EXPECT_EQ(20u, h.streamOffset);
    Bytes tc01 = Header(1, 2, 3, 8, "背景");
    ASSERT_EQ(kRctOk, ParseRctHeader(tc01.data(), tc01.size(), &h));
    EXPECT_EQ(1, h.version);
    EXPECT_EQ(26u, h.streamOffset);

    struct Case { const char* what; Bytes bytes; int expected; } cases[] = {
        {"other magic", [] { Bytes b = Header(0, 1, 1, 3); b[6] = '8'; b[7] = '_'; return b; }(), kRctUnrecognised},
        {"cut header", Bytes(tc00.begin(), tc00.begin() + 19), kRctTruncated},
        {"TC01 without its name length", Bytes(tc01.begin(), tc01.begin() + 21), kRctTruncated},
        {"width 0", Header(0, 0, 1, 3), kRctBadSize},
        {"negative height", Header(0, 1, -1, 3), kRctBadSize},
        {"packed length 2", Header(0, 1, 1, 2), kRctBadSize},
        {"beyond 32 bits", Header(0, 70000, 70000, 3), kRctBadSize},
        {"beyond the cap", Header(0, 16384, 8192, 3), kRctBadSize},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, ParseRctHeader(c.bytes.data(), c.bytes.size(), &h)) << c.what;
}

TEST(RctFormatTest, StrideRoundsRowsUpToFourBytes) {
    EXPECT_EQ(4, RctStride(1));
    EXPECT_EQ(8, RctStride(2));
    EXPECT_EQ(12, RctStride(3));
    EXPECT_EQ(12, RctStride(4));
    EXPECT_EQ(16, RctStride(5));
    EXPECT_EQ(768, RctStride(256));
}

TEST(RctFormatTest, CommandForms) {
    // 1x1: the first pixel is the whole image; nothing else is read.
    EXPECT_EQ(Pixels({1, 2, 3}), Decode(Pixels({1, 2, 3}), 1, 1));
    // 2x2: first pixel, a literal of one, then entry 9 (straight up) for two.
    EXPECT_EQ(Pixels({1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}), Decode(Pixels({1, 2, 3, 0, 4, 5, 6, 0xA5}), 2, 2));
    // 4x2: 82 repeats the first pixel three times, A7 00 00 copies four from above.
    Bytes same;
    for (int i = 0; i < 8; ++i) same.insert(same.end(), {0x10, 0x20, 0x30});
    EXPECT_EQ(same, Decode(Pixels({0x10, 0x20, 0x30, 0x82, 0xA7, 0, 0}), 4, 2));

    // Literal runs: 7E is 127 pixels, 7F 00 00 is 128, 7F FF FF is 65663.
    for (uint32_t count : {1u, 127u, 128u, 65663u}) {
        Bytes stream = {9, 9, 9};
        if (count <= 127) {
            stream.push_back(static_cast<uint8_t>(count - 1));
        } else {
            stream.push_back(0x7F);
            stream.push_back(static_cast<uint8_t>((count - 128) & 0xFF));
            stream.push_back(static_cast<uint8_t>((count - 128) >> 8));
        }
        for (uint32_t i = 0; i < count * 3; ++i) stream.push_back(static_cast<uint8_t>(i * 7));
        Bytes image = Decode(stream, static_cast<int32_t>(count + 1), 1);
        ASSERT_EQ((count + 1) * 3, image.size()) << count;
        EXPECT_EQ(Bytes(stream.end() - count * 3, stream.end()), Bytes(image.begin() + 3, image.end())) << count;
    }
    // Copies: 80 once, 82 three times, 83 00 00 four times, 83 FF FF 65539 times.
    for (uint32_t count : {1u, 3u, 4u, 65539u}) {
        Bytes stream = {7, 8, 9};
        if (count <= 3) {
            stream.push_back(static_cast<uint8_t>(0x80 | (count - 1)));
        } else {
            stream.insert(stream.end(), {0x83, static_cast<uint8_t>((count - 4) & 0xFF),
                                         static_cast<uint8_t>((count - 4) >> 8)});
        }
        Bytes image = Decode(stream, static_cast<int32_t>(count + 1), 1);
        ASSERT_EQ((count + 1) * 3, image.size()) << count;
        for (size_t i = 0; i < image.size(); i += 3) ASSERT_EQ(Pixels({7, 8, 9}), Bytes(image.begin() + i, image.begin() + i + 3));
    }
}

TEST(RctFormatTest, OffsetsWrapAcrossRowEnds) {
    int64_t table[kRctOffsetEntries];
    BuildRctOffsetTable(10, table);
    EXPECT_EQ(-3, table[0]);
    EXPECT_EQ(-30, table[9]);
    EXPECT_EQ((-4 * 10 - 2) * 3, table[31]);
    EXPECT_EQ((-10 + 3) * 3, table[6]);
    // 3x2: the first pixel of row two copies dx -1, the last pixel of row one.
    Bytes image = Decode(Pixels({1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0x80, 0x81}), 3, 2);
    EXPECT_EQ(Pixels({1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}), image);
    // 5x5 ending with entry 31 (four rows up, two to the left) and A4 (straight up).
    Bytes stream = {0, 0, 0};
    stream.push_back(22);  // 23 literal pixels: positions 1..23
    for (int p = 1; p <= 23; ++p) stream.insert(stream.end(), {static_cast<uint8_t>(p), 0, 0});
    stream.push_back(0xFC);  // position 24: four rows up, two left = position 24 - 22 = 2
    image = Decode(stream, 5, 5);
    ASSERT_EQ(75u, image.size());
    EXPECT_EQ(2, image[24 * 3]);
}

TEST(RctFormatTest, DecodingStopsAtTheImageEnd) {
    // Trailing bytes after a run that ends exactly at the end are ignored.
    EXPECT_EQ(Pixels({5, 5, 5, 6, 6, 6}), Decode(Pixels({5, 5, 5, 0, 6, 6, 6, 0xFF, 0xFF}), 2, 1));
}

TEST(RctFormatTest, MalformedStreamsAreRejected) {
    struct Case { const char* what; Bytes stream; int32_t width, height; int expected; } cases[] = {
        {"literal past the end", Pixels({1, 1, 1, 1, 2, 2, 2, 3, 3, 3}), 2, 1, kRctCorrupt},
        {"copy past the end", Pixels({1, 1, 1, 0x81}), 2, 1, kRctCorrupt},
        {"long copy past the end", Pixels({1, 1, 1, 0x83, 0xFF, 0xFF}), 3, 3, kRctCorrupt},
        {"copy from above the first row", Pixels({1, 1, 1, 0xA4}), 2, 2, kRctCopyBeforeStart},
        {"copy from before the first pixel", Pixels({1, 1, 1, 0x84}), 3, 1, kRctCopyBeforeStart},
        {"copy from below, width 1", Pixels({1, 1, 1, 0x98}), 1, 2, kRctForwardCopy},
        {"copy from the pixel itself, width 3", Pixels({1, 1, 1, 0x01, 2, 2, 2, 3, 3, 3, 0x98}), 3, 2,
         kRctForwardCopy},
        {"stream ends before the image", Pixels({1, 1, 1}), 2, 1, kRctTruncated},
        {"literal cut short", Pixels({1, 1, 1, 1, 2, 2, 2, 3, 3}), 3, 1, kRctTruncated},
        {"long count cut short", Pixels({1, 1, 1, 0x83, 0x00}), 9, 1, kRctTruncated},
        {"no first pixel", Pixels({1, 1}), 1, 1, kRctTruncated},
    };
    for (const Case& c : cases) {
        int result = kRctOk;
        Decode(c.stream, c.width, c.height, &result);
        EXPECT_EQ(c.expected, result) << c.what;
    }
}

TEST(RctFormatTest, EveryTruncationFailsWithoutReadingPastTheStream) {
    Bytes stream = {1, 2, 3, 0x7F, 0, 0};
    for (int i = 0; i < 128; ++i) stream.insert(stream.end(), {static_cast<uint8_t>(i), 0, 9});
    stream.insert(stream.end(), {0x83, 0x10, 0x00, 0xA4, 0x00, 0xAA, 0xBB, 0xCC, 0x83, 0x05, 0x00});
    const int32_t width = 20, height = 8;  // 160 pixels: 1 + 128 + 20 + 1 + 1 + 9
    int full = kRctOk;
    Bytes whole = Decode(stream, width, height, &full);
    ASSERT_EQ(kRctOk, full);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        // A heap block of exactly the cut size, so that a read past it is caught.
        uint8_t* block = static_cast<uint8_t*>(malloc(cut + 1));
        std::copy(stream.begin(), stream.begin() + cut, block);
        Bytes out(static_cast<size_t>(width) * height * 3);
        EXPECT_NE(kRctOk, DecodeRctStream(block, cut, width, height, out.data())) << cut;
        free(block);
    }
}

TEST(RctFormatTest, RestrideMovesRowsFromTheBottomUp) {
    // 2x2 with stride 8: the top row stays at 0, the bottom row moves to 8.
    Bytes pixels = Pixels({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 0});
    RestrideRctRows(pixels.data(), 2, 2, 8);
    EXPECT_EQ(Pixels({1, 2, 3, 4, 5, 6}), Bytes(pixels.begin(), pixels.begin() + 6));
    EXPECT_EQ(Pixels({7, 8, 9, 10, 11, 12}), Bytes(pixels.begin() + 8, pixels.begin() + 14));
    // Five rows of width 1 (stride 4) keep their order.
    Bytes tall = Pixels({1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 0, 0, 0, 0, 0});
    RestrideRctRows(tall.data(), 1, 5, 4);
    for (int r = 0; r < 5; ++r) EXPECT_EQ(r + 1, tall[r * 4]) << r;
}

class RctFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScriptedBoxes();
        SetDirectOpenAllowed(1);
        ASSERT_EQ(0, PlatformSetCurrentFolder(dir_.Path().c_str()));
    }
    TempFolder dir_;
    CurrentFolderGuard cwd_;
};

TEST_F(RctFileTest, ReadsTc00AndSkipsTheTc01Name) {
    Bytes stream = Pixels({1, 2, 3, 0, 4, 5, 6, 0xA5});
    for (int version : {0, 1}) {
        Bytes file = Header(version, 2, 2, static_cast<uint32_t>(stream.size()), "名前ソ");
        file.insert(file.end(), stream.begin(), stream.end());
        ASSERT_TRUE(WriteFileBytes("insttscr.rct", file));
        RctHeader h;
        uint8_t* packed = nullptr;
        ASSERT_EQ(kRctOk, ReadRctFile("insttscr.rct", &h, &packed)) << version;
        EXPECT_EQ(stream, Bytes(packed, packed + h.packedLength));
        free(packed);
    }
    Bytes other = Header(0, 2, 2, 8);
    other[0] = 'B';
    ASSERT_TRUE(WriteFileBytes("insttscr.rct", other));
    RctHeader h;
    uint8_t* packed = nullptr;
    EXPECT_EQ(kRctUnrecognised, ReadRctFile("insttscr.rct", &h, &packed));
    EXPECT_EQ(nullptr, packed);
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(RctFileTest, AFileShorterThanItsHeaderSaysEndsInTheOpenersBox) {
    Bytes file = Header(0, 100, 100, 5000);
    file.insert(file.end(), 100, 0);
    ASSERT_TRUE(WriteFileBytes("insttscr.rct", file));
    EXPECT_EXIT(
        {
            ReportBoxesAtExit();
            QueueBoxAnswer(kAnswerRetry);
            QueueBoxAnswer(kAnswerCancel);
            RctHeader h;
            uint8_t* packed = nullptr;
            ReadRctFile("insttscr.rct", &h, &packed);
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "box 21: Ffopen : .*insttscr.rct.*\nbox 21: Ffopen");
}

}  // namespace
