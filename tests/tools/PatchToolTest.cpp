// The makers' tool: packing a folder and reading the result back with the
// tool's list and verify and with the updater's own walk, every refusal, and
// verify finding damage. Names in the source folders are native UTF-8; string
// literals here are Shift-JIS (the build compiles them to code page 932), u8
// literals are what the terminal and the native file system see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "picture/RctEncoder.h"
#include "picture/RctFormat.h"
#include "services/Platform.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/CapturedOutput.h"
#include "tools/InspectCommands.h"
#include "tools/PackCommand.h"
#include "tools/PackageCursor.h"
#include "tools/ProgressLine.h"
#include "tools/ToolText.h"

namespace {

// Distinct last-write times, so that a time given to the wrong file shows.
constexpr uint64_t kTimeA = 132593079670000000ULL;  // 2021-03-04 05:06:07 UTC
constexpr uint64_t kTimeB = 133536836960000000ULL;  // 2024-02-29 12:34:56 UTC
constexpr uint64_t kTimeC = 116444736000000000ULL;  // 1970-01-01 00:00:00 UTC
// Bigger than two transfer blocks, so streams cross block boundaries.
constexpr size_t kLargeFile = 300000;
// Bytes of the test's updater image: its headers and one section.
constexpr size_t kImageSize = kImageHeaderSize + 0x1200;

Bytes PseudoRandom(size_t size, uint32_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

Bytes Repeated(const std::string& text, size_t count) {
    std::string all;
    for (size_t i = 0; i < count; ++i) all += text;
    return ToBytes(all);
}

// Writes bytes (possibly none) to a Shift-JIS path; false on failure.
bool StoreBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = PlatformOpenFile(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

std::string NativePath(const std::string& sjis) {
    std::string utf8;
    EXPECT_TRUE(SjisToUtf8(sjis.c_str(), &utf8));
    for (char& c : utf8)
        if (c == '\\') c = '/';
    return utf8;
}

struct SourceFile {
    std::string name;  // Shift-JIS
    Bytes content;
    uint64_t fileTime;
};

class PatchToolTest : public ::testing::Test {
public:
    TempFolder root_;
    std::string source_ = root_ / "src";
    std::string image_ = root_ / "updater.exe";
    std::string output_ = root_ / "out.exe";
    std::vector<SourceFile> files_;

    void SetUp() override {
        ASSERT_EQ(0, PlatformCreateFolder(source_.c_str()));
        ASSERT_TRUE(StoreBytes(image_, MakeUpdaterImage(kImagePe32Plus, kImageSize - kImageHeaderSize)));
        AddFolder("data");
        AddFolder("data\\表");
        AddFile("install.env", ToBytes("INSTTITLE\tgame\r\n"), kTimeA);
        AddFile("readme.txt", Repeated("read me\r\n", 50), kTimeB);
        AddFile("insttscr.rct", TinyRctPicture(), kTimeC);
        AddFile("ソ表.dat", PseudoRandom(kLargeFile, 7), kTimeC);
        AddFile("game.bin", Repeated("level data ", 30000), kTimeA);
        AddFile("data\\big.bin", PseudoRandom(kLargeFile + 17, 11), kTimeB);
        AddFile("data\\empty.bin", Bytes(), kTimeC);
        AddFile("data\\表\\sub.bin", ToBytes("inner"), kTimeA);
    }

    void AddFolder(const std::string& name) { ASSERT_EQ(0, PlatformCreateFolder((source_ + "\\" + name).c_str())); }

    void AddFile(const std::string& name, const Bytes& content, uint64_t fileTime) {
        std::string path = source_ + "\\" + name;
        ASSERT_TRUE(StoreBytes(path, content)) << name;
        ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), fileTime));
        files_.push_back(SourceFile{name, content, fileTime});
    }

    PackRequest Request() const { return PackRequest{image_, output_, source_, "", kDefaultPackLevel, kPackLimit, nullptr}; }

    int Pack(PackReport* report) { return PackUpdater(Request(), report); }

    // Every file of files_ is at folder with its bytes and its time.
    void ExpectFilesIn(const std::string& folder) {
        for (const SourceFile& f : files_) {
            Bytes got;
            std::string path = folder + "\\" + f.name;
            ASSERT_TRUE(ReadFileBytes(path, &got)) << PrintableName(f.name.c_str());
            EXPECT_TRUE(got == f.content) << PrintableName(f.name.c_str());
            uint64_t time = 0;
            ASSERT_EQ(0, PlatformGetFileTime(path.c_str(), &time));
            EXPECT_EQ(f.fileTime, time) << PrintableName(f.name.c_str());
        }
    }
};

