// The RCT encoder: every picture it writes comes back exactly through the
// updater's decoder, its commands stay inside the image and copy only from
// pixels already written, and the long forms appear where they pay.
#include "picture/RctEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "picture/RctFormat.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum Content { kFlat, kGradient, kNoise, kStripes, kTiles, kRowsRepeat };

const char* ContentName(int content) {
    static const char* const kNames[] = {"flat", "gradient", "noise", "stripes", "tiles", "rows repeat"};
    return kNames[content];
}

uint32_t NextRandom(uint32_t* state) {
    *state = *state * 1103515245u + 12345u;
    return *state >> 8;
}

// A deterministic picture, tightly packed blue-green-red, top row first.
Bytes MakePicture(int content, int32_t width, int32_t height, uint32_t seed = 1) {
    Bytes out(static_cast<size_t>(width) * height * 3);
    uint32_t state = seed;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = out.data() + (static_cast<size_t>(y) * width + x) * 3;
            uint32_t v = 0;
            switch (content) {
                case kFlat: v = 0x3C7A11; break;
                case kGradient: v = static_cast<uint32_t>((x * 7) & 0xFF) | ((y * 3) & 0xFF) << 8 | 0x400000; break;
                case kNoise: v = NextRandom(&state); break;
                case kStripes: v = (x / 3 + y) % 4 == 0 ? 0xFFFFFF : 0x102030; break;
                case kTiles: v = ((x / 5) ^ (y / 2)) & 1 ? 0x00FF00 + static_cast<uint32_t>(x % 3) : 0x0000FF; break;
                case kRowsRepeat: v = y == 0 ? NextRandom(&state) : 0; break;
            }
            if (content == kRowsRepeat && y > 0) {
                memcpy(p, p - static_cast<size_t>(width) * 3, 3);
                continue;
            }
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v >> 16);
        }
    }
    return out;
}

struct StreamCensus {
    int shortLiterals = 0;
    int longLiterals = 0;
    int shortCopies = 0;
    int longCopies = 0;
};

// Walks a stream more strictly than the decoder: every copy must come from
// pixels already written (never from the pixel being written or later) and
// every command must end inside the image, and the stream must end exactly
// at the last pixel. Returns "" or what is wrong.
std::string CheckStream(const uint8_t* s, size_t size, int32_t width, int32_t height, StreamCensus* census) {
    const size_t total = static_cast<size_t>(width) * height * 3;
    int64_t offsets[kRctOffsetEntries];
    BuildRctOffsetTable(width, offsets);
    if (size < 3) return "no first pixel";
    size_t o = 3, i = 3;
    while (o < total) {
        if (i >= size) return "ends before the image is complete";
        uint8_t ctl = s[i++];
        size_t count;
        if (ctl & 0x80) {
            if ((ctl & 3) == 3) {
                if (size - i < 2) return "long copy cut short";
                count = (s[i] | s[i + 1] << 8) + 4u;
                i += 2;
                ++census->longCopies;
            } else {
                count = (ctl & 3) + 1u;
                ++census->shortCopies;
            }
            int64_t offset = offsets[(ctl >> 2) & 31];
            if (offset >= 0) return "copy from the current pixel or later";
            if (static_cast<int64_t>(o) + offset < 0) return "copy from before the first pixel";
            if (count * 3 > total - o) return "copy past the image";
            o += count * 3;
        } else {
            if (ctl == 0x7F) {
                if (size - i < 2) return "long literal cut short";
                count = (s[i] | s[i + 1] << 8) + 128u;
                i += 2;
                ++census->longLiterals;
            } else {
                count = ctl + 1u;
                ++census->shortLiterals;
            }
            if (count * 3 > total - o) return "literal past the image";
            if (count * 3 > size - i) return "literal cut short";
            o += count * 3;
            i += count * 3;
        }
    }
    if (i != size) return "bytes after the last command";
    return "";
}

// Encodes, checks the header and the stream, decodes, and compares.
void ExpectRoundTrip(const Bytes& pixels, int32_t width, int32_t height, int version, StreamCensus* census,
                     size_t* packed, const std::string& what) {
    SCOPED_TRACE(what);
    Bytes file;
    ASSERT_EQ(kRctOk, EncodeRct(pixels.data(), width, height, version, "bg", &file));
    RctHeader h;
    ASSERT_EQ(kRctOk, ParseRctHeader(file.data(), file.size(), &h));
    EXPECT_EQ(version, h.version);
    EXPECT_EQ(width, h.width);
    EXPECT_EQ(height, h.height);
    ASSERT_EQ(file.size(), h.streamOffset + h.packedLength);
    *packed = h.packedLength;
    const uint8_t* stream = file.data() + h.streamOffset;
    EXPECT_EQ("", CheckStream(stream, h.packedLength, width, height, census));
    // Room for a stride-wide picture, filled with a marker the image never has at the end.
    Bytes out(static_cast<size_t>(RctStride(width)) * height + 16, 0xEE);
    ASSERT_EQ(kRctOk, DecodeRctStream(stream, h.packedLength, width, height, out.data()));
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), out.begin()));
    for (size_t k = pixels.size(); k < out.size(); ++k) ASSERT_EQ(0xEE, out[k]) << "written beyond the image at " << k;
}

