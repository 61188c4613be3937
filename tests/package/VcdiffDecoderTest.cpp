// The VCDIFF decoder: the format's own example, deltas written by xdelta3
// (natively), and deltas that lie: every one is refused without a read
// outside the source or a byte past the target.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "package/VcdiffDecoder.h"
#include "package/VcdiffFormat.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/TempFolder.h"

namespace {

// Codes of the default table.
constexpr uint8_t kRun = 0;
uint8_t Add(uint8_t size) { return static_cast<uint8_t>(1 + size); }                 // size 0: written out
uint8_t Copy(uint8_t mode, uint8_t size) { return static_cast<uint8_t>(19 + 16 * mode + (size == 0 ? 0 : size - 3)); }

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

uint32_t Adler(const Bytes& bytes) {
    return static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(VcdiffDecoderTest, TheFormatsWorkedExampleDecodes) {
    Bytes delta = {0xD6, 0xC3, 0xC4, 0x00, 0x00, 0x00, 0x0E, 0x07, 0x00, 0x04, 0x04, 0x01, 0x61, 0x62,
                   0x63, 0x58, 0x04, 0x13, 0x03, 0x02, 0x00};
    DecodeOutcome out = DecodeInMemory(delta, Bytes(), 7);
    ASSERT_EQ(kVcdiffOk, out.result) << DescribeVcdiffResult(out.result);
    EXPECT_EQ(ToBytes("abcabcX"), out.target);
}

// Each address mode and both caches, the size written out, a run, a copy
// that overlaps what it makes, and a checksum, over two windows: the second
// starts with empty caches, as the format says.
TEST(VcdiffDecoderTest, EveryAddressModeAndTwoWindows) {
    Bytes source = ToBytes("0123456789ABCDEF");
    Bytes first;
    // COPY 4 from source 2 (self); COPY 4 from 10 (near 0: 2 + 8); RUN 3 'z';
    // COPY 4 from 2 again (same cache, slot 2 % 256 of block 0); COPY 6 from
    // here-15 = target byte 0 of this window, overlapping nothing; ADD 2.
    HandWindow w1{static_cast<uint8_t>(kVcdWindowSource | kVcdWindowAdler32), 16, 0, 0, {}, {}, {}, 0, 0};
    w1.instructions = {Copy(kVcdiffModeSelf, 4), Copy(kVcdiffModeFirstNear, 4), kRun, 3,
                       Copy(kVcdiffModeFirstSame, 4), Copy(kVcdiffModeHere, 6), Add(2)};
    w1.addresses = {2, 8, 2, 15};
    w1.data = {'z', 'x', 'y'};
    Bytes expected1 = ToBytes("2345ABCDzzz23452345ABxy");
    w1.targetLength = expected1.size();
    w1.adler32 = Adler(expected1);
    // A copy that overlaps what it makes: "ab" then 6 bytes from 2 back.
    HandWindow w2{0, 0, 0, 8, {'a', 'b'}, {Add(2), Copy(kVcdiffModeHere, 6)}, {2}, 0, 0};
    Bytes delta = VcdiffHeader();
    AppendWindow(&delta, w1);
    AppendWindow(&delta, w2);
    Bytes expected = Concat(expected1, ToBytes("abababab"));
    for (size_t chunk : {size_t(1), size_t(7), size_t(1) << 16}) {
        DecodeOutcome out = DecodeInMemory(delta, source, expected.size(), chunk);
        ASSERT_EQ(kVcdiffOk, out.result) << DescribeVcdiffResult(out.result) << ", chunk " << chunk;
        EXPECT_EQ(expected, out.target) << "chunk " << chunk;
    }
}

// Deltas that lie, one fault each, against a 16-byte source. Every one is
// refused; none reads outside the source or makes more than asked.
TEST(VcdiffDecoderTest, HostileDeltasAreRefused) {
    Bytes source = ToBytes("0123456789ABCDEF");
    const uint8_t src = kVcdWindowSource;
    struct Case {
        const char* what;
        Bytes delta;
        uint64_t targetSize;
        int expected;
    };
    auto one = [](HandWindow w) {
        Bytes d = VcdiffHeader();
        AppendWindow(&d, w);
        return d;
    };
    Bytes wide = VcdiffHeader();
    wide.insert(wide.end(), {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    Bytes overlapping = one({0, 0, 0, 4, {'a', 'b', 'c', 'd'}, {Add(4)}, {}, 0, 0});
    AppendWindow(&overlapping, {0, 0, 0, 4, {'e', 'f', 'g', 'h'}, {Add(4)}, {}, 0, 0});
    Case cases[] = {
        {"copy address past the source segment and target made so far",
         one({src, 16, 0, 4, {}, {Copy(kVcdiffModeSelf, 4)}, {16}, 0, 0}), 4, kVcdiffDamaged},
        {"source segment past the source's end",
         one({src, 8, 12, 4, {}, {Copy(kVcdiffModeSelf, 4)}, {0}, 0, 0}), 4, kVcdiffDamaged},
        {"segment position far past the source",
         one({src, 1, 1ULL << 40, 1, {}, {Copy(kVcdiffModeSelf, 0), 1}, {0}, 0, 0}), 1, kVcdiffDamaged},
        {"source copy running past its segment into the target",
         one({src, 16, 0, 8, {}, {Copy(kVcdiffModeSelf, 8)}, {12}, 0, 0}), 8, kVcdiffDamaged},
        {"copy size past the window",
         one({src, 16, 0, 4, {}, {Copy(kVcdiffModeSelf, 8)}, {0}, 0, 0}), 4, kVcdiffDamaged},
        {"add size past the window", one({0, 0, 0, 2, {'a', 'b', 'c'}, {Add(3)}, {}, 0, 0}), 2, kVcdiffDamaged},
        {"add size past the data section", one({0, 0, 0, 4, {'a', 'b'}, {Add(4)}, {}, 0, 0}), 4, kVcdiffDamaged},
        {"run without its byte", one({0, 0, 0, 4, {}, {kRun, 4}, {}, 0, 0}), 4, kVcdiffDamaged},
        {"here offset before the address space",
         one({0, 0, 0, 5, {'a'}, {Add(1), Copy(kVcdiffModeHere, 4)}, {9}, 0, 0}), 5, kVcdiffDamaged},
        {"target copy from where nothing is made yet",
         one({0, 0, 0, 4, {}, {Copy(kVcdiffModeSelf, 4)}, {0}, 0, 0}), 4, kVcdiffDamaged},
        {"near address overflowing 63 bits",
         one({src, 16, 0, 8, {}, {Copy(kVcdiffModeSelf, 4), Copy(kVcdiffModeFirstNear, 4)},
              Concat({0}, VcdiffInteger(kMaxVcdiffInteger)), 0, 0}), 8, kVcdiffDamaged},
        {"target window beyond the decoder's bound",
         one({0, 0, 0, kMaxVcdiffWindow + 1ULL, {'a'}, {kRun, 0x84, 0x80, 0x80, 0x01}, {}, 0, 0}),
         kMaxVcdiffWindow + 1ULL, kVcdiffDamaged},
        {"delta length beyond the decoder's bound",
         Concat(VcdiffHeader(), Concat({0}, VcdiffInteger(kMaxVcdiffWindowDelta + 1ULL))), 4, kVcdiffDamaged},
        {"window longer than its sections: it overlaps the next",
         one({0, 0, 0, 4, {'a', 'b', 'c', 'd'}, {Add(4)}, {}, 0, 2}), 4, kVcdiffDamaged},
        {"window shorter than its sections",
         one({0, 0, 0, 4, {'a', 'b', 'c', 'd'}, {Add(4)}, {}, 0, -1}), 4, kVcdiffDamaged},
        {"windows making more than the target", overlapping, 6, kVcdiffDamaged},
        {"windows making less than the target", overlapping, 9, kVcdiffDamaged},
        {"data left over", one({0, 0, 0, 2, {'a', 'b', 'c'}, {Add(2)}, {}, 0, 0}), 2, kVcdiffDamaged},
        {"address left over",
         one({src, 16, 0, 4, {}, {Copy(kVcdiffModeSelf, 4)}, {0, 0}, 0, 0}), 4, kVcdiffDamaged},
        {"target window checksum wrong",
         one({kVcdWindowAdler32, 0, 0, 2, {'a', 'b'}, {Add(2)}, {}, 12345, 0}), 2, kVcdiffDamaged},
        {"unknown window indicator bit", one({0x08, 0, 0, 1, {'a'}, {Add(1)}, {}, 0, 0}), 1, kVcdiffDamaged},
        {"window copying from the target file",
         one({kVcdWindowTarget, 1, 0, 1, {'a'}, {Add(1)}, {}, 0, 0}), 1, kVcdiffUnsupported},
        {"secondary compressor in the header", Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x01, 0x02}, 0, kVcdiffUnsupported},
        {"code table of its own", Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x02, 0x00}, 0, kVcdiffUnsupported},
        {"compressed sections", Concat(VcdiffHeader(), {0, 5, 1, 1, 0, 0, 0}), 1, kVcdiffUnsupported},
        {"wrong magic", Bytes{0xD6, 0xC3, 0xC4, 0x01, 0x00}, 0, kVcdiffDamaged},
        {"integer wider than 63 bits", wide, 0, kVcdiffDamaged},
        {"nothing at all", Bytes(), 0, kVcdiffDamaged},
    };
    for (const Case& c : cases) {
        DecodeOutcome out = DecodeInMemory(c.delta, source, c.targetSize);
        EXPECT_EQ(c.expected, out.result) << c.what;
        EXPECT_FALSE(out.readOutside) << c.what;
        EXPECT_LE(out.target.size(), c.targetSize) << c.what;
    }
}

// A sound delta cut at every byte is refused, reads nothing outside the
// source and writes nothing past what the whole delta makes.
TEST(VcdiffDecoderTest, EveryTruncationIsRefused) {
    Bytes source = ToBytes("0123456789ABCDEF");
    Bytes delta = VcdiffHeader();
    AppendWindow(&delta, {static_cast<uint8_t>(kVcdWindowSource | kVcdWindowAdler32), 16, 0, 10, {'x', 'y'},
                          {Copy(kVcdiffModeSelf, 4), Add(2), Copy(kVcdiffModeHere, 4)}, {3, 6},
                          Adler(ToBytes("3456xy3456")), 0});
    AppendWindow(&delta, {0, 0, 0, 3, {'!'}, {kRun, 3}, {}, 0, 0});
    DecodeOutcome whole = DecodeInMemory(delta, source, 13);
    ASSERT_EQ(kVcdiffOk, whole.result);
    ASSERT_EQ(ToBytes("3456xy3456!!!"), whole.target);
    for (size_t cut = 0; cut < delta.size(); ++cut) {
        Bytes part(delta.begin(), delta.begin() + cut);
        DecodeOutcome out = DecodeInMemory(part, source, 13);
        EXPECT_EQ(kVcdiffDamaged, out.result) << "cut at " << cut;
        EXPECT_FALSE(out.readOutside) << "cut at " << cut;
        EXPECT_LE(out.target.size(), 10u) << "cut at " << cut;
    }
}

#ifndef _WIN32
// Deltas that xdelta3 writes with no secondary compressor and no application
// header decode to its target: changes in place, an insertion that shifts
// everything after it, a target of several windows, empty files.
TEST(VcdiffDecoderTest, DeltasWrittenByXdelta3Decode) {
    TempFolder dir;
    Bytes base = RandomBytes(3 << 20, 1);
    Bytes changed = base;
    for (size_t at : {size_t(1000), size_t(1500000), size_t(3000000)}) changed[at] ^= 0x5A;
    Bytes inserted(base.begin(), base.begin() + (1 << 20));
    Bytes asset = RandomBytes(70000, 2);
    inserted.insert(inserted.end(), asset.begin(), asset.end());
    inserted.insert(inserted.end(), base.begin() + (1 << 20), base.end());
    Bytes large = Concat(RandomBytes(6 << 20, 3), base);  // windows of 8 MiB: more than one
    struct Case {
        const char* what;
        Bytes source;
        Bytes target;
        bool mostlySource;  // the delta is then small
    } cases[] = {
        {"three bytes changed in place", base, changed, true},
        {"an asset inserted in the middle", base, inserted, true},
        {"a target of several windows", base, large, false},
        {"an empty source", Bytes(), ToBytes("new file"), false},
        {"an empty target", base, Bytes(), false},
    };
    for (const Case& c : cases) {
        std::string source = dir / "source", target = dir / "target", delta = dir / "delta";
        ASSERT_TRUE(WriteFileBytes(source, c.source));
        ASSERT_TRUE(WriteFileBytes(target, c.target));
        ASSERT_TRUE(RunXdelta3("-e -f -S none -A", source, target, delta)) << c.what;
        Bytes deltaBytes;
        ASSERT_TRUE(ReadFileBytes(delta, &deltaBytes));
        DecodeOutcome out = DecodeInMemory(deltaBytes, c.source, c.target.size());
        ASSERT_EQ(kVcdiffOk, out.result) << c.what << ": " << DescribeVcdiffResult(out.result);
        EXPECT_TRUE(out.target == c.target) << c.what;
        if (c.mostlySource) {
            EXPECT_LT(deltaBytes.size(), asset.size() * 2) << c.what;
        }
    }
}

// An xdelta3 delta cut at every byte, and with every byte of its header and
// first window changed: refused or decoded, never a read outside.
TEST(VcdiffDecoderTest, Xdelta3DeltaCutOrFlippedNeverReachesOutside) {
    TempFolder dir;
    Bytes source = RandomBytes(4000, 4);
    Bytes target = Concat(Bytes(source.begin() + 100, source.begin() + 2100), ToBytes("Q"));
    target = Concat(target, Bytes(source.begin() + 2100, source.end()));
    std::string s = dir / "s", t = dir / "t", d = dir / "d";
    ASSERT_TRUE(WriteFileBytes(s, source));
    ASSERT_TRUE(WriteFileBytes(t, target));
    ASSERT_TRUE(RunXdelta3("-e -f -S none -A", s, t, d));
    Bytes delta;
    ASSERT_TRUE(ReadFileBytes(d, &delta));
    for (size_t cut = 0; cut < delta.size(); ++cut) {
        DecodeOutcome out = DecodeInMemory(Bytes(delta.begin(), delta.begin() + cut), source, target.size());
        EXPECT_NE(kVcdiffOk, out.result) << "cut at " << cut;
        EXPECT_FALSE(out.readOutside) << "cut at " << cut;
    }
    for (size_t at = 0; at < delta.size(); ++at) {
        Bytes flipped = delta;
        flipped[at] ^= 0xFF;
        DecodeOutcome out = DecodeInMemory(flipped, source, target.size());
        EXPECT_FALSE(out.readOutside) << "byte " << at;
        EXPECT_LE(out.target.size(), target.size()) << "byte " << at;
    }
}
#endif

}  // namespace