TEST_F(PatchToolTest, PackedFolderListsInBootOrderAndComesBackWhole) {
    PackReport report;
    ASSERT_EQ(kPackDone, Pack(&report)) << DescribePackReport(report);
    EXPECT_EQ(8, report.files);
    EXPECT_EQ(2, report.folders);
    EXPECT_EQ(-1, report.replacedEntries);

    // The source name is native UTF-8 on disk, and the image leads the output.
    struct stat st;
    EXPECT_EQ(0, stat((NativePath(source_) + u8"/ソ表.dat").c_str(), &st));
    Bytes out, image;
    ASSERT_TRUE(ReadFileBytes(output_, &out));
    ASSERT_TRUE(ReadFileBytes(image_, &image));
    ASSERT_GT(out.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), out.begin()));
    EXPECT_EQ(static_cast<int64_t>(out.size() - image.size()), report.packageBytes);

    std::vector<ListedEntry> listing;
    std::string problem;
    ASSERT_TRUE(ReadListing(output_.c_str(), &listing, &problem)) << problem;
    const std::vector<std::string> expected = {"install.env",     "insttscr.rct", "readme.txt",          "data\\",
                                               "data\\表\\",      "data\\big.bin",      "data\\empty.bin",
                                               "data\\表\\sub.bin", "game.bin",            "ソ表.dat"};
    ASSERT_EQ(expected.size(), listing.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], listing[i].name) << i;
    for (const ListedEntry& e : listing) {
        if (e.isFolder) continue;
        bool found = false;
        for (const SourceFile& f : files_) {
            if (f.name != e.name) continue;
            found = true;
            EXPECT_EQ(static_cast<int32_t>(f.content.size()), e.unpackedSize);
            EXPECT_EQ(f.fileTime, e.fileTime);
        }
        EXPECT_TRUE(found) << e.name;
    }

    VerifyReport verify;
    ASSERT_TRUE(VerifyPackage(output_.c_str(), &verify)) << verify.reason;
    int64_t total = 0;
    for (const SourceFile& f : files_) total += static_cast<int64_t>(f.content.size());
    EXPECT_EQ(10, verify.entries);
    EXPECT_EQ(total, verify.bytes);

    std::string destination = root_ / "dest";
    FILE* sink = tmpfile();
    ASSERT_EQ(0, ExtractCommand(output_.c_str(), destination.c_str(), sink, sink)) << ReadAll(sink);
    fclose(sink);
    ExpectFilesIn(destination);
    EXPECT_TRUE(IsFolder(destination + "\\data\\表"));
    EXPECT_FALSE(Exists(destination + "\\" + kStagingFolderName));

    // Boot mode reads only the top of the package: both start-up files, nothing else.
    std::string working = root_ / "work";
    ASSERT_EQ(0, PlatformCreateFolder(working.c_str()));
    PackageStream package;
    ASSERT_EQ(kPackageOk, OpenPackageStream(output_.c_str(), &package));
    EXPECT_EQ(kPackageOk, WalkPackage(&package, working.c_str(), kBootMode, nullptr));
    ClosePackageStream(&package);
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct", "readme.txt"}), ListFolder(working));

    // With the folders ahead of the files, the Boot walk ends at the nested
    // folder before it reaches any other file: a ruined header is never read.
    std::string all(out.begin(), out.end());
    size_t name = all.find(std::string("data\\big.bin") + '\0');
    ASSERT_NE(std::string::npos, name);
    Bytes ruined = out;
    ruined[name - 2] = 0xFF;
    ruined[name - 1] = 0xFF;
    std::string ruinedPath = root_ / "ruined.exe";
    ASSERT_TRUE(StoreBytes(ruinedPath, ruined));
    std::string working2 = root_ / "work2";
    ASSERT_EQ(0, PlatformCreateFolder(working2.c_str()));
    ASSERT_EQ(kPackageOk, OpenPackageStream(ruinedPath.c_str(), &package));
    EXPECT_EQ(kPackageOk, WalkPackage(&package, working2.c_str(), kBootMode, nullptr));
    ClosePackageStream(&package);
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct", "readme.txt"}), ListFolder(working2));

    EXPECT_FALSE(Exists(output_ + ".partial"));
}

uint32_t s_fakeTick = 0;
// Every reading a second later: each step of the work draws the line.
uint32_t SecondPerReading() { return s_fakeTick += 1000; }

// The last state a progress stream showed, and whether it was wiped after it.
std::string LastProgress(const std::string& shown, bool* wiped) {
    size_t last = shown.rfind("\r", shown.size() >= 2 ? shown.size() - 2 : 0);
    *wiped = !shown.empty() && shown.back() == '\r' && shown.find_first_not_of(" \r", last) == std::string::npos;
    size_t from = shown.rfind('\r', last == std::string::npos || last == 0 ? 0 : last - 1);
    return last == std::string::npos || from == std::string::npos ? "" : shown.substr(from + 1, last - from - 1);
}

// Compressing on several threads gives the bytes of a pack on one: small
// files come compressed ahead, one over the ahead limit is streamed between
// them by the writer, and Japanese names and an empty file are among them.
TEST_F(PatchToolTest, PackOnSeveralThreadsWritesTheSameBytes) {
    AddFile("data\\huge.bin", PseudoRandom((9 << 20) + 3, 5), kTimeC);
    for (int i = 0; i < 30; ++i) AddFile("data\\表\\s" + std::to_string(i) + ".bin", PseudoRandom(i * 999, i), kTimeA);
    Bytes expected;
    for (unsigned workers : {1u, 2u, 4u}) {
        PackRequest request = Request();
        request.workers = workers;
        PackReport report;
        ASSERT_EQ(kPackDone, PackUpdater(request, &report)) << DescribePackReport(report);
        Bytes packed;
        ASSERT_TRUE(ReadFileBytes(output_, &packed));
        if (workers == 1) expected = packed;
        else EXPECT_TRUE(packed == expected) << workers << " threads";
    }
}

TEST_F(PatchToolTest, PackAndExtractShowProgressOnTheirStreamAndWipeIt) {
    SetProgressClockForTesting(SecondPerReading);
    int64_t total = 0;
    for (const SourceFile& f : files_) total += static_cast<int64_t>(f.content.size());
    char totals[64];
    snprintf(totals, sizeof(totals), "8/8 files  %.1f/%.1f KiB", total / 1024.0, total / 1024.0);

    PackRequest request = Request();
    request.progress = tmpfile();
    PackReport report;
    ASSERT_EQ(kPackDone, PackUpdater(request, &report)) << DescribePackReport(report);
    bool wiped = false;
    std::string shown = ReadAll(request.progress);
    EXPECT_EQ(0u, LastProgress(shown, &wiped).find(std::string("packing  ") + totals)) << shown;
    EXPECT_TRUE(wiped) << shown;
    EXPECT_NE(std::string::npos, shown.find("packing  3/8 files")) << "one step per file: " << shown;
    fclose(request.progress);

    FILE* progress = tmpfile();
    FILE* sink = tmpfile();
    ASSERT_EQ(0, ExtractCommand(output_.c_str(), (root_ / "dest").c_str(), sink, sink, progress));
    EXPECT_EQ(std::string::npos, ReadAll(sink).find('\r')) << "the progress line stays off the output";
    shown = ReadAll(progress);
    EXPECT_EQ(0u, LastProgress(shown, &wiped).find(std::string("extracting  ") + totals)) << shown;
    EXPECT_TRUE(wiped) << shown;
    fclose(progress);
    fclose(sink);
    ExpectFilesIn(root_ / "dest");
    SetProgressClockForTesting(nullptr);
}

