#include "package/Extract.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "package/Staging.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "services/ScriptedBoxes.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

using Tree = TreeSnapshot;

Bytes Pattern(size_t size, uint32_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>((seed >> 16) % 7 == 0 ? seed >> 8 : 'a' + i % 26);
    }
    return out;
}

// Bytes that deflate cannot shrink: every block of output needs a little more
// than a block of the stream.
Bytes Noise(size_t size, uint32_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

// What an entry's header counts in the consumed bytes: the name length, the
// name with its terminator and both sizes.
int64_t HeaderBytes(const std::string& name) {
    return static_cast<int64_t>(kNameLengthSize + name.size() + 1 + kSizeFieldsSize);
}
// What a whole file's stream counts: its last-write time and its packed bytes.
int64_t StreamBytes(const Bytes& content) { return static_cast<int64_t>(kFileTimeSize + Deflate(content).size()); }

using Reports = std::vector<std::pair<int64_t, int64_t>>;

struct ProgressLog {
    std::vector<std::string> files;
    Reports reports;
};

void LogBegin(void* context, const char* path, int32_t) {
    static_cast<ProgressLog*>(context)->files.push_back(path);
}
void LogReport(void* context, int64_t fileBytes, int64_t consumed) {
    static_cast<ProgressLog*>(context)->reports.push_back({fileBytes, consumed});
}

class ExtractTest : public ::testing::Test {
protected:
    void TearDown() override {
        FailAllocationsAfter(-1);
        SetExtractWorkers(0);
    }

    int Walk(const Bytes& programFile, ExtractMode mode, const ProgressSink* sink = nullptr) {
        return WalkInto(dest.Path(), programFile, mode, sink);
    }
    int WalkInto(const std::string& destination, const Bytes& programFile, ExtractMode mode,
                 const ProgressSink* sink = nullptr) {
        std::string path = packages / "program.exe";
        EXPECT_TRUE(WriteFileBytes(path, programFile));
        PackageStream stream;
        int result = OpenPackageStream(path.c_str(), &stream);
        if (result != kPackageOk) return result;
        result = WalkPackage(&stream, destination.c_str(), mode, sink);
        ClosePackageStream(&stream);
        return result;
    }

    Tree Snapshot() { return SnapshotTree(dest.Path()); }

#ifndef _WIN32
    // The whole extraction of a running program carrying entries, its boxes
    // scripted from none shown.
    ExtractResult ExtractAsRunningProgram(const Bytes& entries) {
        std::string program = packages / "program.exe";
        EXPECT_TRUE(WriteFileBytes(program, MakeProgramFile({}, entries)));
        setenv("UPDATER_PROGRAM_FILE", program.c_str(), 1);
        ResetScriptedBoxes();
        ExtractResult result = ExtractPackage(dest.Path().c_str(), kFullMode);
        unsetenv("UPDATER_PROGRAM_FILE");
        return result;
    }
#endif

    TempFolder dest;
    TempFolder packages;
};

TEST_F(ExtractTest, FullModeWritesEveryEntryWithItsTime) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR=x\r\n"));
    AppendFolder(&entries, "表\\");
    AppendFolder(&entries, "表\\ソフト\\");
    AppendFile(&entries, "表\\ソフト\\データ.dat", Pattern(300000, 1), 130000000000000000ULL);
    AppendFile(&entries, "empty.dat", {});
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile(ToBytes("MZ image"), entries), kFullMode));

    EXPECT_EQ((std::vector<std::string>{"empty.dat", "install.env", "表\\", "表\\ソフト\\",
                                        "表\\ソフト\\データ.dat"}),
              ListTree(dest.Path()));
    Tree tree = Snapshot();
    EXPECT_EQ(Pattern(300000, 1), tree["表\\ソフト\\データ.dat"].first);
    EXPECT_EQ(130000000000000000ULL, tree["表\\ソフト\\データ.dat"].second);
    EXPECT_TRUE(tree["empty.dat"].first.empty());
    EXPECT_EQ(kTestFileTime, tree["empty.dat"].second);
}

