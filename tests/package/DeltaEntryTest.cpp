// Delta entries in a package: written and read back, refused by a reader of
// the plain format, and applied onto an installed file only when the file,
// the stream, the delta and the target are all what the entry says.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "package/DeltaEntry.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "services/Platform.h"
#include "tests/support/DeltaStreams.h"
#include "tests/support/TempFolder.h"

namespace {

class DeltaEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        source_ = RandomBytes(300000, 1);
        target_ = source_;
        Bytes asset = RandomBytes(5000, 2);
        target_.insert(target_.begin() + 150000, asset.begin(), asset.end());
        ASSERT_EQ(0, EncodeInMemory(source_, target_, &delta_));
        fields_ = DeltaFieldsOf(source_, target_);
    }

    // Opens the package of entries, positioned at its first entry.
    bool Open(const Bytes& entries, PackageStream* stream) {
        Bytes end = entries;
        AppendEnd(&end);
        std::string path = dir_ / "package.exe";
        return WriteFileBytes(path, MakeProgramFile(ToBytes("MZ image"), end)) &&
               OpenPackageStream(path.c_str(), stream) == kPackageOk;
    }

    // Reads the one entry's header and fields, then applies it onto a file of
    // installed bytes; the result, and the target's bytes in *made.
    int Apply(const Bytes& entries, const Bytes& installed, Bytes* made) {
        PackageStream stream;
        if (!Open(entries, &stream)) return -1;
        uint16_t length = 0;
        PackageEntry entry;
        DeltaFields fields;
        int r = ReadNameLength(&stream, &length);
        if (r == kPackageOk) r = ReadEntryHeaderWithDeltas(&stream, length, &entry);
        if (r == kPackageOk && !entry.isDelta) r = -2;
        if (r == kPackageOk) r = SkipPackageBytes(&stream, kFileTimeSize);
        if (r == kPackageOk) r = ReadDeltaFields(&stream, &fields);
        std::string sourcePath = dir_ / "installed.arc", targetPath = dir_ / "staged.arc";
        if (r == kPackageOk && !WriteFileBytes(sourcePath, installed)) r = -3;
        if (r == kPackageOk) {
            FILE* source = PlatformOpenFile(sourcePath.c_str(), "rb");
            FILE* target = PlatformOpenFile(targetPath.c_str(), "wb");
            r = source != nullptr && target != nullptr ? ApplyDeltaEntry(&stream, entry.packedSize, fields, source, target)
                                                       : -4;
            if (source != nullptr) fclose(source);
            if (target != nullptr) fclose(target);
            ReadFileBytes(targetPath, made);
            if (r == kPackageOk && (ReadNameLength(&stream, &length) != kPackageOk || length != 0)) r = -5;
        }
        ClosePackageStream(&stream);
        return r;
    }

    TempFolder dir_;
    Bytes source_, target_, delta_;
    DeltaFields fields_;
};

