// Deltas in the makers' flow: diff chooses whole or delta by its rule and
// says so, pack carries a delta file as a delta entry and refuses a malformed
// one, list shows it with both hashes and verify checks its delta.
#include <gtest/gtest.h>

#include <string>

#include "package/DeltaEntry.h"
#include "package/PackageFormat.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tools/DeltaFiles.h"
#include "tools/DiffCommand.h"
#include "tools/InspectCommands.h"
#include "tools/PackCommand.h"

namespace {

std::string Hex(const uint8_t* hash) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < kSha256Bytes; ++i) {
        snprintf(two, sizeof(two), "%02x", hash[i]);
        text += two;
    }
    return text;
}

class DeltaFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = root_ / "old";
        new_ = root_ / "new";
        out_ = root_ / "out";
        ASSERT_EQ(0, PlatformCreateFolder(old_.c_str()));
        ASSERT_EQ(0, PlatformCreateFolder(new_.c_str()));
        archive_ = RandomBytes(400000, 1);
        newArchive_ = archive_;
        Bytes asset = RandomBytes(3000, 2);
        newArchive_.insert(newArchive_.begin() + 200000, asset.begin(), asset.end());
        Bytes text(100000, 'a'), newText(100000, 'a');
        newText[5] = 'b';
        Bytes other = RandomBytes(100000, 3);
        struct File { const char* name; Bytes before, after; } files[] = {
            {"game.arc", archive_, newArchive_},          // a delta
            {"small.dat", RandomBytes(1000, 4), RandomBytes(1000, 5)},  // below 64 KiB: whole
            {"readme.txt", text, newText},                // a start-up file: whole
            {"movie.dat", RandomBytes(100000, 6), other},      // nothing shared: whole
        };
        for (const File& f : files) {
            ASSERT_TRUE(WriteFileBytes(old_ + "\\" + f.name, f.before));
            ASSERT_TRUE(WriteFileBytes(new_ + "\\" + f.name, f.after));
        }
    }

    DiffReport Diff(bool deltas) {
        DiffRequest request{old_, new_, out_, "", nullptr};
        request.deltas = deltas;
        DiffReport report;
        EXPECT_EQ(kDiffDone, DiffTrees(request, &report)) << DescribeDiffReport(report);
        return report;
    }

    PackRefusal Pack(PackReport* report) {
        std::string image = root_ / "updater.exe";
        EXPECT_TRUE(WriteFileBytes(image, MakeUpdaterImage()));
        EXPECT_TRUE(WriteFileBytes(out_ + "\\install.env", ToBytes("INSTTITLE\tgame\r\n")));
        EXPECT_TRUE(WriteFileBytes(out_ + "\\insttscr.rct", TinyRctPicture()));
        return PackUpdater(PackRequest{image, patch_, out_, "", kDefaultPackLevel, kPackLimit, nullptr}, report);
    }

    TempFolder root_;
    std::string old_, new_, out_, patch_ = root_ / "patch.exe";
    Bytes archive_, newArchive_;
};

TEST_F(DeltaFilesTest, DiffShipsEachChangedFileByTheRule) {
    DiffReport report = Diff(true);
    EXPECT_TRUE(Exists(out_ + "\\game.arc" + kDeltaFileSuffix));
    EXPECT_FALSE(Exists(out_ + "\\game.arc"));
    for (const char* whole : {"small.dat", "readme.txt", "movie.dat"}) {
        EXPECT_TRUE(Exists(out_ + "\\" + whole)) << whole;
        EXPECT_FALSE(Exists(out_ + "\\" + whole + kDeltaFileSuffix)) << whole;
    }
    ASSERT_EQ(4u, report.shipped.size());
    std::string all;
    for (const std::string& line : report.shipped) all += line + "\n";
    EXPECT_NE(std::string::npos, all.find("game.arc: delta, ")) << all;
    EXPECT_NE(std::string::npos, all.find("small.dat: whole, 1000 bytes")) << all;
    EXPECT_NE(std::string::npos, all.find("readme.txt: whole, 100000 bytes")) << all;
    EXPECT_NE(std::string::npos, all.find("movie.dat: whole, 100000 bytes (a delta would be")) << all;

    // The delta file's header names both versions, and its delta makes the new one.
    DeltaFields fields;
    Bytes vcdiff;
    ASSERT_EQ(kDeltaFileOk, ReadDeltaFile(out_ + "\\game.arc" + kDeltaFileSuffix, &fields, &vcdiff));
    DeltaFields expected = DeltaFieldsOf(archive_, newArchive_);
    EXPECT_EQ(expected.sourceSize, fields.sourceSize);
    EXPECT_EQ(Hex(expected.sourceHash), Hex(fields.sourceHash));
    EXPECT_EQ(Hex(expected.targetHash), Hex(fields.targetHash));
    DecodeOutcome decoded = DecodeInMemory(vcdiff, archive_, fields.targetSize);
    ASSERT_EQ(0, decoded.result);
    EXPECT_TRUE(decoded.target == newArchive_);
    EXPECT_LT(vcdiff.size(), 4000u);
}