TEST_F(ExtractTest, UpdateReplacesExistingFilesAndKeepsOthers) {
    ASSERT_TRUE(WriteFileBytes(dest / "game.dat", ToBytes("old")));
    ASSERT_TRUE(WriteFileBytes(dest / "save.dat", ToBytes("player's save")));
    Bytes entries;
    AppendFile(&entries, "game.dat", ToBytes("first"));
    AppendFile(&entries, "game.dat", ToBytes("new"));  // a repeated name: the last one wins
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kFullMode));
    Tree tree = Snapshot();
    ASSERT_EQ(2u, tree.size());
    Bytes game;
    ASSERT_TRUE(ReadFileBytes(dest / "game.dat", &game));
    EXPECT_EQ(ToBytes("new"), game);
    EXPECT_EQ(ToBytes("player's save"), tree["save.dat"].first);
}

// An install folder of 230 bytes takes every name up to the 259-byte limit:
// the staged and moved-aside names are longer than their targets, and folders
// past Windows' plain limit of 248 characters must still be made.
TEST_F(ExtractTest, LongInstallFolderTakesNamesUpToThePathLimit) {
    constexpr size_t kInstallLength = 230;
    std::string install = dest.Path();
    while (install.size() + 12 < kInstallLength) {
        install += "\\dddddddddd";
        ASSERT_EQ(0, PlatformCreateFolder(install.c_str()));
    }
    install += "\\" + std::string(kInstallLength - install.size() - 1, 'e');
    ASSERT_EQ(kInstallLength, install.size());
    ASSERT_EQ(0, PlatformCreateFolder(install.c_str()));
    const std::string name28 = "セーブ_0123456789abcdefg.dat";  // 28 bytes
    const std::string folder25 = "追加フォルダ_012345678abc";  // 25 bytes
    ASSERT_EQ(28u, name28.size());
    ASSERT_EQ(25u, folder25.size());
    ASSERT_TRUE(WriteFileBytes(install + "\\" + name28, ToBytes("old")));
    Bytes entries;
    AppendFile(&entries, name28, Pattern(5000, 3));  // replaces the original: moved aside first
    AppendFolder(&entries, folder25 + "\\");          // a folder of 256 bytes
    AppendFile(&entries, "n.dat", ToBytes("n"));
    ASSERT_EQ(kPackageOk, WalkInto(install, MakeProgramFile({}, entries), kFullMode));
    EXPECT_EQ((std::vector<std::string>{"n.dat", name28, folder25 + "\\"}), ListTree(install));
    Bytes got;
    ASSERT_TRUE(ReadFileBytes(install + "\\" + name28, &got));
    EXPECT_EQ(Pattern(5000, 3), got);

    // One byte past the limit is refused, and the folder stays as it was.
    Tree before = SnapshotTree(install);
    Bytes tooLong;
    AppendFile(&tooLong, "x" + name28, ToBytes("x"));
    EXPECT_EQ(kPackagePathTooLong, WalkInto(install, MakeProgramFile({}, tooLong), kFullMode));
    EXPECT_EQ(before, SnapshotTree(install));
}

TEST_F(ExtractTest, EmptyPackageWritesNothing) {
    EXPECT_EQ(kPackageOk, Walk(MakeProgramFile({}, {}), kFullMode));
    EXPECT_EQ(kPackageOk, Walk(MakeProgramFile({}, {}), kBootMode));
    EXPECT_TRUE(ListTree(dest.Path()).empty());
}

TEST_F(ExtractTest, BootModeTakesOnlyStartupFilesAndStopsAtANestedFolder) {
    Bytes entries;
    AppendFile(&entries, "readme.TXT", ToBytes("r"));
    AppendFile(&entries, "data.arc", Pattern(1000, 2));
    AppendFile(&entries, "notes.txt.bak", ToBytes("n"));
    AppendFolder(&entries, "save\\");
    AppendFile(&entries, "INSTALL.ENV", ToBytes("e"));
    AppendFolder(&entries, "save\\sub\\");
    AppendFile(&entries, "insttscr.rct", ToBytes("p"));
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kBootMode));
    EXPECT_EQ((std::vector<std::string>{"INSTALL.ENV", "notes.txt.bak", "readme.TXT"}), ListTree(dest.Path()));
    uint64_t time = 0;
    ASSERT_EQ(0, PlatformGetFileTime((dest / "INSTALL.ENV").c_str(), &time));
    EXPECT_EQ(kTestFileTime, time);
}

