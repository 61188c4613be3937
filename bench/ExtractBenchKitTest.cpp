#include "bench/ExtractBenchKit.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr size_t kStartupFiles = 3;
constexpr double kMiB = 1048576.0;

// The payloads are what the figures are printed against: a payload off its
// size, its file count or its size range would be a different benchmark.
TEST(ExtractBenchKitTest, PayloadsHaveTheirCountSizeAndRange) {
    struct Case {
        const char* fault;
        Payload payload;
        size_t files;
        int64_t bytes;
        size_t smallest, largest;  // of the data files
    } cases[] = {
        {"small files scaled past their range to reach the total",
         MakeSmallFilesPayload(static_cast<int64_t>(15 * kMiB), 2000, 1024, 16384), 2000, static_cast<int64_t>(15 * kMiB),
         1024, 16384},
        {"a mean above the middle of the range narrows its low end, not the sizes' cap",
         MakeSmallFilesPayload(2000 * 14336, 2000, 1024, 16384), 2000, 2000 * 14336, 12288, 16384},
        {"mixed files that do not add up to the payload",
         MakeMixedPayload(static_cast<int64_t>(20 * kMiB), 500), 500, static_cast<int64_t>(20 * kMiB), 1, 4 * 1048576},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.files + kStartupFiles, c.payload.files.size()) << c.fault;
        int64_t total = 0;
        for (size_t i = 0; i < c.payload.files.size(); ++i) {
            const PayloadFile& f = c.payload.files[i];
            total += static_cast<int64_t>(f.size);
            if (i < kStartupFiles) {
                EXPECT_EQ(kStartupData, f.kind) << c.fault << ": the start-up files come first";
                continue;
            }
            EXPECT_GE(f.size, c.smallest) << c.fault << ": " << f.name;
            EXPECT_LE(f.size, c.largest) << c.fault << ": " << f.name;
        }
        EXPECT_EQ(total, c.payload.bytes) << c.fault;
        EXPECT_NEAR(static_cast<double>(c.bytes), static_cast<double>(total), c.bytes * 0.01) << c.fault;
    }
}

// A repeated name would make the walk supersede a file and write fewer bytes
// than the other extractors; every folder named must be one the payload makes.
TEST(ExtractBenchKitTest, TwentyThousandNamesAreDistinctAndInPayloadFolders) {
    Payload p = MakeSmallFilesPayload(20000 * 8192, 20000, 1024, 16384);
    std::set<std::string> names, folders(p.folders.begin(), p.folders.end());
    for (const PayloadFile& f : p.files) {
        EXPECT_TRUE(names.insert(f.name).second) << f.name;
        size_t cut = f.name.rfind('\\');
        if (cut != std::string::npos) {
            EXPECT_EQ(1u, folders.count(f.name.substr(0, cut))) << f.name;
        }
    }
}

// The same file gives the same bytes: the zip and the package are made in
// different passes and compared with what was generated.
TEST(ExtractBenchKitTest, GeneratedBytesDependOnlyOnTheFile) {
    Payload p = MakeMixedPayload(static_cast<int64_t>(2 * kMiB), 6);
    for (const PayloadFile& f : p.files) {
        std::vector<uint8_t> a, b;
        GeneratePayloadFile(f, &a);
        GeneratePayloadFile(f, &b);
        ASSERT_EQ(f.size, a.size()) << f.name;
        EXPECT_EQ(a, b) << f.name;
    }
    std::vector<uint8_t> first, second;
    GeneratePayloadFile(p.files[3], &first);
    PayloadFile other = p.files[3];
    other.seed ^= 1 << 8;
    GeneratePayloadFile(other, &second);
    EXPECT_NE(first, second) << "another seed must give other bytes";
}

// Bytes that do not compress, so that the stream is as long as the file.
Bytes Pattern(size_t size) {
    Bytes b(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(x >> 24);
    }
    return b;
}

// A package with a folder, a file larger than two 128 KiB blocks inside it,
// a small file and an empty one.
Bytes SamplePackage(Bytes* big, uint32_t smallPackedExtra = 0) {
    *big = Pattern(300000);
    Bytes entries;
    Bytes small = ToBytes("hello");
    Bytes stream = Deflate(small);
    AppendRawFile(&entries, ToBytes(std::string("a.txt") + '\0'), 5, static_cast<uint32_t>(stream.size()) + smallPackedExtra,
                  kTestFileTime, stream);
    AppendFolder(&entries, "sub\\");
    AppendFile(&entries, "sub\\big.dat", *big);
    AppendFile(&entries, "empty.txt", Bytes());
    AppendEnd(&entries);
    return MakeProgramFile(Bytes(64, 0x90), entries);
}

// The image, then the first entry: its name length, "a.txt" and its NUL, the
// two sizes, the time, and then its stream.
constexpr size_t kFirstPackedField = 64 + 2 + 6 + 4;
constexpr size_t kFirstStream = kFirstPackedField + 4 + 8;