TEST_F(DeltaFilesTest, WithoutDeltasEveryChangedFileShipsWhole) {
    DiffReport report = Diff(false);
    EXPECT_TRUE(Exists(out_ + "\\game.arc"));
    EXPECT_FALSE(Exists(out_ + "\\game.arc" + kDeltaFileSuffix));
    for (const std::string& line : report.shipped) EXPECT_NE(std::string::npos, line.find(": whole, ")) << line;
}

TEST_F(DeltaFilesTest, PackCarriesTheDeltaListShowsItVerifyChecksIt) {
    Diff(true);
    PackReport packed;
    ASSERT_EQ(kPackDone, Pack(&packed)) << DescribePackReport(packed);
    std::vector<ListedEntry> listing;
    std::string problem;
    ASSERT_TRUE(ReadListing(patch_.c_str(), &listing, &problem)) << problem;
    DeltaFields expected = DeltaFieldsOf(archive_, newArchive_);
    int deltas = 0;
    for (const ListedEntry& e : listing) {
        if (!e.isDelta) continue;
        ++deltas;
        EXPECT_EQ("game.arc", e.name);
        std::string line = FormatListLine(e);
        EXPECT_EQ(0u, line.find("delta ")) << line;
        EXPECT_NE(std::string::npos, line.find(Hex(expected.sourceHash))) << line;
        EXPECT_NE(std::string::npos, line.find(Hex(expected.targetHash))) << line;
    }
    EXPECT_EQ(1, deltas);
    VerifyReport verify;
    EXPECT_TRUE(VerifyPackage(patch_.c_str(), &verify)) << verify.reason;
}

// A game file named like a delta file would be packed as one: diff refuses it.
TEST_F(DeltaFilesTest, DiffRefusesAGameFileNamedLikeADelta) {
    ASSERT_TRUE(WriteFileBytes(new_ + "\\voice" + kDeltaFileSuffix, ToBytes("not a delta")));
    DiffRequest request{old_, new_, out_, "", nullptr};
    DiffReport report;
    EXPECT_EQ(kDiffBadName, DiffTrees(request, &report));
    EXPECT_EQ(std::string("voice") + kDeltaFileSuffix, report.entry);
    EXPECT_FALSE(Exists(out_));
}

// A delta file pack cannot carry is refused, naming it, and no output appears.
TEST_F(DeltaFilesTest, PackRefusesAMalformedDeltaFile) {
    Diff(true);
    std::string delta = out_ + "\\game.arc" + kDeltaFileSuffix;
    Bytes good;
    ASSERT_TRUE(ReadFileBytes(delta, &good));
    Bytes badMagic = good, cut(good.begin(), good.begin() + 40), badDelta = good, wrongSize = good, hugeSize = good;
    badMagic[0] ^= 1;
    badDelta[kDeltaFileHeaderSize + 5] = 0xFF;                // the first window's indicator
    wrongSize[kDeltaFileMagicSize + 4 + kSha256Bytes] ^= 1;  // the target size's low byte
    hugeSize[kDeltaFileMagicSize + 3] = 0x80;                // a source of 2^31 bytes or more
    struct Case { const char* what; std::string file; Bytes bytes; } cases[] = {
        {"no magic", delta, badMagic},
        {"header cut short", delta, cut},
        {"VCDIFF window of no known kind", delta, badDelta},
        {"target size not what the delta makes", delta, wrongSize},
        {"source size beyond 2^31", delta, hugeSize},
        {"a start-up file as a delta", out_ + "\\notes.txt" + kDeltaFileSuffix, good},
        {"the same file whole beside its delta", out_ + "\\game.arc", newArchive_},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(c.file, c.bytes)) << c.what;
        PackReport report;
        EXPECT_EQ(kPackBadDelta, Pack(&report)) << c.what;
        EXPECT_NE(std::string::npos, report.entry.find(kDeltaFileSuffix)) << c.what << ": " << report.entry;
        EXPECT_FALSE(Exists(patch_)) << c.what << " " << DescribePackReport(report);
        if (c.file == delta) ASSERT_TRUE(WriteFileBytes(delta, good));
        else PlatformDeleteFile(c.file.c_str());
    }
}