TEST_F(ExtractTest, BootModeFailsOnAStartupFileInsideAFolder) {
    Bytes entries;
    AppendFolder(&entries, "docs\\");
    AppendFile(&entries, "docs\\a.txt", ToBytes("a"));
    EXPECT_EQ(kPackageCannotWrite, Walk(MakeProgramFile({}, entries), kBootMode));
}

TEST_F(ExtractTest, ProgressCountsBlocksAndConsumedBytes) {
    SetExtractWorkers(1);  // block by block, as a walk in order reports
    const Bytes two(2 * kTransferBlock, 'x');
    const Bytes more(kTransferBlock + 1, 'y');
    Bytes entries;
    AppendFile(&entries, "two.dat", two);
    AppendFile(&entries, "more.dat", more);
    AppendFile(&entries, "zero.dat", {});
    ProgressLog log;
    ProgressSink sink{LogBegin, LogReport, &log};
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kFullMode, &sink));
    EXPECT_EQ((std::vector<std::string>{dest / "two.dat", dest / "more.dat", dest / "zero.dat"}), log.files);
    // Both streams are shorter than a block, so each is requested whole at
    // its first read: every report of a file counts the headers so far, the
    // earlier files' streams and its own.
    ASSERT_LT(Deflate(two).size(), kTransferBlock);
    ASSERT_LT(Deflate(more).size(), kTransferBlock);
    const int64_t afterTwo = HeaderBytes("two.dat") + StreamBytes(two);
    const int64_t afterMore = afterTwo + HeaderBytes("more.dat") + StreamBytes(more);
    // Two full blocks, no report at the end; one full block and the partial end.
    EXPECT_EQ((Reports{{kTransferBlock, afterTwo},
                       {2 * kTransferBlock, afterTwo},
                       {kTransferBlock, afterMore},
                       {kTransferBlock + 1, afterMore}}),
              log.reports);
}

// A stream longer than a block is requested a block at a time: a report
// counts the blocks of it requested so far, never more than it holds.
TEST_F(ExtractTest, ConsumedCountsThePackedBytesRequestedSoFar) {
    SetExtractWorkers(1);  // block by block, as a walk in order reports
    const Bytes first = ToBytes("first");
    const Bytes noise = Noise(3 * kTransferBlock + 100, 7);
    const int64_t packed = static_cast<int64_t>(Deflate(noise).size());
    ASSERT_GT(packed, int64_t(noise.size())) << "the stream must not be shorter than its output";
    ASSERT_LT(packed, int64_t(4 * kTransferBlock));
    Bytes entries;
    AppendFile(&entries, "first.dat", first);
    AppendFile(&entries, "noise.dat", noise);
    ProgressLog log;
    ProgressSink sink{LogBegin, LogReport, &log};
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kFullMode, &sink));
    const int64_t afterFirst = HeaderBytes("first.dat") + StreamBytes(first);
    const int64_t beforeNoise = afterFirst + HeaderBytes("noise.dat") + kFileTimeSize;
    // Block k of output needs more than k blocks of the stream: k + 1 reads,
    // the first of which carried the last-write time with the stream's start.
    Reports expected{{int64_t(first.size()), afterFirst}};
    for (int64_t k = 1; k <= 3; ++k)
        expected.push_back(
            {k * kTransferBlock, beforeNoise + std::min((k + 1) * int64_t(kTransferBlock) - int64_t(kFileTimeSize), packed)});
    expected.push_back({int64_t(noise.size()), beforeNoise + packed});
    EXPECT_EQ(expected, log.reports);
    EXPECT_EQ(int64_t(entries.size()), log.reports.back().second) << "every header and stream, once";
}

struct Damage {
    const char* what;
    Bytes entries;
    int expected;
};

// A name as the package stores it, with its terminator.
Bytes Stored(const std::string& name) {
    Bytes b = ToBytes(name);
    b.push_back(0);
    return b;
}