TEST(ExtractBenchKitTest, MinimalExtractorWritesEveryFileWhole) {
    TempFolder folder;
    Bytes big;
    ASSERT_TRUE(WriteFileBytes(folder / "p.exe", SamplePackage(&big)));
    std::string out = folder / "out";
    ASSERT_EQ(0, mkdir(NativePath(out).c_str(), 0777));
    ASSERT_TRUE(MinimalExtract(NativePath(folder / "p.exe"), NativePath(out)));
    struct Case { const char* fault; const char* name; Bytes expected; } cases[] = {
        {"a file that ends inside the first block", "a.txt", ToBytes("hello")},
        {"a file across block boundaries, or a folder entry taken for a file", "sub\\big.dat", big},
        {"an empty stream that writes nothing or fails", "empty.txt", Bytes()},
    };
    for (const Case& c : cases) {
        Bytes got;
        ASSERT_TRUE(ReadFileBytes(out + "\\" + c.name, &got)) << c.fault;
        EXPECT_EQ(c.expected, got) << c.fault;
    }
}

// Inflating alone must not leave files, or its time would hold writing too.
TEST(ExtractBenchKitTest, InflatingAloneWritesNothing) {
    TempFolder folder;
    Bytes big;
    ASSERT_TRUE(WriteFileBytes(folder / "p.exe", SamplePackage(&big)));
    ASSERT_TRUE(MinimalExtract(NativePath(folder / "p.exe"), ""));
    EXPECT_EQ(std::vector<std::string>{"p.exe"}, ListFolder(folder.Path()));
}

// A run that went wrong must not be timed as a good one.
TEST(ExtractBenchKitTest, MinimalExtractorRefusesADamagedPackage) {
    Bytes big;
    Bytes sound = SamplePackage(&big);
    Bytes badChecksum = sound;
    badChecksum[kFirstStream + Deflate(ToBytes("hello")).size() - 1] ^= 0x01;
    Bytes trailerPastEnd = sound;
    trailerPastEnd[trailerPastEnd.size() - 2] = 0x7F;
    Bytes cutTrailer(sound.begin(), sound.begin() + static_cast<long>(kFirstStream + 40000));
    cutTrailer.insert(cutTrailer.end(), sound.end() - 4, sound.end());
    struct Case { const char* fault; Bytes file; } cases[] = {
        {"a stream whose checksum is wrong", badChecksum},
        {"a packed size one past the stream's end", SamplePackage(&big, 1)},
        {"a trailer that points past the end", trailerPastEnd},
        {"a package cut short inside a stream", cutTrailer},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        ASSERT_TRUE(WriteFileBytes(folder / "p.exe", c.file)) << c.fault;
        ASSERT_EQ(0, mkdir(NativePath(folder / "out").c_str(), 0777)) << c.fault;
        EXPECT_FALSE(MinimalExtract(NativePath(folder / "p.exe"), NativePath(folder / "out"))) << c.fault;
        EXPECT_FALSE(MinimalExtract(NativePath(folder / "p.exe"), "")) << c.fault << ", inflating alone";
    }
}

TEST(ExtractBenchKitTest, MediansRatiosAndVerdicts) {
    struct MedianCase { const char* fault; std::vector<double> seconds; double expected; } medians[] = {
        {"the middle of an odd count, not the mean", {5, 1, 2}, 2},
        {"the mean of the two middle ones of an even count", {4, 1, 3, 2}, 2.5},
        {"a failed run hidden by the others", {1, -1, 2}, -1},
        {"no runs at all", {}, -1},
    };
    for (const MedianCase& c : medians) EXPECT_DOUBLE_EQ(c.expected, MedianSeconds(c.seconds)) << c.fault;

    struct RatioCase { const char* fault; double seconds, reference, expected; } ratios[] = {
        {"the ratio upside down", 3, 2, 1.5},
        {"a missing figure taken as a time", -1, 2, -1},
        {"a missing reference divided by", 3, -1, -1},
        {"a zero reference divided by", 3, 0, -1},
    };
    for (const RatioCase& c : ratios) EXPECT_DOUBLE_EQ(c.expected, Ratio(c.seconds, c.reference)) << c.fault;

    struct VerdictCase { const char* fault; double ratio, target; const char* expected; } verdicts[] = {
        {"a ratio under the target", 1.1, 1.2, "met"},
        {"a ratio exactly at the target", 0.65, 0.65, "met"},
        {"a ratio over the target", 1.21, 1.2, "not met"},
        {"a missing figure said to meet the target", -1, 1.2, "n/a"},
    };
    for (const VerdictCase& c : verdicts) EXPECT_STREQ(c.expected, TargetVerdict(c.ratio, c.target)) << c.fault;
}

}  // namespace