TEST(RctEncoderTest, AwkwardSizesAndContentsComeBackExactly) {
    const int32_t widths[] = {1, 2, 3, 4, 5, 8, 13, 64};
    const int32_t heights[] = {1, 2, 3, 4, 5, 6, 37};
    for (int content = kFlat; content <= kRowsRepeat; ++content) {
        for (int32_t w : widths) {
            for (int32_t h : heights) {
                StreamCensus census;
                size_t packed = 0;
                std::string what = std::string(ContentName(content)) + " " + std::to_string(w) + "x" + std::to_string(h);
                ExpectRoundTrip(MakePicture(content, w, h, static_cast<uint32_t>(w * 131 + h)), w, h, (w + h) % 2,
                                &census, &packed, what);
            }
        }
    }
}

TEST(RctEncoderTest, LongFormsWhereTheyPay) {
    struct Case {
        const char* what;
        int content;
        int32_t width, height;
        bool wantLongCopies, wantLongLiterals;
        size_t maxPacked;  // 0: bounded by the literal worst case instead
    };
    const Case cases[] = {
        // 160000 pixels of one colour: the first pixel and three long copies.
        {"flat 400x400", kFlat, 400, 400, true, false, 3 + 3 * 3},
        // A single column: only entry 0 reaches back; runs beyond 65539 pixels.
        {"flat column 1x70000", kFlat, 1, 70000, true, false, 3 + 2 * 3},
        // Noise has no repeats worth a copy: long literals, barely above raw.
        {"noise 700x2", kNoise, 700, 2, false, true, 0},
        {"noise 5x30000", kNoise, 5, 30000, false, true, 0},
        // Each row repeats the first: 299 literals in short commands, then one
        // long copy from the row above for all the rest.
        {"noise rows repeated 300x50", kRowsRepeat, 300, 50, true, false, 3 + 299 * 3 + 3 + 3},
        {"stripes 200x100", kStripes, 200, 100, true, false, 2000},
    };
    for (const Case& c : cases) {
        Bytes pixels = MakePicture(c.content, c.width, c.height, 99);
        StreamCensus census;
        size_t packed = 0;
        ExpectRoundTrip(pixels, c.width, c.height, 0, &census, &packed, c.what);
        EXPECT_EQ(c.wantLongCopies, census.longCopies > 0) << c.what;
        EXPECT_EQ(c.wantLongLiterals, census.longLiterals > 0) << c.what;
        if (c.maxPacked != 0) {
            EXPECT_LE(packed, c.maxPacked) << c.what;
        } else {
            // Literals in commands of 65663 pixels at most, three bytes of control each.
            size_t n = pixels.size() / 3;
            EXPECT_LE(packed, 3 + (n - 1) * 3 + 3 * ((n - 1) / 65663 + 1)) << c.what;
        }
    }
}

TEST(RctEncoderTest, ShortLiteralStretchesStayShort) {
    // 200 noise pixels after the first: two short literal commands cost less
    // than one long one.
    Bytes pixels = MakePicture(kNoise, 201, 1, 5);
    StreamCensus census;
    size_t packed = 0;
    ExpectRoundTrip(pixels, 201, 1, 0, &census, &packed, "noise 201x1");
    EXPECT_EQ(0, census.longLiterals);
    EXPECT_EQ(2, census.shortLiterals);
    EXPECT_EQ(3u + 200 * 3 + 2, packed);
}

TEST(RctEncoderTest, Tc01CarriesTheName) {
    Bytes pixels = MakePicture(kGradient, 9, 4);
    Bytes file;
    ASSERT_EQ(kRctOk, EncodeRct(pixels.data(), 9, 4, 1, "title picture", &file));
    RctHeader h;
    ASSERT_EQ(kRctOk, ParseRctHeader(file.data(), file.size(), &h));
    EXPECT_EQ(1, h.version);
    EXPECT_EQ(kRctHeaderSize + 2 + 13, h.streamOffset);
    EXPECT_EQ("title picture", std::string(file.begin() + 22, file.begin() + 35));
    // TC00 ignores the name.
    Bytes plain;
    ASSERT_EQ(kRctOk, EncodeRct(pixels.data(), 9, 4, 0, "title picture", &plain));
    ASSERT_EQ(kRctOk, ParseRctHeader(plain.data(), plain.size(), &h));
    EXPECT_EQ(kRctHeaderSize, h.streamOffset);
    EXPECT_EQ(file.size() - 15, plain.size());
}

TEST(RctEncoderTest, RefusesWhatNoDecoderTakes) {
    std::string longName(kMaxRctNameLength + 1, 'n');
    struct Case {
        const char* what;
        int32_t width, height;
        int version;
        const char* name;
    };
    const Case cases[] = {
        {"zero width", 0, 5, 0, nullptr},
        {"zero height", 5, 0, 0, nullptr},
        {"negative width", -3, 5, 0, nullptr},
        {"negative height", 3, -5, 1, "x"},
        {"beyond the image limit", 16384, 16384, 0, nullptr},
        {"strided rows beyond the limit", 1, 80000000, 0, nullptr},
        {"unknown version", 2, 2, 2, nullptr},
        {"name too long for a u16", 2, 2, 1, longName.c_str()},
    };
    const uint8_t pixels[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (const Case& c : cases) {
        Bytes out(5, 0xAA);
        EXPECT_EQ(kRctBadSize, EncodeRct(pixels, c.width, c.height, c.version, c.name, &out)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
    // The longest name still fits.
    Bytes out;
    std::string longest(kMaxRctNameLength, 'n');
    EXPECT_EQ(kRctOk, EncodeRct(pixels, 2, 2, 1, longest.c_str(), &out));
}

}  // namespace