// A file entry of 5 unpacked bytes with every other field given: the stored
// name, the stream and the packed size its header claims (the stream's own
// size unless given).
Bytes RawFile(const Bytes& nameBytes, const Bytes& stream, int64_t packed = -1) {
    Bytes out;
    AppendRawFile(&out, nameBytes, 5, packed < 0 ? static_cast<uint32_t>(stream.size()) : static_cast<uint32_t>(packed),
                  0, stream);
    return out;
}

Bytes FolderEntry(const std::string& name) {
    Bytes out;
    AppendFolder(&out, name);
    return out;
}

Bytes Changed(Bytes bytes, size_t fromEnd, uint8_t mask) {
    bytes[bytes.size() - 1 - fromEnd] ^= mask;
    return bytes;
}

Bytes Resized(Bytes bytes, size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

std::vector<Damage> DamagedPackages() {
    const Bytes good = Deflate(ToBytes("hello"));
    return {
        {"name leaves the destination", RawFile(Stored("..\\evil.dat"), good), kPackageBadName},
        {"name leaves through a folder inside", RawFile(Stored("sub\\..\\..\\evil.dat"), good), kPackageBadName},
        {"folder that leaves the destination", FolderEntry("..\\"), kPackageBadName},
        {"name with a drive", RawFile(Stored("C:\\evil.dat"), good), kPackageBadName},
        {"name relative to a drive", RawFile(Stored("C:evil.dat"), good), kPackageBadName},
        {"name from the root", RawFile(Stored("\\evil.dat"), good), kPackageBadName},
        {"name from the root, forward slash", RawFile(Stored("/evil.dat"), good), kPackageBadName},
        {"empty name", RawFile(Stored(""), good), kPackageBadName},
        {"name without terminator", RawFile(ToBytes("noterm"), good), kPackageBadName},
        {"name over 260 bytes", RawFile(Stored(std::string(270, 'a')), good), kPackageBadName},
        {"destination path over 259 bytes", RawFile(Stored(std::string(250, 'a')), good), kPackagePathTooLong},
        {"wrong checksum", RawFile(Stored("a.dat"), Changed(good, 0, 0x55)), kPackageCorruptStream},
        {"not a zlib stream", RawFile(Stored("a.dat"), ToBytes("this is not a zlib stream")), kPackageCorruptStream},
        {"stream cut short", RawFile(Stored("a.dat"), Resized(good, good.size() - 3)), kPackageTruncated},
        {"stream ends before its packed size", RawFile(Stored("a.dat"), Resized(good, good.size() + 1)),
         kPackageCorruptStream},
        {"packed size beyond the stream", RawFile(Stored("a.dat"), good, 1000), kPackageTruncated},
    };
}

// Many files, a repeated target (the last entry wins) and Japanese names: the
// walk on several threads makes exactly the tree the walk in order makes, and
// its progress ends where the package ends.
TEST_F(ExtractTest, ParallelWalkMakesTheSameTreeAsAWalkInOrder) {
    Bytes entries;
    AppendFolder(&entries, "表\\");
    for (int i = 0; i < 40; ++i) {
        std::string name = (i % 3 == 0 ? "表\\ソフト" : "data") + std::to_string(i) + ".dat";
        AppendFile(&entries, name, Pattern(static_cast<size_t>(i) * 37000 % 400000, i), kTestFileTime + i);
    }
    AppendFile(&entries, "data1.dat", ToBytes("the last entry for data1 wins"));
    Bytes program = MakeProgramFile({}, entries);
    ProgressLog inOrder;
    ProgressSink inOrderSink{LogBegin, LogReport, &inOrder};
    SetExtractWorkers(1);
    ASSERT_EQ(kPackageOk, Walk(program, kFullMode, &inOrderSink));
    Tree expected = Snapshot();
    // The last file's end is reported, with every header and stream counted once.
    EXPECT_EQ(int64_t(entries.size()), inOrder.reports.back().second);
    for (unsigned workers : {2u, 4u}) {
        RemoveTree(dest.Path());
        ASSERT_EQ(0, PlatformCreateFolder(dest.Path().c_str()));
        SetExtractWorkers(workers);
        ProgressLog log;
        ProgressSink sink{LogBegin, LogReport, &log};
        ASSERT_EQ(kPackageOk, Walk(program, kFullMode, &sink)) << workers;
        EXPECT_TRUE(Snapshot() == expected) << workers;
        ASSERT_FALSE(log.reports.empty()) << workers;
        for (size_t i = 1; i < log.reports.size(); ++i) EXPECT_LE(log.reports[i - 1].second, log.reports[i].second);
        EXPECT_EQ(int64_t(entries.size()), log.reports.back().second) << "ends full, " << workers;
        EXPECT_EQ(inOrder.files, log.files) << "every file start, in package order, " << workers;
        EXPECT_EQ(inOrder.reports.back().first, log.reports.back().first) << workers;
    }
}

// Damage in any one entry, met by whichever thread inflates it: the first
// damaged entry is named, and the destination stays as it was.
TEST_F(ExtractTest, DamageAtAnyEntryFoundByAnyWorkerChangesNothing) {
    ASSERT_TRUE(WriteFileBytes(dest / "f3.dat", ToBytes("original")));
    Tree before = Snapshot();
    constexpr int kEntries = 12;
    for (int damaged = 0; damaged < kEntries; ++damaged) {
        Bytes entries;
        size_t at = 0;
        for (int i = 0; i < kEntries; ++i) {
            if (i == damaged) at = entries.size();
            AppendFile(&entries, "f" + std::to_string(i) + ".dat", Pattern(150000, i));
        }
        Bytes program = MakeProgramFile({}, entries);
        program[at + 40] ^= 0x5A;  // inside the damaged entry's stream
        for (unsigned workers : {1u, 4u}) {
            SetExtractWorkers(workers);
            EXPECT_EQ(kPackageCorruptStream, Walk(program, kFullMode)) << damaged << " " << workers;
            EXPECT_EQ("f" + std::to_string(damaged) + ".dat", std::string(LastFailedEntry())) << workers;
            EXPECT_TRUE(Snapshot() == before) << damaged << " " << workers;
        }
    }
}

// The install folder is two levels down in the temporary folder, so that a
// name that climbs out of it would land in the snapshot too.
TEST_F(ExtractTest, DamagedPackagesLeaveTheDestinationUntouched) {
    const std::string install = dest / "outer\\install";
    ASSERT_EQ(0, PlatformCreateFolder((dest / "outer").c_str()));
    ASSERT_EQ(0, PlatformCreateFolder(install.c_str()));
    ASSERT_TRUE(WriteFileBytes(install + "\\first.dat", ToBytes("original")));
    ASSERT_EQ(0, PlatformSetFileTime((install + "\\first.dat").c_str(), kTestFileTime));
    Tree before = Snapshot();
    ASSERT_EQ(3u, before.size());
    for (const Damage& d : DamagedPackages()) {
        // A good entry and a new folder come first, so that the failure is met part-way.
        Bytes entries;
        AppendFile(&entries, "first.dat", ToBytes("replacement"));
        AppendFolder(&entries, "newfolder\\");
        entries.insert(entries.end(), d.entries.begin(), d.entries.end());
        EXPECT_EQ(d.expected, WalkInto(install, MakeProgramFile(ToBytes("MZ"), entries), kFullMode)) << d.what;
        EXPECT_EQ(before, Snapshot()) << "nothing inside the destination or beside it: " << d.what;
        // Nor in the current folder or at the root of its drive.
        for (const char* outside : {"evil.dat", "\\evil.dat", "/evil.dat", "C:\\evil.dat"})
            EXPECT_FALSE(Exists(outside)) << outside << " after " << d.what;
    }
}

TEST_F(ExtractTest, EveryTruncationFailsAndChangesNothing) {
    ASSERT_TRUE(WriteFileBytes(dest / "b.dat", ToBytes("original")));
    Tree before = Snapshot();
    Bytes entries;
    AppendFile(&entries, "a.dat", Pattern(3000, 3));
    AppendFolder(&entries, "d\\");
    AppendFile(&entries, "d\\b.dat", ToBytes("bbb"));
    AppendFile(&entries, "b.dat", ToBytes("new"));
    AppendEnd(&entries);
    Bytes image = ToBytes("MZ");
    for (size_t cut = 0; cut < entries.size(); ++cut) {
        Bytes file = image;
        file.insert(file.end(), entries.begin(), entries.begin() + cut);
        uint8_t trailer[4] = {static_cast<uint8_t>(image.size()), 0, 0, 0};
        file.insert(file.end(), trailer, trailer + 4);
        ASSERT_NE(kPackageOk, Walk(file, kFullMode)) << "cut at " << cut;
        ASSERT_EQ(before, Snapshot()) << "cut at " << cut;
    }
}

TEST_F(ExtractTest, ReadOnlyOrFolderTargetsAreRefusedBeforeAnythingChanges) {
    ASSERT_TRUE(WriteFileBytes(dest / "a.dat", ToBytes("original")));
    ASSERT_TRUE(WriteFileBytes(dest / "locked.dat", ToBytes("locked")));
    ASSERT_EQ(0, PlatformSetAttributes((dest / "locked.dat").c_str(), kAttrReadOnly));
    ASSERT_EQ(0, PlatformCreateFolder((dest / "folder.dat").c_str()));
    Tree before = Snapshot();
    for (const char* target : {"locked.dat", "folder.dat"}) {
        Bytes entries;
        AppendFile(&entries, "a.dat", ToBytes("new"));
        AppendFile(&entries, target, ToBytes("new"));
        EXPECT_EQ(kPackageCannotReplace, Walk(MakeProgramFile({}, entries), kFullMode)) << target;
        EXPECT_EQ(before, Snapshot()) << target;
    }
    PlatformSetAttributes((dest / "locked.dat").c_str(), 0);
}

// A zlib stream of stored blocks: its packed size is exactly the data's plus
// the header, five bytes a block and the checksum.
Bytes StoredStream(const Bytes& data) {
    constexpr size_t kStoredBlock = 65535;
    Bytes out = {0x78, 0x01};
    size_t at = 0;
    do {
        size_t n = data.size() - at < kStoredBlock ? data.size() - at : kStoredBlock;
        out.push_back(at + n == data.size() ? 1 : 0);
        out.push_back(static_cast<uint8_t>(n));
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(static_cast<uint8_t>(~n));
        out.push_back(static_cast<uint8_t>(~n >> 8));
        out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
        at += n;
    } while (at < data.size());
    uLong sum = adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(sum >> shift));
    return out;
}