// What the makers' tool writes, the updater reads back and applies.
TEST_F(DeltaEntryTest, WrittenEntryReadsBackAndApplies) {
    std::string path = dir_ / "written.exe";
    FILE* out = PlatformOpenFile(path.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    PackageWriter writer;
    ASSERT_EQ(kPackageOk, BeginPackage(&writer, out, 9));
    Bytes packed = Deflate(delta_);
    ASSERT_EQ(kPackageOk, AddCompressedDeltaEntry(&writer, "data\\game.arc", fields_, packed.data(), packed.size(),
                                                  kTestFileTime));
    ASSERT_EQ(kPackageOk, FinishPackage(&writer));
    fclose(out);
    Bytes file, expected;
    ASSERT_TRUE(ReadFileBytes(path, &file));
    AppendDeltaEntry(&expected, "data\\game.arc", fields_, packed);
    AppendEnd(&expected);
    ASSERT_GE(file.size(), expected.size());
    EXPECT_TRUE(Bytes(file.begin(), file.begin() + expected.size()) == expected);

    Bytes entries, made;
    AppendDeltaEntry(&entries, "data\\game.arc", fields_, packed);
    ASSERT_EQ(kPackageOk, Apply(entries, source_, &made));
    EXPECT_TRUE(made == target_);
}

// A reader of the plain format meets a delta entry: a damaged package, never
// a file of its bytes.
TEST_F(DeltaEntryTest, PlainReaderRefusesADeltaEntry) {
    Bytes entries;
    AppendDeltaEntry(&entries, "game.arc", fields_, Deflate(delta_));
    PackageStream stream;
    ASSERT_TRUE(Open(entries, &stream));
    uint16_t length = 0;
    PackageEntry entry;
    ASSERT_EQ(kPackageOk, ReadNameLength(&stream, &length));
    EXPECT_EQ(kPackageBadSize, ReadEntryHeader(&stream, length, &entry));
    ClosePackageStream(&stream);
}

TEST_F(DeltaEntryTest, WriterRefusesWhatTheReaderWould) {
    std::string path = dir_ / "refused.exe";
    FILE* out = PlatformOpenFile(path.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    PackageWriter writer;
    ASSERT_EQ(kPackageOk, BeginPackage(&writer, out, 9));
    DeltaFields huge = fields_;
    huge.targetSize = 0x80000000u;
    const uint8_t packed[1] = {0};
    struct Case { const char* what; const char* name; DeltaFields fields; int expected; } cases[] = {
        {"a start-up file: read before any installed file is known", "install.env", fields_, kPackageBadName},
        {"a name leaving the folder", "..\\game.arc", fields_, kPackageBadName},
        {"a target of 2^31 bytes", "game.arc", huge, kPackageBadSize},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, AddCompressedDeltaEntry(&writer, c.name, c.fields, packed, 1, 0)) << c.what;
    EXPECT_EQ(0, PlatformTell(out)) << "a refused entry writes nothing";
    fclose(out);
}

// Each row breaks one thing; the entry is refused with the result a reader
// reports, and no target is taken for good.
TEST_F(DeltaEntryTest, DamagedEntriesAreRefused) {
    Bytes packed = Deflate(delta_);
    Bytes trailing = packed;
    trailing.push_back(0);
    DeltaFields wrongHash = fields_;
    wrongHash.targetHash[0] ^= 1;
    DeltaFields wrongSize = fields_;
    wrongSize.targetSize += 1;
    DeltaFields hugeSource = fields_;
    hugeSource.sourceSize = 0x80000000u;
    Bytes otherSource = source_;
    otherSource.resize(1000);
    auto entry = [](const std::string& name, const DeltaFields& f, const Bytes& stream) {
        Bytes e;
        AppendDeltaEntry(&e, name, f, stream);
        return e;
    };
    Bytes cutFields;
    AppendRawFile(&cutFields, ToBytes(std::string("a.arc") + '\0'), kDeltaEntrySize, 0, 0, Bytes(10, 0));
    Bytes otherKind;
    AppendRawFile(&otherKind, ToBytes(std::string("a.arc") + '\0'), -3, 0, 0, Bytes(80, 0));
    Bytes notVcdiff = Deflate(ToBytes("this is not a delta at all"));
    struct Case { const char* what; Bytes entries; Bytes installed; int expected; } cases[] = {
        {"target hash differs", entry("a.arc", wrongHash, packed), source_, kPackageCorruptStream},
        {"target size differs from what the delta makes", entry("a.arc", wrongSize, packed), source_,
         kPackageCorruptStream},
        {"bytes after the zlib stream's end", entry("a.arc", fields_, trailing), source_, kPackageCorruptStream},
        {"zlib stream cut short", entry("a.arc", fields_, Bytes(packed.begin(), packed.end() - 9)), source_,
         kPackageTruncated},
        {"stream that is no VCDIFF", entry("a.arc", fields_, notVcdiff), source_, kPackageCorruptStream},
        {"installed file shorter than the delta reads", entry("a.arc", fields_, packed), otherSource,
         kPackageSourceMismatch},
        {"a start-up file's name", entry("readme.txt", fields_, packed), source_, kPackageBadName},
        {"a source of 2^31 bytes", entry("a.arc", hugeSource, packed), source_, kPackageBadSize},
        {"fields cut short", cutFields, source_, kPackageTruncated},
        {"an unpacked size below the delta's", otherKind, source_, kPackageBadSize},
    };
    for (const Case& c : cases) {
        Bytes made;
        EXPECT_EQ(c.expected, Apply(c.entries, c.installed, &made)) << c.what;
    }
}

// The installed copy is taken only when it is the very file the delta was
// made from.
TEST_F(DeltaEntryTest, SourceCheckTakesOnlyTheReleasedFile) {
    Bytes flipped = source_;
    flipped[123456] ^= 0x20;
    Bytes longer = source_;
    longer.push_back(0);
    struct Case { const char* what; const Bytes* installed; int expected; } cases[] = {
        {"the released file", &source_, kPackageOk},
        {"one byte changed by the player", &flipped, kPackageSourceMismatch},
        {"one byte longer", &longer, kPackageSourceMismatch},
        {"missing", nullptr, kPackageSourceMismatch},
    };
    for (const Case& c : cases) {
        std::string path = dir_ / "installed.arc";
        PlatformDeleteFile(path.c_str());
        if (c.installed != nullptr) {
            ASSERT_TRUE(WriteFileBytes(path, *c.installed));
        }
        EXPECT_EQ(c.expected, CheckDeltaSource(path.c_str(), fields_)) << c.what;
    }
}

}  // namespace
