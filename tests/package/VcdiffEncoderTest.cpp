// The delta encoder: what it makes decodes to the target, with ours and
// (natively) with xdelta3, and is small where the files share their data,
// wherever that data moved.
#include <gtest/gtest.h>

#include <string>

#include "package/VcdiffDecoder.h"
#include "package/VcdiffEncoder.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/TempFolder.h"

namespace {

Bytes Splice(const Bytes& base, size_t at, size_t removed, const Bytes& inserted) {
    Bytes out(base.begin(), base.begin() + at);
    out.insert(out.end(), inserted.begin(), inserted.end());
    out.insert(out.end(), base.begin() + at + removed, base.end());
    return out;
}

struct Pair {
    const char* what;
    Bytes source;
    Bytes target;
    size_t largestDelta;  // what a delta that found the shared data stays under
};

std::vector<Pair> Pairs() {
    Bytes base = RandomBytes(3 << 20, 7);
    Bytes asset = RandomBytes(50000, 8);
    Bytes inPlace = base;
    for (size_t at : {size_t(5), size_t(1 << 20), size_t((2 << 20) + 3)}) inPlace[at] ^= 1;
    Bytes swapped(base.begin() + (base.size() / 3), base.end());
    swapped.insert(swapped.end(), base.begin(), base.begin() + (base.size() / 3));
    Bytes zeros(300000, 0);
    return {
        {"three bytes changed in place", base, inPlace, 2000},
        {"an asset inserted in the middle: everything after it shifts", base,
         Splice(base, base.size() / 2 + 11, 0, asset), asset.size() + 2000},
        {"an asset inserted across a window's end", base, Splice(base, kDeltaWindow - 100, 0, asset),
         asset.size() + 2000},
        {"a piece removed", base, Splice(base, 123457, 70000, Bytes()), 2000},
        {"the file's thirds moved round", base, swapped, 2000},
        {"one asset replaced in place by another", base, Splice(base, 777777, asset.size(), asset),
         asset.size() + 2000},
        {"the same file", base, base, 2000},
        {"a long run of zeros added", base, Splice(base, 4096, 0, zeros), 2000},
        {"an empty source", Bytes(), RandomBytes(70000, 9), 71000},
        {"a source shorter than a block", RandomBytes(5, 10), RandomBytes(100, 11), 200},
        {"an empty target", base, Bytes(), 100},
    };
}

TEST(VcdiffEncoderTest, DeltasDecodeToTheTargetAndStaySmall) {
    for (const Pair& p : Pairs()) {
        Bytes delta;
        ASSERT_EQ(kVcdiffEncodeOk, EncodeInMemory(p.source, p.target, &delta)) << p.what;
        DecodeOutcome out = DecodeInMemory(delta, p.source, p.target.size());
        ASSERT_EQ(kVcdiffOk, out.result) << p.what << ": " << DescribeVcdiffResult(out.result);
        EXPECT_TRUE(out.target == p.target) << p.what;
        EXPECT_LT(delta.size(), p.largestDelta) << p.what;
    }
}

// The target read in pieces of any size makes the same delta.
TEST(VcdiffEncoderTest, TheTargetsPiecesDoNotChangeTheDelta) {
    Pair p = Pairs()[1];
    Bytes whole, pieces;
    ASSERT_EQ(kVcdiffEncodeOk, EncodeInMemory(p.source, p.target, &whole));
    ASSERT_EQ(kVcdiffEncodeOk, EncodeInMemory(p.source, p.target, &pieces, 4093));
    EXPECT_TRUE(whole == pieces);
}

#ifndef _WIN32
TEST(VcdiffEncoderTest, Xdelta3DecodesOurDeltas) {
    TempFolder dir;
    for (const Pair& p : Pairs()) {
        Bytes delta;
        ASSERT_EQ(kVcdiffEncodeOk, EncodeInMemory(p.source, p.target, &delta)) << p.what;
        std::string s = dir / "s", d = dir / "d", t = dir / "t";
        ASSERT_TRUE(WriteFileBytes(s, p.source));
        ASSERT_TRUE(WriteFileBytes(d, delta));
        ASSERT_TRUE(RunXdelta3("-d -f", s, d, t)) << p.what;
        Bytes decoded;
        ASSERT_TRUE(ReadFileBytes(t, &decoded));
        EXPECT_TRUE(decoded == p.target) << p.what;
    }
}
#endif

}  // namespace