// The last-write time and the first part of a stream are read together: a
// stream that ends just before, at or just after the end of that first read
// is written whole, on one thread or several.
TEST_F(ExtractTest, StreamsEndingAroundTheFirstReadAreWrittenWhole) {
    struct Case { const char* fault; uint32_t packed; } cases[] = {
        {"the first read one byte short of the stream", kTransferBlock - kFileTimeSize - 1},
        {"a stream exactly filling the first read", kTransferBlock - kFileTimeSize},
        {"one byte left for a second read", kTransferBlock - kFileTimeSize + 1},
        {"a stream of a whole transfer block", kTransferBlock},
    };
    // Two stored blocks: the header, two block headers and the checksum.
    constexpr uint32_t kStoredOverhead = 2 + 2 * 5 + 4;
    for (const Case& c : cases) {
        Bytes data = Pattern(c.packed - kStoredOverhead, c.packed);
        Bytes stream = StoredStream(data);
        ASSERT_EQ(c.packed, stream.size()) << c.fault;
        Bytes entries;
        AppendRawFile(&entries, ToBytes(std::string("edge.dat") + '\0'), static_cast<int32_t>(data.size()), c.packed,
                      kTestFileTime, stream);
        AppendFile(&entries, "next.txt", ToBytes("after"));
        for (unsigned workers : {1u, 2u}) {
            SetExtractWorkers(workers);
            TempFolder into;
            ASSERT_EQ(kPackageOk, WalkInto(into.Path(), MakeProgramFile({}, entries), kFullMode)) << c.fault;
            Tree tree = SnapshotTree(into.Path());
            EXPECT_EQ(data, tree["edge.dat"].first) << c.fault << ", " << workers;
            EXPECT_EQ(kTestFileTime, tree["edge.dat"].second) << c.fault << ", " << workers;
            EXPECT_EQ(ToBytes("after"), tree["next.txt"].first) << c.fault << ", " << workers;
        }
    }
}