TEST_F(PatchToolTest, ListLinesShowKindSizesUtcTimeAndUtf8Name) {
    PackReport report;
    ASSERT_EQ(kPackDone, Pack(&report)) << DescribePackReport(report);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ASSERT_EQ(0, ListCommand(output_.c_str(), out, err));
    std::string text = ReadAll(out);
    EXPECT_EQ("", ReadAll(err));
    fclose(out);
    fclose(err);

    std::vector<std::string> lines;
    for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    ASSERT_EQ(10u, lines.size());
    EXPECT_EQ(0u, lines[0].find("file")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" 2021-03-04 05:06:07  install.env")) << lines[0];
    EXPECT_EQ(0u, lines[3].find("dir")) << lines[3];
    EXPECT_NE(std::string::npos, lines[3].find(" data\\")) << lines[3];
    EXPECT_EQ(0u, lines[4].find("dir")) << lines[4];
    EXPECT_NE(std::string::npos, lines[4].find(u8"data\\表\\")) << lines[4];
    EXPECT_NE(std::string::npos, lines[9].find(" 300000 ")) << lines[9];
    EXPECT_NE(std::string::npos, lines[9].find(u8" 1970-01-01 00:00:00  ソ表.dat")) << lines[9];

    const struct {
        uint64_t fileTime;
        const char* text;
    } times[] = {
        {0, "1601-01-01 00:00:00"},
        {kTimeC, "1970-01-01 00:00:00"},
        {kTimeC - 10000000, "1969-12-31 23:59:59"},
        {kTimeA, "2021-03-04 05:06:07"},
        {kTimeB, "2024-02-29 12:34:56"},
        {kTimeB + 86400ULL * 10000000, "2024-03-01 12:34:56"},
    };
    for (const auto& t : times) EXPECT_EQ(t.text, FormatFileTime(t.fileTime)) << t.text;

    FILE* none = tmpfile();
    EXPECT_EQ(1, ListCommand(image_.c_str(), none, none));
    EXPECT_NE(std::string::npos, ReadAll(none).find("no package")) ;
    fclose(none);
}

// list --json for makers' scripts: each entry's name as UTF-8 and as its
// Shift-JIS bytes, and the SHA-256 of the unpacked file, so that a script
// can check what ships without unpacking it.
TEST_F(PatchToolTest, ListJsonGivesEachEntryItsNameBytesAndTheHashOfItsUnpackedFile) {
    PackReport report;
    ASSERT_EQ(kPackDone, Pack(&report)) << DescribePackReport(report);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ASSERT_EQ(0, ListJsonCommand(output_.c_str(), out, err)) << ReadAll(err);
    std::string json = ReadAll(out);
    fclose(out);
    fclose(err);
    auto hex = [](const uint8_t* bytes, size_t size) {
        std::string text;
        char two[3];
        for (size_t i = 0; i < size; ++i) {
            snprintf(two, sizeof(two), "%02x", bytes[i]);
            text += two;
        }
        return text;
    };
    EXPECT_EQ(0u, json.find("[\n{")) << json;
    EXPECT_EQ(json.size() - 4, json.rfind("}\n]\n")) << json;
    for (const SourceFile& f : files_) {
        SCOPED_TRACE(PrintableName(f.name.c_str()));
        uint8_t digest[kSha256Bytes];
        ASSERT_EQ(0, PlatformSha256(f.content.data(), f.content.size(), digest));
        std::string utf8 = PrintableName(f.name.c_str());
        std::string escaped;
        for (char c : utf8) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        std::string object = "\"name\": \"" + escaped + "\", \"nameBytes\": \"" +
                             hex(reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size()) + "\", \"sha256\": \"" +
                             hex(digest, sizeof(digest)) + "\"}";
        EXPECT_NE(std::string::npos, json.find(object)) << object << "\n" << json;
        char sizes[64];
        snprintf(sizes, sizeof(sizes), "{\"kind\": \"file\", \"size\": %u, ", static_cast<unsigned>(f.content.size()));
        size_t line = json.rfind('\n', json.find(object));
        EXPECT_EQ(line + 1, json.find(sizes, line)) << json;
    }
    EXPECT_NE(std::string::npos, json.find(u8"{\"kind\": \"folder\", \"name\": \"data\\\\表\\\\\""));
    EXPECT_NE(std::string::npos, json.find("\"time\": \"2021-03-04T05:06:07Z\""));

    // A damaged package: the entries before the damage, still a JSON array, and exit 1.
    Bytes damaged;
    ASSERT_TRUE(ReadFileBytes(output_, &damaged));
    std::string all(damaged.begin(), damaged.end());
    size_t name = all.find(std::string("game.bin") + '\0');
    ASSERT_NE(std::string::npos, name);
    damaged[name + 30] ^= 0xFF;
    ASSERT_TRUE(StoreBytes(root_ / "damaged.exe", damaged));
    out = tmpfile();
    err = tmpfile();
    EXPECT_EQ(1, ListJsonCommand((root_ / "damaged.exe").c_str(), out, err));
    json = ReadAll(out);
    EXPECT_EQ(json.size() - 2, json.rfind("]\n")) << json;
    EXPECT_EQ(std::string::npos, json.find("game.bin")) << json;
    EXPECT_NE(std::string::npos, ReadAll(err).find("game.bin"));
    fclose(out);
    fclose(err);
}