// verify inflates a delta entry and refuses one whose delta makes another
// size than the entry says.
TEST_F(DeltaFilesTest, VerifyRefusesADeltaOfAnotherSize) {
    Bytes delta;
    ASSERT_EQ(0, EncodeInMemory(archive_, newArchive_, &delta));
    DeltaFields fields = DeltaFieldsOf(archive_, newArchive_);
    fields.targetSize -= 1;
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("INSTTITLE\tgame\r\n"));
    AppendDeltaEntry(&entries, "game.arc", fields, Deflate(delta));
    AppendEnd(&entries);
    ASSERT_TRUE(WriteFileBytes(patch_, MakeProgramFile(ToBytes("MZ image"), entries)));
    VerifyReport verify;
    EXPECT_FALSE(VerifyPackage(patch_.c_str(), &verify));
    EXPECT_EQ("game.arc", verify.entry);
    EXPECT_NE(std::string::npos, verify.reason.find("the delta")) << verify.reason;
}

}  // namespace

namespace {

// extract applies a delta onto a folder holding the released game, as the
// updater does, and refuses, naming the file and writing nothing, a folder
// whose file is not the released one.
TEST_F(DeltaFilesTest, ExtractAppliesDeltasOnlyOntoTheReleasedFile) {
    Bytes delta;
    ASSERT_EQ(0, EncodeInMemory(archive_, newArchive_, &delta));
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("INSTTITLE\tgame\r\n"));
    AppendFile(&entries, "small.dat", ToBytes("new small"));
    AppendDeltaEntry(&entries, "game.arc", DeltaFieldsOf(archive_, newArchive_), Deflate(delta));
    ASSERT_TRUE(WriteFileBytes(patch_, MakeProgramFile(ToBytes("MZ image"), entries)));
    Bytes edited = archive_;
    edited[300000] ^= 1;
    struct Case {
        const char* fault;  // what extracting anyway would do
        const Bytes* installed;  // null: no game.arc in the folder
        int code;
    } cases[] = {
        {"the released file refused, or the delta not applied", &archive_, 0},
        {"an edited file taken as the source: garbage written", &edited, 1},
        {"no file to apply to: a delta written as if it were the file", nullptr, 1},
    };
    for (const Case& c : cases) {
        std::string dest = root_ / "dest";
        RemoveTree(dest);
        ASSERT_EQ(0, PlatformCreateFolder(dest.c_str()));
        if (c.installed != nullptr) {
            ASSERT_TRUE(WriteFileBytes(dest + "\\game.arc", *c.installed));
        }
        TreeSnapshot before = SnapshotTree(dest);
        std::string errPath = root_ / "err.txt";
        FILE* err = PlatformOpenFile(errPath.c_str(), "wb+");
        ASSERT_NE(nullptr, err);
        EXPECT_EQ(c.code, ExtractCommand(patch_.c_str(), dest.c_str(), err, err, nullptr)) << c.fault;
        fclose(err);
        Bytes said;
        ReadFileBytes(errPath, &said);
        std::string text(said.begin(), said.end());
        TreeSnapshot after = SnapshotTree(dest);
        if (c.code == 0) {
            EXPECT_TRUE(after["game.arc"].first == newArchive_) << c.fault;
            EXPECT_EQ(kTestFileTime, after["game.arc"].second) << c.fault;
            EXPECT_EQ(ToBytes("new small"), after["small.dat"].first) << c.fault;
        } else {
            EXPECT_TRUE(after == before) << c.fault;
            EXPECT_NE(std::string::npos, text.find("game.arc")) << c.fault << ": " << text;
            EXPECT_NE(std::string::npos, text.find("nothing was written")) << c.fault << ": " << text;
        }
    }
}

}  // namespace

namespace {

// A maker who asks for nothing gets deltas; --no-delta ships every file whole.
TEST_F(DeltaFilesTest, DiffMakesDeltasUnlessTurnedOff) {
    DiffRequest request{old_, new_, out_, "", nullptr};
    DiffReport report;
    ASSERT_EQ(kDiffDone, DiffTrees(request, &report)) << DescribeDiffReport(report);
    EXPECT_TRUE(Exists(out_ + "\\game.arc" + kDeltaFileSuffix));
}

}  // namespace