// A file entry, then a folder entry of the same name: the folder that the
// walk makes stands where the file was planned to go new, and is refused as
// a folder in the way, on one thread or several, the folder left as it was.
TEST_F(ExtractTest, AFolderMadeWhereAFileWasPlannedIsRefused) {
    Tree before = Snapshot();
    for (unsigned workers : {1u, 2u}) {
        SetExtractWorkers(workers);
        Bytes entries;
        AppendFile(&entries, "new.dat", ToBytes("new"));
        AppendFile(&entries, "clash", ToBytes("file"));
        AppendFolder(&entries, "clash\\");
        EXPECT_EQ(kPackageCannotReplace, Walk(MakeProgramFile({}, entries), kFullMode)) << workers;
        EXPECT_EQ(kWriteFailureFolder, LastWriteFailure()->reason) << workers;
        EXPECT_EQ(before, Snapshot()) << workers;
    }
}

TEST_F(ExtractTest, AFailedAllocationFailsTheWalkWithoutUsingNull) {
    ResetScriptedBoxes();
    Bytes entries;
    AppendFile(&entries, "a.dat", ToBytes("new"));
    for (int after : {0, 1}) {
        FailAllocationsAfter(after);
        EXPECT_EQ(kPackageNoMemory, Walk(MakeProgramFile({}, entries), kFullMode));
        EXPECT_TRUE(ListTree(dest.Path()).empty());
    }
    ASSERT_EQ(2u, ShownBoxes().size());
    EXPECT_EQ("malloc", ShownBoxes()[0].caption);
    EXPECT_FALSE(ShownBoxes()[0].owned);
}