TEST_F(PatchToolTest, ListFilePacksNamedPathsWithTheirParents) {
    std::string list = root_ / "list.txt";
    ASSERT_TRUE(StoreBytes(list, ToBytes(std::string(u8"\xEF\xBB\xBFinstall.env\r\n\r\ndata/表/\r\nソ表.dat\ninstall.env\ninsttscr.rct\n"))));
    PackRequest request = Request();
    request.listFile = list;
    PackReport report;
    ASSERT_EQ(kPackDone, PackUpdater(request, &report)) << DescribePackReport(report);
    std::vector<ListedEntry> listing;
    std::string problem;
    ASSERT_TRUE(ReadListing(output_.c_str(), &listing, &problem)) << problem;
    std::vector<std::string> names;
    for (const ListedEntry& e : listing) names.push_back(e.name);
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct", "data\\", "data\\表\\", "data\\表\\sub.bin", "ソ表.dat"}), names);
}

TEST_F(PatchToolTest, RepackReplacesThePackageTheImageCarried) {
    PackReport first;
    ASSERT_EQ(kPackDone, Pack(&first));
    Bytes once;
    ASSERT_TRUE(ReadFileBytes(output_, &once));
    PackRequest again = Request();
    again.updater = output_;
    again.output = root_ / "again.exe";
    PackReport second;
    ASSERT_EQ(kPackDone, PackUpdater(again, &second)) << DescribePackReport(second);
    EXPECT_EQ(10, second.replacedEntries);
    EXPECT_EQ(static_cast<int64_t>(kImageSize), second.imageBytes);
    Bytes twice;
    ASSERT_TRUE(ReadFileBytes(again.output, &twice));
    EXPECT_TRUE(once == twice);

    // An image whose last bytes only look like a trailer keeps every byte.
    Bytes fake = MakeUpdaterImage(kImagePe32Plus, kImageSize - kImageHeaderSize);
    fake.insert(fake.end(), {0x10, 0, 0, 0});
    ASSERT_TRUE(StoreBytes(image_, fake));
    PackReport third;
    ASSERT_EQ(kPackDone, Pack(&third));
    EXPECT_EQ(-1, third.replacedEntries);
    EXPECT_EQ(static_cast<int64_t>(fake.size()), third.imageBytes);
}

