#include "package/Extract.h"

#include <gtest/gtest.h>
#include <zlib.h>

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

struct ProgressLog {
    std::vector<std::string> files;
    std::vector<std::pair<int64_t, int64_t>> reports;
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

    int Walk(const Bytes& programFile, int mode, const ProgressSink* sink = nullptr) {
        return WalkInto(dest.Path(), programFile, mode, sink);
    }
    int WalkInto(const std::string& destination, const Bytes& programFile, int mode,
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
    Bytes entries;
    AppendFile(&entries, "two.dat", Bytes(2 * kTransferBlock, 'x'));
    AppendFile(&entries, "more.dat", Bytes(kTransferBlock + 1, 'y'));
    AppendFile(&entries, "zero.dat", {});
    ProgressLog log;
    ProgressSink sink{LogBegin, LogReport, &log};
    ASSERT_EQ(kPackageOk, Walk(MakeProgramFile({}, entries), kFullMode, &sink));
    EXPECT_EQ((std::vector<std::string>{dest / "two.dat", dest / "more.dat", dest / "zero.dat"}), log.files);
    // Two full blocks, no report at the end; one full block and the partial end.
    ASSERT_EQ(4u, log.reports.size());
    EXPECT_EQ(int64_t(kTransferBlock), log.reports[0].first);
    EXPECT_EQ(int64_t(2 * kTransferBlock), log.reports[1].first);
    EXPECT_EQ(int64_t(kTransferBlock), log.reports[2].first);
    EXPECT_EQ(int64_t(kTransferBlock + 1), log.reports[3].first);
    // Consumed grows, and never counts more than the package holds.
    for (size_t i = 1; i < log.reports.size(); ++i)
        EXPECT_LE(log.reports[i - 1].second, log.reports[i].second);
    EXPECT_LE(log.reports.back().second, int64_t(entries.size()));
}

struct Damage {
    const char* what;
    Bytes entries;
    int expected;
};

std::vector<Damage> DamagedPackages() {
    std::vector<Damage> cases;
    Bytes good = Deflate(ToBytes("hello"));
    auto name = [](const std::string& s) {
        Bytes b = ToBytes(s);
        b.push_back(0);
        return b;
    };
    Bytes e;
    AppendRawFile(&e, name("..\\evil.dat"), 5, good.size(), 0, good);
    cases.push_back({"name leaves the destination", e, kPackageBadName});
    e.clear();
    AppendRawFile(&e, name("C:\\evil.dat"), 5, good.size(), 0, good);
    cases.push_back({"name with a drive", e, kPackageBadName});
    e.clear();
    AppendRawFile(&e, name(""), 5, good.size(), 0, good);
    cases.push_back({"empty name", e, kPackageBadName});
    e.clear();
    AppendRawFile(&e, ToBytes("noterm"), 5, good.size(), 0, good);
    cases.push_back({"name without terminator", e, kPackageBadName});
    e.clear();
    AppendRawFile(&e, name(std::string(270, 'a')), 5, good.size(), 0, good);
    cases.push_back({"name over 260 bytes", e, kPackageBadName});
    e.clear();
    AppendRawFile(&e, name(std::string(250, 'a')), 5, good.size(), 0, good);
    cases.push_back({"destination path over 259 bytes", e, kPackagePathTooLong});
    e.clear();
    Bytes badSum = good;
    badSum.back() ^= 0x55;
    AppendRawFile(&e, name("a.dat"), 5, badSum.size(), 0, badSum);
    cases.push_back({"wrong checksum", e, kPackageCorruptStream});
    e.clear();
    Bytes garbage = ToBytes("this is not a zlib stream");
    AppendRawFile(&e, name("a.dat"), 5, garbage.size(), 0, garbage);
    cases.push_back({"not a zlib stream", e, kPackageCorruptStream});
    e.clear();
    Bytes cut(good.begin(), good.end() - 3);
    AppendRawFile(&e, name("a.dat"), 5, cut.size(), 0, cut);
    cases.push_back({"stream cut short", e, kPackageTruncated});
    e.clear();
    Bytes padded = good;
    padded.push_back(0);
    AppendRawFile(&e, name("a.dat"), 5, padded.size(), 0, padded);
    cases.push_back({"stream ends before its packed size", e, kPackageCorruptStream});
    e.clear();
    AppendRawFile(&e, name("a.dat"), 5, 1000, 0, good);
    cases.push_back({"packed size beyond the stream", e, kPackageCorruptStream});

    return cases;
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
        EXPECT_EQ(inOrder.reports.back().second, log.reports.back().second) << "ends full, " << workers;
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

TEST_F(ExtractTest, DamagedPackagesLeaveTheDestinationUntouched) {
    ASSERT_TRUE(WriteFileBytes(dest / "first.dat", ToBytes("original")));
    ASSERT_EQ(0, PlatformSetFileTime((dest / "first.dat").c_str(), kTestFileTime));
    Tree before = Snapshot();
    for (const Damage& d : DamagedPackages()) {
        // A good entry and a new folder come first, so that the failure is met part-way.
        Bytes entries;
        AppendFile(&entries, "first.dat", ToBytes("replacement"));
        AppendFolder(&entries, "newfolder\\");
        entries.insert(entries.end(), d.entries.begin(), d.entries.end());
        EXPECT_EQ(d.expected, Walk(MakeProgramFile(ToBytes("MZ"), entries), kFullMode)) << d.what;
        EXPECT_EQ(before, Snapshot()) << d.what;
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