TEST_F(ExtractTest, InterruptedStagingLeftoversNeitherBlockNorLoseAnything) {
    std::string staging = dest / kStagingFolderName;
    ASSERT_EQ(0, PlatformCreateFolder(staging.c_str()));
    ASSERT_TRUE(WriteFileBytes(staging + "\\00000000.new", ToBytes("stale")));
    Bytes entries;
    AppendFile(&entries, "a.dat", ToBytes("new"));
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kFullMode));
    EXPECT_EQ((std::vector<std::string>{"a.dat"}), ListTree(dest.Path()));

    // An original moved aside by a run that stopped part-way is kept, and the
    // next update works around it.
    ASSERT_EQ(0, PlatformCreateFolder(staging.c_str()));
    ASSERT_TRUE(WriteFileBytes(staging + "\\00000000.old", ToBytes("an original")));
    AppendFile(&entries, "b.dat", ToBytes("b"));
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kFullMode));
    std::string leftover = std::string(kStagingFolderName) + "\\00000000.old";
    EXPECT_EQ((std::vector<std::string>{std::string(kStagingFolderName) + "\\", leftover, "a.dat", "b.dat"}),
              ListTree(dest.Path()));
}

#ifndef _WIN32
// A journal this program cannot read is told as a restore that failed, naming
// the staging folder; Cancel ends the update (the caller ends with -1) and the
// folder stays as it was.
TEST_F(ExtractTest, ARefusedJournalIsToldAndNothingIsTouched) {
    std::string staging = dest / kStagingFolderName;
    ASSERT_EQ(0, PlatformCreateFolder(staging.c_str()));
    ASSERT_TRUE(WriteFileBytes(staging + "\\journal.txt", ToBytes("VORNEL staging journal 2\nE\n")));
    ASSERT_TRUE(WriteFileBytes(dest / "a.dat", ToBytes("old")));
    Tree before = Snapshot();
    Bytes entries;
    AppendFile(&entries, "a.dat", ToBytes("new"));
    ExtractResult result = ExtractAsRunningProgram(entries);
    EXPECT_EQ(kExtractCancelled, result);
    ASSERT_EQ(1u, ShownBoxes().size());
    EXPECT_NE(std::string::npos, ShownBoxes()[0].text.find(staging)) << ShownBoxes()[0].text;
    EXPECT_EQ(before, Snapshot());
}