TEST_F(PatchToolTest, RefusesWhatTheUpdaterWouldRejectOrMishandle) {
    std::string longFolder(120, 'd');
    struct Case {
        const char* description;
        std::function<void(PatchToolTest*, PackRequest*)> prepare;
        int refusal;
        std::string entry;  // UTF-8
    };
    const Case cases[] = {
        {"device name", [](PatchToolTest* t, PackRequest*) { t->AddFile("data\\con.bin", Bytes(1), kTimeA); },
         kPackBadName, "data\\con.bin"},
        {"trailing dot", [](PatchToolTest* t, PackRequest*) { t->AddFile("data\\end.", Bytes(1), kTimeA); },
         kPackBadName, "data\\end."},
        {"trailing space on a folder", [](PatchToolTest* t, PackRequest*) { t->AddFolder("space "); },
         kPackBadName, "space \\"},
        {"forbidden character", [](PatchToolTest* t, PackRequest*) { t->AddFile("what?.bin", Bytes(1), kTimeA); },
         kPackBadName, "what?.bin"},
        {"name over 259 bytes",
         [&](PatchToolTest* t, PackRequest*) {
             t->AddFolder(longFolder);
             t->AddFolder(longFolder + "\\" + longFolder);
             t->AddFile(longFolder + "\\" + longFolder + "\\" + std::string(20, 'f'), Bytes(1), kTimeA);
         },
         kPackBadName, longFolder + "\\" + longFolder + "\\" + std::string(20, 'f')},
        {"staging folder name", [](PatchToolTest* t, PackRequest*) { t->AddFolder("tempgpupdatestaging"); },
         kPackReservedName, "tempgpupdatestaging"},
        {"a second staging folder's name, which the updater also reserves",
         [](PatchToolTest* t, PackRequest*) { t->AddFolder("TempGPUpdateStaging_2"); }, kPackReservedName,
         "TempGPUpdateStaging_2"},
        {"names differing in case", [](PatchToolTest* t, PackRequest*) { t->AddFile("Game.bin", Bytes(1), kTimeA); },
         kPackCaseClash, "Game.bin"},
        {"file and folder differing in case",
         [](PatchToolTest* t, PackRequest*) { t->AddFile("DATA", Bytes(1), kTimeA); },
         kPackCaseClash, "DATA"},
        {"start-up file in a folder",
         [](PatchToolTest* t, PackRequest*) { t->AddFile("data\\notes.TXT", Bytes(1), kTimeA); },
         kPackStartupInFolder, "data\\notes.TXT"},
        {"file under a folder named like a start-up file",
         [](PatchToolTest* t, PackRequest*) {
             t->AddFolder("docs.txt");
             t->AddFile("docs.txt\\a.bin", Bytes(1), kTimeA);
         },
         kPackStartupInFolder, "docs.txt\\a.bin"},
        {"no install.env",
         [](PatchToolTest* t, PackRequest*) { PlatformDeleteFile((t->source_ + "\\install.env").c_str()); },
         kPackNoInstallEnv, "install.env"},
        {"install.env only under another name",
         [](PatchToolTest* t, PackRequest*) {
             PlatformMoveFile((t->source_ + "\\install.env").c_str(), (t->source_ + "\\install.env.bak").c_str());
         },
         kPackNoInstallEnv, "install.env"},
        {"package beyond the limit",
         [](PatchToolTest*, PackRequest* r) { r->packageLimit = 2 * kLargeFile; }, kPackPackageTooLarge, u8"ソ表.dat"},
        {"list line naming nothing",
         [](PatchToolTest* t, PackRequest* r) {
             r->listFile = t->root_ / "list.txt";
             StoreBytes(r->listFile, ToBytes("install.env\nmissing.bin\n"));
         },
         kPackBadListLine, "line 2: missing.bin"},
        {"list line that is not UTF-8",
         [](PatchToolTest* t, PackRequest* r) {
             r->listFile = t->root_ / "list.txt";
             StoreBytes(r->listFile, ToBytes("install.env\n\xFF\xFE.bin\n"));
         },
         kPackBadListLine, "line 2: \xFF\xFE.bin"},
        {"a listed path outside the source, once said to end in a dot",
         [](PatchToolTest* t, PackRequest* r) {
             r->listFile = t->root_ / "list.txt";
             StoreBytes(r->listFile, ToBytes("install.env\ninsttscr.rct\n../updater.exe\n"));
         },
         kPackBadListLine, "line 3: ..\\updater.exe"},
        {"a listed path from the root of the drive",
         [](PatchToolTest* t, PackRequest* r) {
             r->listFile = t->root_ / "list.txt";
             StoreBytes(r->listFile, ToBytes("install.env\ninsttscr.rct\n/etc/passwd\n"));
         },
         kPackBadListLine, "line 3: \\etc\\passwd"},
        {"install.env left out of the list, said as missing from the folder",
         [](PatchToolTest* t, PackRequest* r) {
             r->listFile = t->root_ / "list.txt";
             StoreBytes(r->listFile, ToBytes("insttscr.rct\ngame.bin\n"));
         },
         kPackNoInstallEnv, "install.env"},
        {"missing image", [](PatchToolTest* t, PackRequest* r) { r->updater = t->root_ / "none.exe"; },
         kPackCannotReadImage, ""},
        {"the output of an earlier run inside the source: the new patch carries the old one",
         [](PatchToolTest* t, PackRequest* r) {
             PackReport first;
             r->output = t->source_ + "\\data\\patch.exe";
             ASSERT_EQ(kPackDone, PackUpdater(*r, &first)) << DescribePackReport(first);
             r->output = t->output_;
         },
         kPackSourceHoldsPatch, "data\\patch.exe"},
        {"no background picture: every player's updater stops at start",
         [](PatchToolTest* t, PackRequest*) { PlatformDeleteFile((t->source_ + "\\insttscr.rct").c_str()); },
         kPackNoPicture, "insttscr.rct"},
        {"a text file as the updater image: the output is no program",
         [](PatchToolTest* t, PackRequest*) { StoreBytes(t->image_, Repeated("MZ text ", 700)); },
         kPackNotTheUpdater, ""},
        {"a Linux program as the updater image",
         [](PatchToolTest* t, PackRequest*) { StoreBytes(t->image_, ToBytes("\x7F" "ELF\x02\x01\x01" + std::string(4000, '\0'))); },
         kPackNotTheUpdater, ""},
        {"another Windows program as the updater image: it never reads the package",
         [](PatchToolTest* t, PackRequest*) { StoreBytes(t->image_, MakeImage(kImagePe32, 0x1000)); },
         kPackNotTheUpdater, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        TearDown();
        RemoveTree(root_.Path());
        files_.clear();
        ASSERT_EQ(0, PlatformCreateFolder(root_.Path().c_str()));
        SetUp();
        ASSERT_TRUE(StoreBytes(output_, ToBytes("previous")));
        PackRequest request = Request();
        c.prepare(this, &request);
        PackReport report;
        EXPECT_EQ(c.refusal, PackUpdater(request, &report)) << DescribePackReport(report);
        if (!c.entry.empty()) {
            EXPECT_EQ(c.entry, report.entry);
        }
        EXPECT_FALSE(DescribePackReport(report).empty());
        if (!request.listFile.empty() && c.refusal == kPackNoInstallEnv) {
            EXPECT_NE(std::string::npos, DescribePackReport(report).find("the list file does not name it"));
        }
        // A refused pack leaves the old output as it was and no partial file.
        Bytes kept;
        ASSERT_TRUE(ReadFileBytes(output_, &kept));
        EXPECT_EQ("previous", std::string(kept.begin(), kept.end()));
        EXPECT_FALSE(Exists(output_ + ".partial"));
    }
}

TEST_F(PatchToolTest, RefusesNamesWithoutAnExactShiftJisForm) {
    const struct {
        const char* description;
        const char* utf8Name;
    } cases[] = {
        {"Hangul has no Shift-JIS form", u8"한국.bin"},
        {"a wave dash comes back as a full-width tilde", u8"a〜b.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::string native = NativePath(source_) + "/data/" + c.utf8Name;
        FILE* file = fopen(native.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        fclose(file);
        PackReport report;
        EXPECT_EQ(kPackNoShiftJis, Pack(&report)) << DescribePackReport(report);
        EXPECT_EQ(std::string(u8"data\\") + c.utf8Name, report.entry);
        unlink(native.c_str());
    }
    PackReport report;
    EXPECT_EQ(kPackDone, Pack(&report)) << DescribePackReport(report);
}

TEST_F(PatchToolTest, RefusesAFileOfTwoGibibytes) {
    // A sparse file: the size is refused before a byte of it is read.
    std::string native = NativePath(source_) + "/huge.bin";
    FILE* file = fopen(native.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(0, ftruncate(fileno(file), static_cast<off_t>(kPackLimit) + 1));
    fclose(file);
    PackReport report;
    EXPECT_EQ(kPackFileTooLarge, Pack(&report)) << DescribePackReport(report);
    EXPECT_EQ("huge.bin", report.entry);
    EXPECT_FALSE(Exists(output_));
}

TEST_F(PatchToolTest, SaysThatTheStoredStreamAndNotTheFilePassesTheLimit) {
    // data\\big.bin fits the limit by 3 bytes; level 0 adds a block header per 64 KiB.
    PackRequest request = Request();
    request.packageLimit = kLargeFile + 20;
    request.level = 0;
    PackReport report;
    EXPECT_EQ(kPackStreamTooLarge, PackUpdater(request, &report)) << DescribePackReport(report);
    EXPECT_EQ("data\\big.bin", report.entry);
    std::string said = DescribePackReport(report);
    EXPECT_EQ(std::string::npos, said.find("2 GiB or more")) << said;
    EXPECT_NE(std::string::npos, said.find("--level 1 or above")) << said;
    EXPECT_FALSE(Exists(output_ + ".partial"));
    // At level 9 the same limit is no obstacle for the file itself.
    request.level = 9;
    request.packageLimit = 4 * kLargeFile;
    EXPECT_EQ(kPackDone, PackUpdater(request, &report)) << DescribePackReport(report);
}

// A write that fails is said with the file and the cause, never as a bare
// "cannot be created or written".
TEST_F(PatchToolTest, WriteFailuresNameThePathAndTheCause) {
    const struct {
        const char* fault;
        std::function<void(PatchToolTest*)> prepare;
        bool extract;       // extract the packed patch instead of packing
        std::string says;   // UTF-8, part of the message
    } cases[] = {
        {"a full disk not called that",
         [](PatchToolTest* t) {
             ASSERT_EQ(0, symlink("/dev/full", (NativePath(t->output_) + ".partial").c_str()));
         },
         false, ".partial: the disk is full"},
        {"a folder in the way of the output not named",
         [](PatchToolTest* t) { ASSERT_EQ(0, PlatformCreateFolder((t->output_ + ".partial").c_str())); }, false,
         ".partial: a folder is in the way"},
        {"a folder in the way of an extracted file not named",
         [](PatchToolTest* t) {
             ASSERT_EQ(0, PlatformCreateFolder((t->root_ / "dest").c_str()));
             ASSERT_EQ(0, PlatformCreateFolder((t->root_ / "dest\\game.bin").c_str()));
         },
         true, "game.bin: a folder is in the way"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        TearDown();
        RemoveTree(root_.Path());
        files_.clear();
        ASSERT_EQ(0, PlatformCreateFolder(root_.Path().c_str()));
        SetUp();
        if (c.extract) {
            PackReport report;
            ASSERT_EQ(kPackDone, Pack(&report)) << DescribePackReport(report);
        }
        c.prepare(this);
        FILE* out = tmpfile();
        int code = c.extract ? ExtractCommand(output_.c_str(), (root_ / "dest").c_str(), out, out)
                             : PackCommand(Request(), out, out);
        std::string said = ReadAll(out);
        fclose(out);
        EXPECT_EQ(1, code);
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        EXPECT_EQ(std::string::npos, said.find("cannot be created or written")) << said;
    }
}

TEST(PatchToolNames, ExplainsEveryRefusedName) {
    const struct {
        const char* name;
        bool isFolder;
        const char* reason;  // part of the explanation; null when accepted
    } cases[] = {
        {"data\\a.bin", false, nullptr},
        {"data\\", true, nullptr},
        {"表\\ソ.txt", false, nullptr},
        {"", false, "empty"},
        {"\\a.bin", false, "separator"},
        {"a\\\\b.bin", false, "empty folder level"},
        {"a\\..\\b.bin", false, "dot or space"},
        {"NUL.txt", false, "device"},
        {"sub\\lpt1", true, "device"},
        {"a|b", false, "forbids"},
        {"TempGPUpdateStaging\\x.bin", false, "staging"},
        {"TempGPUpdateStaging_2\\", true, "staging"},
        {"a\x81", false, "half"},
        {"a\x81.txt", false, "invalid Shift-JIS pair"},
    };
    for (const auto& c : cases) {
        const char* why = ExplainBadName(c.name, c.isFolder);
        if (c.reason == nullptr) {
            EXPECT_EQ(nullptr, why) << c.name;
        } else {
            ASSERT_NE(nullptr, why) << c.name;
            EXPECT_NE(nullptr, strstr(why, c.reason)) << c.name << ": " << why;
        }
    }
    std::string longName(260, 'a');
    ASSERT_NE(nullptr, ExplainBadName(longName.c_str(), false));
    EXPECT_NE(nullptr, strstr(ExplainBadName(longName.c_str(), false), "259"));
    EXPECT_EQ(nullptr, ExplainBadName(longName.substr(1).c_str(), false));
}

// Finds the offset of the first byte of a file entry's stream within a program file.
size_t StreamOffset(const Bytes& program, const std::string& name, uint32_t* packedSize) {
    std::string all(program.begin(), program.end());
    size_t at = all.find(name + std::string(1, '\0'));
    EXPECT_NE(std::string::npos, at) << name;
    size_t sizes = at + name.size() + 1;
    *packedSize = program[sizes + 4] | program[sizes + 5] << 8 | program[sizes + 6] << 16 |
                  static_cast<uint32_t>(program[sizes + 7]) << 24;
    return sizes + kSizeFieldsSize + kFileTimeSize;
}

TEST_F(PatchToolTest, VerifyNamesTheFirstDamagedEntry) {
    PackReport packed;
    ASSERT_EQ(kPackDone, Pack(&packed));
    Bytes good;
    ASSERT_TRUE(ReadFileBytes(output_, &good));
    uint32_t gamePacked = 0;
    size_t game = StreamOffset(good, "game.bin", &gamePacked);
    size_t gameSizes = game - kFileTimeSize - kSizeFieldsSize;
    std::string all(good.begin(), good.end());
    size_t readmeName = all.find("readme.txt");
    // The end marker, found by walking the headers: the filler after it is as
    // long as the alignment of the file's end needs.
    PackageCursor cursor;
    ASSERT_TRUE(OpenCursor(&cursor, output_.c_str()));
    CursorEntry entry;
    bool atEnd = false;
    while (!atEnd && NextEntry(&cursor, &entry, &atEnd) == kPackageOk &&
           (atEnd || SkipStream(&cursor, &entry) == kPackageOk)) {
    }
    size_t endMarker = static_cast<size_t>(cursor.stream.position) - kNameLengthSize;
    CloseCursor(&cursor);
    ASSERT_TRUE(atEnd);

    struct Case {
        const char* description;
        std::function<void(Bytes*)> damage;
        const char* entry;   // Shift-JIS
        const char* reason;  // part of the reason
    };
    const Case cases[] = {
        {"a flipped byte inside a stream", [&](Bytes* b) { (*b)[game + gamePacked / 2] ^= 0x55; }, "game.bin",
         "corrupt"},
        {"a flipped checksum byte", [&](Bytes* b) { (*b)[game + gamePacked - 1] ^= 0x01; }, "game.bin", "corrupt"},
        {"unpacked size one too many", [&](Bytes* b) { (*b)[gameSizes] += 1; }, "game.bin", "inflates to"},
        {"packed size one too many", [&](Bytes* b) { (*b)[gameSizes + 4] += 1; }, "game.bin", "ends 1 bytes before"},
        {"packed size one too few", [&](Bytes* b) { (*b)[gameSizes + 4] -= 1; }, "game.bin", "does not end"},
        {"a name with a forbidden character", [&](Bytes* b) { (*b)[readmeName + 2] = ':'; }, "re:dme.txt", "forbids"},
        {"a negative size", [&](Bytes* b) { (*b)[gameSizes + 3] = 0x80; }, "game.bin", "bad size"},
        {"the end marker cut off",
         [&](Bytes* b) { b->erase(b->begin() + static_cast<long>(endMarker), b->end() - kTrailerSize); }, "",
         "past the end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Bytes bad = good;
        c.damage(&bad);
        std::string path = root_ / "bad.exe";
        ASSERT_TRUE(StoreBytes(path, bad));
        VerifyReport report;
        EXPECT_FALSE(VerifyPackage(path.c_str(), &report));
        EXPECT_EQ(c.entry, report.entry);
        EXPECT_NE(std::string::npos, report.reason.find(c.reason)) << report.reason;
        FILE* out = tmpfile();
        FILE* err = tmpfile();
        EXPECT_EQ(1, VerifyCommand(path.c_str(), out, err));
        EXPECT_EQ("", ReadAll(out));
        EXPECT_NE(std::string::npos, ReadAll(err).find(report.reason));
        fclose(out);
        fclose(err);
    }

    // The updater's walk fails on the same damage and leaves the destination empty.
    Bytes bad = good;
    bad[game + gamePacked / 2] ^= 0x55;
    std::string path = root_ / "bad.exe";
    ASSERT_TRUE(StoreBytes(path, bad));
    std::string destination = root_ / "dest";
    FILE* err = tmpfile();
    EXPECT_EQ(1, ExtractCommand(path.c_str(), destination.c_str(), err, err));
    EXPECT_NE(std::string::npos, ReadAll(err).find("\"game.bin\""));
    fclose(err);
    EXPECT_TRUE(ListFolder(destination).empty());
}

TEST_F(PatchToolTest, VerifyCatchesEveryFlippedStreamByteAndSurvivesTruncation) {
    files_.clear();
    RemoveTree(source_);
    ASSERT_EQ(0, PlatformCreateFolder(source_.c_str()));
    AddFile("install.env", ToBytes("A\tb\r\n"), kTimeA);
    AddFile("insttscr.rct", TinyRctPicture(), kTimeC);
    AddFile("small.bin", Repeated("abcabd", 40), kTimeB);
    PackReport packed;
    ASSERT_EQ(kPackDone, Pack(&packed)) << DescribePackReport(packed);
    Bytes good;
    ASSERT_TRUE(ReadFileBytes(output_, &good));
    uint32_t packedSize = 0;
    size_t stream = StreamOffset(good, "small.bin", &packedSize);
    std::string path = root_ / "bad.exe";
    for (size_t i = stream; i < stream + packedSize; ++i) {
        Bytes bad = good;
        bad[i] ^= 0xFF;
        ASSERT_TRUE(StoreBytes(path, bad));
        VerifyReport report;
        EXPECT_FALSE(VerifyPackage(path.c_str(), &report)) << "byte " << i;
    }
    for (size_t size = 0; size < good.size(); ++size) {
        ASSERT_TRUE(StoreBytes(path, Bytes(good.begin(), good.begin() + static_cast<long>(size))));
        VerifyReport report;
        // What the truncated file still holds can never verify as the whole package.
        if (VerifyPackage(path.c_str(), &report)) {
            EXPECT_LT(report.entries, 3) << "size " << size;
        }
    }
}

// verify and extract name the entry whose header was refused, never the one
// before it, and accept a folder whatever its unused packed-size field says.
TEST(PatchToolHeaders, ReportsNameTheRefusedEntryAndFoldersPassWhateverTheirPackedSize) {
    TempFolder root;
    struct Case {
        const char* description;
        Bytes bad;         // the entry after a sound "first.dat"
        std::string name;  // Shift-JIS, as the reports must name it
        const char* reason;
    } cases[] = {
        {"a forbidden character", {}, "b:d.dat", "bad name"},
        {"a negative size", {}, "負.dat", "bad size"},
        {"a packed size beyond 2^31", {}, "big.dat", "bad size"},
    };
    AppendRawFile(&cases[0].bad, ToBytes(std::string("b:d.dat") + '\0'), 1, 1, 0, {});
    AppendRawFile(&cases[1].bad, ToBytes(std::string("負.dat") + '\0'), -7, 1, 0, {});
    AppendRawFile(&cases[2].bad, ToBytes(std::string("big.dat") + '\0'), 1, 0x90000000u, 0, {});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Bytes entries;
        AppendFile(&entries, "first.dat", ToBytes("first"));
        entries.insert(entries.end(), c.bad.begin(), c.bad.end());
        std::string path = root / "bad.exe";
        ASSERT_TRUE(StoreBytes(path, MakeProgramFile(ToBytes("MZ"), entries)));
        VerifyReport report;
        EXPECT_FALSE(VerifyPackage(path.c_str(), &report));
        EXPECT_EQ(c.name, report.entry);
        EXPECT_NE(std::string::npos, report.reason.find(c.reason)) << report.reason;
        FILE* err = tmpfile();
        EXPECT_EQ(1, ExtractCommand(path.c_str(), (root / "dest").c_str(), err, err));
        std::string said = ReadAll(err);
        fclose(err);
        EXPECT_NE(std::string::npos, said.find("\"" + PrintableName(c.name.c_str()) + "\"")) << said;
        EXPECT_EQ(std::string::npos, said.find("first.dat")) << said;
    }

    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR\tx\r\n"));
    AppendFile(&entries, "insttscr.rct", TinyRctPicture());
    AppendFolder(&entries, "save");
    for (size_t i = 0; i < 4; ++i) entries[entries.size() - 4 + i] = static_cast<uint8_t>(0xDEADBEEFu >> (8 * i));
    AppendFile(&entries, "save\\a.dat", ToBytes("kept"));
    std::string path = root / "folder.exe";
    ASSERT_TRUE(StoreBytes(path, MakeProgramFile(ToBytes("MZ"), entries)));
    VerifyReport report;
    EXPECT_TRUE(VerifyPackage(path.c_str(), &report)) << report.reason;
    EXPECT_EQ(4, report.entries);
    FILE* out = tmpfile();
    EXPECT_EQ(0, ExtractCommand(path.c_str(), (root / "folder").c_str(), out, out));
    fclose(out);
    Bytes got;
    ASSERT_TRUE(ReadFileBytes(root / "folder\\save\\a.dat", &got));
    EXPECT_EQ(ToBytes("kept"), got);
}

// verify follows the updater's start over the package: every row is checked
// against the updater's own Boot walk into a working folder, so verify fails
// exactly where the start would fail or miss a start-up file.
TEST(PatchToolBootWalk, VerifyFailsWhereTheUpdatersStartWouldFailOrMissAFile) {
    Bytes picture;
    const uint8_t onePixel[3] = {1, 2, 3};
    ASSERT_EQ(kRctOk, EncodeRct(onePixel, 1, 1, 0, nullptr, &picture));
    Bytes shortPicture(picture.begin(), picture.end() - 1);
    const Bytes env = ToBytes("TITLEBAR\tx\r\n");
    struct Case {
        const char* fault;
        std::function<void(Bytes*)> build;
        bool sound;          // verify passes
        const char* entry;   // Shift-JIS name verify reports ("" for the package)
        const char* reason;  // part of the reason
        bool bootWalks;      // the updater's Boot walk succeeds
        bool envArrives;     // the walk left install.env in the working folder (a failed start removes it)
    };
    const Case cases[] = {
        {"a top-level folder is passed over and the walk goes on",
         [&](Bytes* b) {
             AppendFolder(b, "save\\");
             AppendFile(b, "install.env", env);
             AppendFile(b, "readme.txt", ToBytes("r"));
             AppendFile(b, "insttscr.rct", picture);
         },
         true, "", "", true, true},
        {"a start-up-named file in a folder after the walk has ended is harmless",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendFile(b, "insttscr.rct", picture);
             AppendFolder(b, "a\\");
             AppendFolder(b, "a\\b\\");
             AppendFile(b, "a\\notes.txt", ToBytes("n"));
         },
         true, "", "", true, true},
        {"a readme after a nested folder is never reached at start",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendFolder(b, "save\\");
             AppendFolder(b, "save\\sub\\");
             AppendFile(b, "readme.txt", ToBytes("r"));
         },
         false, "readme.txt", "never reaches", true, true},
        {"install.env after a nested folder: the updater cannot start",
         [&](Bytes* b) {
             AppendFolder(b, "save\\");
             AppendFolder(b, "save\\sub\\");
             AppendFile(b, "INSTALL.ENV", env);
         },
         false, "INSTALL.ENV", "\"save\\sub\\\"", true, false},
        {"a start-up name inside a folder before the walk ends stops the start",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendFolder(b, "docs\\");
             AppendFile(b, "docs\\manual.txt", ToBytes("m"));
         },
         false, "docs\\manual.txt", "inside a folder", false, true},
        {"no install.env at all",
         [&](Bytes* b) {
             AppendFile(b, "readme.txt", ToBytes("r"));
             AppendFile(b, "install.env.bak", env);
         },
         false, "", "no install.env", true, false},
        {"a background picture cut short would ask Retry or Cancel at every start",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendFile(b, "insttscr.rct", shortPicture);
         },
         false, "insttscr.rct", "read-error box", true, true},
        {"no background picture: the updater stops at every start",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendFile(b, "readme.txt", ToBytes("r"));
         },
         false, "", "no insttscr.rct at the top", true, true},
        {"a sound background picture",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendFile(b, "InstTscr.RCT", picture);
         },
         true, "", "", true, true},
        {"a lead byte before a dot is no Shift-JIS character",
         [&](Bytes* b) {
             AppendFile(b, "install.env", env);
             AppendRawFile(b, ToBytes(std::string("a\x81.dat") + '\0'), 1, 9, 0, Deflate(ToBytes("x")));
         },
         false, "a\x81.dat", "invalid Shift-JIS pair", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        TempFolder root;
        Bytes entries;
        c.build(&entries);
        std::string path = root / "patch.exe";
        ASSERT_TRUE(StoreBytes(path, MakeProgramFile(ToBytes("MZ"), entries)));
        VerifyReport report;
        EXPECT_EQ(c.sound, VerifyPackage(path.c_str(), &report)) << report.reason;
        EXPECT_EQ(c.entry, report.entry);
        EXPECT_NE(std::string::npos, report.reason.find(c.reason)) << report.reason;
        FILE* out = tmpfile();
        EXPECT_EQ(c.sound ? 0 : 1, VerifyCommand(path.c_str(), out, out));
        std::string said = ReadAll(out);
        fclose(out);
        if (!c.sound) {
            EXPECT_NE(std::string::npos, said.find(report.reason)) << said;
        }

        std::string working = root / "work";
        ASSERT_EQ(0, PlatformCreateFolder(working.c_str()));
        PackageStream package;
        ASSERT_EQ(kPackageOk, OpenPackageStream(path.c_str(), &package));
        EXPECT_EQ(c.bootWalks, WalkPackage(&package, working.c_str(), kBootMode, nullptr) == kPackageOk);
        ClosePackageStream(&package);
        EXPECT_EQ(c.envArrives, Exists(working + "\\install.env"));
    }
}

}  // namespace