// An update that stands but whose original cannot be deleted yet (held; here
// read-only, with no room to set it aside) is told as applied: the box names
// the file and where its original stays, and never says it was put back.
TEST_F(ExtractTest, AStandingUpdateWhoseOriginalStaysIsToldAsApplied) {
    std::string staging = dest / kStagingFolderName;
    std::string original = staging + "\\00000000.old";
    ASSERT_EQ(0, PlatformCreateFolder(staging.c_str()));
    ASSERT_TRUE(WriteFileBytes(staging + "\\journal.txt", ToBytes("VORNEL staging journal 1\nF 00000000 1 a.dat\nE\nC\n")));
    ASSERT_TRUE(WriteFileBytes(original, ToBytes("old")));
    ASSERT_EQ(0, PlatformSetAttributes(original.c_str(), kAttrReadOnly));
    ASSERT_EQ(0, PlatformCreateFolder((staging + "\\00000000.del").c_str()));
    ASSERT_TRUE(WriteFileBytes(dest / "a.dat", ToBytes("new")));
    Tree before = Snapshot();
    Bytes entries;
    AppendFile(&entries, "b.dat", ToBytes("next"));
    ExtractResult result = ExtractAsRunningProgram(entries);
    EXPECT_EQ(kExtractCancelled, result);
    ASSERT_EQ(1u, ShownBoxes().size());
    char expected[kMessageBuffer];
    snprintf(expected, sizeof(expected), kOriginalLeftMessage, (dest / "a.dat").c_str(), original.c_str());
    EXPECT_EQ(expected, ShownBoxes()[0].text);
    EXPECT_EQ(before, Snapshot());
    PlatformSetAttributes(original.c_str(), 0);
}
#endif

// A patch signed after packing: both walks read the package they would read
// unsigned, with the same files, times and progress reports.
TEST_F(ExtractTest, SignedProgramFileWalksAsUnsigned) {
    SetExtractWorkers(1);  // block by block, as a walk in order reports
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR x\r\n"));
    AppendFolder(&entries, "data\\");
    AppendFolder(&entries, "data\\sub\\");
    AppendFile(&entries, "data\\sub\\voice.arc", Pattern(3 * kTransferBlock + 5, 3));
    const Bytes plain = MakeProgramFile(MakeImage(kImagePe32Plus, 4000), entries);
    const Bytes signedFile = SignLikeATool(plain, 2048);
    ASSERT_NE(0u, plain.size() % kCertificateAlignment) << "the signing must add padding";
    std::vector<ProgressLog> logs(2);
    std::vector<Tree> trees;
    for (const Bytes* file : {&plain, &signedFile}) {
        ProgressLog& log = logs[trees.size()];
        ProgressSink sink{LogBegin, LogReport, &log};
        RemoveTree(dest.Path());
        ASSERT_EQ(0, PlatformCreateFolder(dest.Path().c_str()));
        ASSERT_EQ(kPackageOk, Walk(*file, kFullMode, &sink));
        trees.push_back(Snapshot());
        RemoveTree(dest.Path());
        ASSERT_EQ(0, PlatformCreateFolder(dest.Path().c_str()));
        ASSERT_EQ(kPackageOk, Walk(*file, kBootMode));
        EXPECT_EQ((std::vector<std::string>{"install.env"}), ListTree(dest.Path()));
    }
    EXPECT_TRUE(trees[0] == trees[1]);
    EXPECT_EQ(Pattern(3 * kTransferBlock + 5, 3), trees[1]["data\\sub\\voice.arc"].first);
    EXPECT_EQ(logs[0].files, logs[1].files);
    EXPECT_EQ(logs[0].reports, logs[1].reports);
    // install.env once at its end; voice.arc after each full block and at its end.
    EXPECT_EQ(5u, logs[1].reports.size());
}

}  // namespace
