// extract_bench [WORKDIR] [--scale F] [--rounds N] [--tree-order]: what the
// updater's Full-mode walk costs next to the bare work and next to other
// extractors, how its memory behaves as the package grows, and how little a
// Boot-mode walk reads.
//
// Two deterministic payloads (incompressible data, generated text and 24-bit
// pictures, in nested folders, with the start-up files at the top): 200 MiB
// in about 500 files of 4 KiB to 4 MiB, and 150 MiB in 20,000 files of 1 to
// 16 KiB. Each is packed at level 6 behind a small dummy image and zipped
// from the same files. In each round every extractor runs once on each
// payload into a fresh folder, in an order that turns with the round, and the
// median of the rounds is kept: the updater's walk on its default threads, on
// one and on two, and on its default threads without its flushes (what
// durability costs); inflating alone; writing alone; a plain extractor
// written here; unzip; 7-Zip. A tool that is not installed shows "n/a".
// Then 8,000 small files on a RAM disk (/dev/shm, when it is one): the walk
// on one thread without flushes against the minimal extractor, where the
// walk's own cost per file is all there is to see.
//
// Every run keeps its folder until the end: at full size, five rounds take
// about 11 GB under WORKDIR (default /tmp/extract_bench).
//
// --scale F (or EXTRACT_BENCH_SCALE=F) multiplies every payload size and the
// small files' count by F for a quick run. The benchmark prints figures and
// never fails on slowness; it exits 1 only when a run fails or extracts other
// bytes than were packed. (extract_bench --walk PACKAGE FOLDER is its own
// child for the memory figures: one Full walk, then the peak in KiB.)
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/ExtractBenchKit.h"
#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "package/Staging.h"
#include "services/Platform.h"

namespace {

// The payload a maker's typical large update carries, and its file count.
constexpr double kMixedMiB = 200;
constexpr int kMixedFiles = 500;
// Many small files: the case where the cost per file dominates.
constexpr double kSmallFilesMiB = 150;
constexpr int kSmallFiles = 20000;
constexpr size_t kSmallestSmallFile = 1024;
constexpr size_t kLargestSmallFile = 16384;
// Packages of the memory comparison: a small and an eight times larger one.
constexpr double kPeakSmallPackageMiB = 50;
constexpr double kPeakLargePackageMiB = 400;
// How much more the larger package's walk may hold: allocator and stdio
// noise. A walk that kept a file or the package in memory grows by hundreds.
constexpr double kPeakGrowthAllowanceMiB = 4;
// The payload of the small package of the Boot comparison: about 1 MiB packed.
constexpr int64_t kBootSmallPayload = 1677722;
// Level the bench packs at: what makers pick when packing time matters.
constexpr int kBenchLevel = 6;
// The zip's level: zip's default, the nearest to the package's.
constexpr const char* kZipLevel = "-6";
constexpr const char* kSevenZipLevel = "-mx=6";
// The dummy program image in front of the package.
constexpr size_t kImageSize = 65536;
// Rounds of the side-by-side table: the median of five shrugs off one
// disturbed run on a shared machine.
constexpr int kDefaultRounds = 5;
// Boot walks take milliseconds, so more repetitions steady them; the best is kept.
constexpr int kBootRepeats = 30;
constexpr int kColdBootRepeats = 5;
// Writing alone writes in the updater's block.
constexpr size_t kBlock = kTransferBlock;
// A fixed last-write time for every file: 2021-03-04 05:06:07 UTC.
constexpr uint64_t kBenchFileTime = 132593079670000000ULL;
constexpr double kMiB = 1048576.0;
// The targets the figures are held against.
constexpr double kSmallFilesWalkTarget = 1.20;   // walk / plain extractor
constexpr double kParallelWalkTarget = 0.65;     // walk on two threads / floor on one
constexpr double kBootGrowthTarget = 1.10;       // Boot walk, large / small package
// What putting every file on the disk before the commit may cost: the walk
// with its flushes / the same walk without them.
constexpr double kDurableMixedTarget = 1.15;
constexpr double kDurableSmallTarget = 1.50;
// Many small files on a RAM disk, where writing costs almost nothing and the
// walk's own cost per file shows: its payload, where it is written, and the
// walk on one thread (without flushes) / the minimal extractor.
constexpr int kRamDiskFiles = 8000;
constexpr double kRamDiskMiB = 60;
constexpr const char* kRamDiskFolder = "/dev/shm";
constexpr double kRamDiskWalkTarget = 1.10;
// The file system magic of tmpfs, as statfs reports it.
constexpr long kTmpfsMagic = 0x01021994;
// Enough descriptors for the deepest folder of the payload.
constexpr int kOpenFolders = 16;

enum Column {
    kWalkDefault,
    kWalkOne,
    kWalkTwo,
    kWalkFour,
    kWalkNoFlush,
    kInflateOnly,
    kWriteOnly,
    kMinimal,
    kUnzip,
    kSevenZip,
    kColumnCount
};

struct Bench {
    std::string work;
    unsigned defaultWorkers;
    bool unzip;     // unzip is installed
    bool sevenZip;  // 7zz is installed
    bool zipMade;   // both payloads have their zip
};

struct PayloadRun {
    Payload payload;
    std::string name;     // short, for folder names
    std::string package;  // the program file with the package
    std::string source;   // the payload's files, as generated
    std::string zip;
    int64_t packageBytes = 0;
    std::vector<double> seconds[kColumnCount];
};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int RemoveOne(const char* path, const struct stat*, int kind, struct FTW*) {
    return kind == FTW_DP ? rmdir(path) : unlink(path);
}

// Removes a folder and everything in it; a missing folder is fine.
void RemoveTree(const std::string& native) {
    struct stat st;
    if (stat(native.c_str(), &st) != 0) return;
    if (nftw(native.c_str(), RemoveOne, kOpenFolders, FTW_DEPTH | FTW_PHYS) != 0)
        fprintf(stderr, "extract_bench: cannot remove %s\n", native.c_str());
}

bool MakeFolder(const std::string& native) { return mkdir(native.c_str(), 0777) == 0 || errno == EEXIST; }

// Writes back what earlier runs left dirty, so that no timed run pays for
// another's writeback.
void Settle(const std::string& work) {
    int fd = open(work.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        syncfs(fd);
        close(fd);
    }
}

bool WriteFileBytes(const std::string& native, const std::vector<uint8_t>& data) {
    FILE* f = fopen(native.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

// Packs the payload as the makers' tool orders a package (every folder, then
// the files folder by folder; in tree order each folder's files follow it at
// once). With source set, every file is also written there as generated.
bool WritePackage(const std::string& path, const Payload& payload, bool treeOrder, const std::string& source,
                  int64_t* packageBytes) {
    FILE* out = fopen(path.c_str(), "w+b");
    if (out == nullptr) return false;
    std::vector<uint8_t> data(kImageSize, 0x90);
    bool ok = fwrite(data.data(), 1, data.size(), out) == data.size();
    PackageWriter writer;
    ok = ok && BeginPackage(&writer, out, kBenchLevel) == kPackageOk;
    if (ok && !source.empty()) {
        ok = MakeFolder(source);
        for (const std::string& folder : payload.folders) ok = ok && MakeFolder(source + "/" + NativePath(folder));
    }
    auto add = [&](const PayloadFile& f) {
        GeneratePayloadFile(f, &data);
        ok = AddFileEntry(&writer, f.name.c_str(), data.data(), data.size(), kBenchFileTime) == kPackageOk;
        if (ok && !source.empty()) ok = WriteFileBytes(source + "/" + NativePath(f.name), data);
    };
    for (const PayloadFile& f : payload.files)
        if (ok && f.kind == kStartupData) add(f);
    std::vector<std::string> order = payload.folders;
    order.push_back("");
    if (!treeOrder) {
        for (const std::string& folder : payload.folders)
            if (ok) ok = AddFolderEntry(&writer, folder.c_str()) == kPackageOk;
    }
    for (const std::string& folder : order) {
        if (ok && treeOrder && !folder.empty()) ok = AddFolderEntry(&writer, folder.c_str()) == kPackageOk;
        for (const PayloadFile& f : payload.files) {
            if (!ok) break;
            if (f.kind == kStartupData) continue;
            size_t cut = f.name.rfind('\\');
            std::string parent = cut == std::string::npos ? "" : f.name.substr(0, cut);
            if (parent == folder) add(f);
        }
    }
    ok = ok && FinishPackage(&writer) == kPackageOk;
    *packageBytes = ok ? PlatformTell(out) - writer.start : 0;
    // On disk, so that the cold Boot runs can drop it from the page cache.
    ok = ok && fsync(fileno(out)) == 0;
    return fclose(out) == 0 && ok;
}

// Writing alone: the payload's folders and files, with its names and sizes,
// in 128 KiB blocks from memory. Returns seconds, or -1.
double TimeWriteOnly(const Payload& payload, const std::string& destination) {
    std::vector<uint8_t> block(kBlock, 0x5A);
    double start = Now();
    bool ok = true;
    for (const std::string& folder : payload.folders) ok = ok && MakeFolder(destination + "/" + NativePath(folder));
    for (const PayloadFile& f : payload.files) {
        if (!ok) break;
        int fd = open((destination + "/" + NativePath(f.name)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ok = fd >= 0;
        for (size_t left = f.size; ok && left > 0;) {
            size_t n = std::min(left, kBlock);
            ok = write(fd, block.data(), n) == static_cast<ssize_t>(n);
            left -= n;
        }
        if (fd >= 0) ok = close(fd) == 0 && ok;
    }
    double seconds = Now() - start;
    return ok ? seconds : -1;
}

double TimeMinimal(const std::string& package, const std::string& destination) {
    double start = Now();
    bool ok = MinimalExtract(package, destination);
    double seconds = Now() - start;
    return ok ? seconds : -1;
}

// Whether a program of that name is on the PATH.
bool HaveTool(const char* name) {
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    size_t from = 0;
    while (from <= dirs.size()) {
        size_t to = dirs.find(':', from);
        if (to == std::string::npos) to = dirs.size();
        std::string candidate = dirs.substr(from, to - from) + "/" + name;
        if (to > from && access(candidate.c_str(), X_OK) == 0) return true;
        from = to + 1;
    }
    return false;
}

// Runs a program in folder (or here, when empty) with its output discarded.
// Returns seconds, or -1 when it cannot start or does not end with 0.
double TimeTool(const std::vector<std::string>& args, const std::string& folder) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    double start = Now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
        }
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    double seconds = Now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// Zips the payload's source folder with zip, or with 7zz when zip is missing.
bool MakeZip(const PayloadRun& run, const Bench& bench) {
    if (HaveTool("zip")) return TimeTool({"zip", "-q", "-r", kZipLevel, "-X", run.zip, "."}, run.source) >= 0;
    if (bench.sevenZip) return TimeTool({"7zz", "a", "-tzip", kSevenZipLevel, "-bso0", "-bsp0", run.zip, "."}, run.source) >= 0;
    return false;
}

bool ColumnRuns(Column column, const Bench& bench) {
    switch (column) {
        case kWalkOne: return bench.defaultWorkers != 1;
        case kWalkTwo: return bench.defaultWorkers != 2;
        case kWalkFour: return bench.defaultWorkers != 4;
        case kUnzip: return bench.unzip && bench.zipMade;
        case kSevenZip: return bench.sevenZip && bench.zipMade;
        default: return true;
    }
}

// Whether the column leaves the payload's files behind, to compare.
bool ColumnExtracts(Column column) { return column != kInflateOnly && column != kWriteOnly; }

double RunColumn(Column column, const PayloadRun& run, const std::string& destination) {
    switch (column) {
        case kWalkDefault: SetExtractWorkers(0); return TimeWalk(run.package, destination, kFullMode);
        case kWalkOne: SetExtractWorkers(1); return TimeWalk(run.package, destination, kFullMode);
        case kWalkTwo: SetExtractWorkers(2); return TimeWalk(run.package, destination, kFullMode);
        case kWalkFour: SetExtractWorkers(4); return TimeWalk(run.package, destination, kFullMode);
        case kWalkNoFlush: {
            SetExtractWorkers(0);
            SetDurableWrites(false);
            double seconds = TimeWalk(run.package, destination, kFullMode);
            SetDurableWrites(true);
            return seconds;
        }
        case kInflateOnly: return TimeMinimal(run.package, "");
        case kWriteOnly: return TimeWriteOnly(run.payload, destination);
        case kMinimal: return TimeMinimal(run.package, destination);
        case kUnzip: return TimeTool({"unzip", "-qq", "-o", run.zip, "-d", destination}, "");
        case kSevenZip: return TimeTool({"7zz", "x", "-y", "-bso0", "-bsp0", "-o" + destination, run.zip}, "");
        default: return -1;
    }
}

// Compares every payload file in two folders byte for byte.
bool SameFiles(const Payload& payload, const std::string& a, const std::string& b, const char* what) {
    std::vector<char> x(kBlock), y(kBlock);
    for (const PayloadFile& f : payload.files) {
        FILE* fa = fopen((a + "/" + NativePath(f.name)).c_str(), "rb");
        FILE* fb = fopen((b + "/" + NativePath(f.name)).c_str(), "rb");
        bool same = fa != nullptr && fb != nullptr;
        while (same) {
            size_t na = fread(x.data(), 1, x.size(), fa), nb = fread(y.data(), 1, y.size(), fb);
            same = na == nb && memcmp(x.data(), y.data(), na) == 0;
            if (na == 0) break;
        }
        if (fa != nullptr) fclose(fa);
        if (fb != nullptr) fclose(fb);
        if (!same) {
            fprintf(stderr, "extract_bench: %s: %s is not the packed file\n", what, f.name.c_str());
            return false;
        }
    }
    return true;
}

const char* ColumnLabel(Column column, const Bench& bench) {
    static char walkDefault[64];
    switch (column) {
        case kWalkDefault:
            snprintf(walkDefault, sizeof(walkDefault), "Full walk, %u thread%s (default)", bench.defaultWorkers,
                     bench.defaultWorkers == 1 ? "" : "s");
            return walkDefault;
        case kWalkOne: return "Full walk, 1 thread";
        case kWalkTwo: return "Full walk, 2 threads";
        case kWalkFour: return "Full walk, 4 threads";
        case kWalkNoFlush: return "Full walk, default, no flushes";
        case kInflateOnly: return "inflate only (1 thread)";
        case kWriteOnly: return "write only (1 thread)";
        case kMinimal: return "minimal extractor (zlib, 128 KiB)";
        case kUnzip: return "unzip";
        case kSevenZip: return "7zz x";
        default: return "";
    }
}

// The walk on a given number of threads: the default one where the default
// is that number.
Column WalkColumn(const Bench& bench, unsigned threads, Column own) {
    return bench.defaultWorkers == threads ? kWalkDefault : own;
}
Column TwoThreadColumn(const Bench& bench) { return WalkColumn(bench, 2, kWalkTwo); }

double Median(const PayloadRun& run, Column column) { return MedianSeconds(run.seconds[column]); }

// The floor: inflating alone plus writing alone, both on one thread.
double Floor(const PayloadRun& run) {
    double inflate = Median(run, kInflateOnly), write = Median(run, kWriteOnly);
    return inflate < 0 || write < 0 ? -1 : inflate + write;
}

void PrintCell(double seconds, double minimal, bool runs) {
    if (!runs) printf("  %9s %8s", "n/a", "");
    else if (seconds < 0) printf("  %9s %8s", "failed", "");
    else printf("  %8.3fs %7.2fx", seconds, Ratio(seconds, minimal));
}

void PrintTable(const Bench& bench, const std::vector<PayloadRun>& runs, int rounds) {
    printf("\n  median of %d rounds, and its ratio to the minimal extractor\n", rounds);
    printf("  %-36s", "");
    for (const PayloadRun& run : runs) {
        char head[64];
        snprintf(head, sizeof(head), "%.0f MiB, %zu files", static_cast<double>(run.payload.bytes) / kMiB,
                 run.payload.files.size());
        printf("  %-19s", head);
    }
    printf("\n");
    for (int c = 0; c < kColumnCount; ++c) {
        Column column = static_cast<Column>(c);
        if ((column == kWalkOne || column == kWalkTwo || column == kWalkFour) && !ColumnRuns(column, bench)) continue;
        printf("  %-36s", ColumnLabel(column, bench));
        for (const PayloadRun& run : runs) PrintCell(Median(run, column), Median(run, kMinimal), ColumnRuns(column, bench));
        printf("\n");
        if (column == kWriteOnly) {
            printf("  %-36s", "floor: inflate + write");
            for (const PayloadRun& run : runs) PrintCell(Floor(run), Median(run, kMinimal), true);
            printf("\n");
        }
    }
}

void PrintTargets(const Bench& bench, const PayloadRun& mixed, const PayloadRun& small) {
    double walkOverMinimal = Ratio(Median(small, kWalkDefault), Median(small, kMinimal));
    printf("\n  target: %zu-file payload, Full walk / minimal extractor <= %.2fx: %.2fx, %s\n",
           small.payload.files.size(), kSmallFilesWalkTarget, walkOverMinimal,
           TargetVerdict(walkOverMinimal, kSmallFilesWalkTarget));
    double parallel = Ratio(Median(mixed, TwoThreadColumn(bench)), Floor(mixed));
    printf("  target: %.0f MiB payload, Full walk on 2 threads / floor on 1 thread <= %.2fx: %.2fx, %s\n",
           static_cast<double>(mixed.payload.bytes) / kMiB, kParallelWalkTarget, parallel,
           TargetVerdict(parallel, kParallelWalkTarget));
    for (const PayloadRun* run : {&mixed, &small}) {
        double target = run == &mixed ? kDurableMixedTarget : kDurableSmallTarget;
        double durable = Ratio(Median(*run, kWalkDefault), Median(*run, kWalkNoFlush));
        printf("  target: %zu-file payload, Full walk / the same without flushes <= %.2fx: %.2fx, %s\n",
               run->payload.files.size(), target, durable, TargetVerdict(durable, target));
    }
    printf("  scaling of the Full walk, as a share of the floor on 1 thread:");
    for (const PayloadRun* run : {&mixed, &small}) {
        printf("%s %zu files:", run == &mixed ? "" : ";", run->payload.files.size());
        const Column columns[] = {WalkColumn(bench, 1, kWalkOne), TwoThreadColumn(bench), WalkColumn(bench, 4, kWalkFour)};
        const unsigned threads[] = {1, 2, 4};
        for (int i = 0; i < 3; ++i) printf(" %u: %.2fx", threads[i], Ratio(Median(*run, columns[i]), Floor(*run)));
    }
    printf("\n");
}

// Peak memory of the walk for two packages of the mixed kind, eight times
// apart in size, sized by the mixed package's own packing ratio.
bool MeasurePeaks(const Bench& bench, const PayloadRun& mixed, double scale, bool treeOrder) {
    double payloadPerPackage = static_cast<double>(mixed.payload.bytes) / static_cast<double>(mixed.packageBytes);
    const double targets[] = {kPeakSmallPackageMiB * scale, kPeakLargePackageMiB * scale};
    long peaks[2] = {-1, -1};
    int64_t packageBytes[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        Payload payload = MakeMixedPayload(static_cast<int64_t>(targets[i] * kMiB * payloadPerPackage), kMixedFiles);
        std::string package = bench.work + "/peak.exe", folder = bench.work + "/peak";
        if (!WritePackage(package, payload, treeOrder, "", &packageBytes[i])) return false;
        MakeFolder(folder);
        Settle(bench.work);
        peaks[i] = WalkInFreshProcess(package, folder).peakKiB;
        RemoveTree(folder);
        unlink(package.c_str());
    }
    long baseline = WalkInFreshProcess("", "").peakKiB;
    printf("\n  peak resident memory of the Full walk (a process each)\n");
    for (int i = 0; i < 2; ++i)
        printf("  %-36s  %8.1f MiB\n",
               (std::string("package of ") + std::to_string(static_cast<int>(packageBytes[i] / kMiB + 0.5)) + " MiB")
                   .c_str(),
               peaks[i] / 1024.0);
    printf("  %-36s  %8.1f MiB\n", "the same process without a walk", baseline / 1024.0);
    if (peaks[0] < 0 || peaks[1] < 0) return false;
    double growth = (peaks[1] - peaks[0]) / 1024.0;
    printf("  growth with the package: %+.1f MiB (allowed %.0f MiB): %s\n", growth, kPeakGrowthAllowanceMiB,
           growth <= kPeakGrowthAllowanceMiB ? "does not grow" : "GROWS");
    return true;
}

// Boot walks of the large package and a small one, warm and cold.
// The walk's own cost per file: 8,000 small files extracted to a RAM disk,
// the walk on one thread without flushes against the minimal extractor.
bool MeasureRamDisk(const Bench& bench, double scale, int rounds, bool treeOrder) {
    struct statfs fs;
    if (statfs(kRamDiskFolder, &fs) != 0 || static_cast<long>(fs.f_type) != kTmpfsMagic) {
        printf("\n  %s is not a RAM disk: the per-file case is skipped\n", kRamDiskFolder);
        return true;
    }
    int count = std::max(1, static_cast<int>(kRamDiskFiles * scale));
    Payload payload = MakeSmallFilesPayload(static_cast<int64_t>(kRamDiskMiB * scale * kMiB), count,
                                            kSmallestSmallFile, kLargestSmallFile);
    std::string package = bench.work + "/ram_disk.exe";
    int64_t packageBytes = 0;
    if (!WritePackage(package, payload, treeOrder, "", &packageBytes)) return false;
    std::string root = std::string(kRamDiskFolder) + "/extract_bench_" + std::to_string(getpid());
    RemoveTree(root);
    if (!MakeFolder(root)) return false;
    std::vector<double> walk, minimal;
    SetExtractWorkers(1);
    SetDurableWrites(false);
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            bool walkFirst = (k + r) % 2 == 0;
            std::string folder = root + "/" + std::to_string(r) + (walkFirst ? "w" : "m");
            MakeFolder(folder);
            (walkFirst ? walk : minimal).push_back(walkFirst ? TimeWalk(package, folder, kFullMode)
                                                             : TimeMinimal(package, folder));
        }
    }
    SetDurableWrites(true);
    SetExtractWorkers(0);
    RemoveTree(root);
    double ratio = Ratio(MedianSeconds(walk), MedianSeconds(minimal));
    printf("\n  %zu small files on a RAM disk (%s), median of %d rounds\n", payload.files.size(), kRamDiskFolder, rounds);
    printf("  Full walk, 1 thread, no flushes        %.3fs\n  minimal extractor                      %.3fs\n",
           MedianSeconds(walk), MedianSeconds(minimal));
    printf("  target: walk on 1 thread / minimal extractor <= %.2fx: %.2fx, %s\n", kRamDiskWalkTarget, ratio,
           TargetVerdict(ratio, kRamDiskWalkTarget));
    return ratio > 0;
}

bool MeasureBoot(const Bench& bench, const PayloadRun& mixed, bool treeOrder) {
    Payload small = MakeMixedPayload(kBootSmallPayload, kMixedFiles);
    std::string smallPackage = bench.work + "/boot_small.exe";
    int64_t smallBytes = 0;
    if (!WritePackage(smallPackage, small, treeOrder, "", &smallBytes)) return false;
    std::vector<double> big, little;
    for (int r = 0; r < kBootRepeats; ++r) {
        for (const std::string* package : {&mixed.package, const_cast<const std::string*>(&smallPackage)}) {
            std::string folder = bench.work + "/boot";
            RemoveTree(folder);
            MakeFolder(folder);
            (package == &smallPackage ? little : big).push_back(TimeWalk(*package, folder, kBootMode));
        }
    }
    // The same with the package dropped from the page cache first: what a
    // player's first start after the download costs.
    std::vector<double> coldBig, coldLittle;
    for (int r = 0; r < kColdBootRepeats; ++r) {
        for (const std::string* package : {&mixed.package, const_cast<const std::string*>(&smallPackage)}) {
            int fd = open(package->c_str(), O_RDONLY);
            if (fd >= 0) {
                posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                close(fd);
            }
            std::string folder = bench.work + "/boot";
            RemoveTree(folder);
            MakeFolder(folder);
            (package == &smallPackage ? coldLittle : coldBig).push_back(TimeWalk(*package, folder, kBootMode));
        }
    }
    RemoveTree(bench.work + "/boot");
    double b = MedianSeconds(big), l = MedianSeconds(little), cb = MedianSeconds(coldBig),
           cl = MedianSeconds(coldLittle);
    printf("\n  Boot walk (median), package of %.1f MiB against one of %.2f MiB\n",
           static_cast<double>(mixed.packageBytes) / kMiB, static_cast<double>(smallBytes) / kMiB);
    printf("  %-36s  %8.3f ms / %.3f ms = %.2fx (target under %.2fx: %s)\n", "package in the page cache", b * 1000,
           l * 1000, Ratio(b, l), kBootGrowthTarget, TargetVerdict(Ratio(b, l), kBootGrowthTarget));
    printf("  %-36s  %8.3f ms / %.3f ms = %.2fx\n", "package not in the page cache", cb * 1000, cl * 1000,
           Ratio(cb, cl));
    return b >= 0 && l >= 0 && cb >= 0 && cl >= 0;
}

int Usage() {
    fprintf(stderr,
            "usage: extract_bench [WORKDIR] [--scale F] [--rounds N] [--tree-order]\n"
            "  --scale F      payload sizes and the small files' count times F, 0 < F <= 1\n"
            "                 (default 1, or EXTRACT_BENCH_SCALE)\n"
            "  --rounds N     rounds of the side-by-side table (default %d)\n"
            "  --tree-order   each folder's files right after it, instead of the tool's folders-first order\n",
            kDefaultRounds);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Bench bench;
    bench.work = "/tmp/extract_bench";
    double scale = 1;
    if (const char* fromEnvironment = getenv("EXTRACT_BENCH_SCALE")) scale = atof(fromEnvironment);
    int rounds = kDefaultRounds;
    bool treeOrder = false;
    if (argc == 4 && strcmp(argv[1], "--walk") == 0) return WalkAndTell(argv[2], argv[3]);
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
            scale = atof(argv[++i]);
        } else if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = atoi(argv[++i]);
            if (rounds < 1) return Usage();
        } else if (strcmp(argv[i], "--tree-order") == 0) {
            treeOrder = true;
        } else if (argv[i][0] == '-') {
            return Usage();
        } else {
            bench.work = argv[i];
        }
    }
    if (!(scale > 0 && scale <= 1)) return Usage();
    // Package paths go through the platform as Shift-JIS; plain ASCII is both.
    for (char c : bench.work)
        if (static_cast<unsigned char>(c) >= 0x80) {
            fprintf(stderr, "extract_bench: WORKDIR must be an ASCII path\n");
            return 2;
        }
    RemoveTree(bench.work);
    if (mkdir(bench.work.c_str(), 0777) != 0) {
        fprintf(stderr, "extract_bench: cannot create %s\n", bench.work.c_str());
        return 1;
    }
    // The zip tool runs in the payload's folder: every path it is given is whole.
    char whole[PATH_MAX];
    if (realpath(bench.work.c_str(), whole) != nullptr) bench.work = whole;
    double started = Now();
    bench.defaultWorkers = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    bench.unzip = HaveTool("unzip");
    bench.sevenZip = HaveTool("7zz");

    std::vector<PayloadRun> runs(2);
    runs[0].payload = MakeMixedPayload(static_cast<int64_t>(kMixedMiB * scale * kMiB), kMixedFiles);
    runs[0].name = "mixed";
    int smallCount = std::max(1, static_cast<int>(kSmallFiles * scale));
    runs[1].payload = MakeSmallFilesPayload(static_cast<int64_t>(kSmallFilesMiB * scale * kMiB), smallCount,
                                            kSmallestSmallFile, kLargestSmallFile);
    runs[1].name = "small";
    double packStart = Now();
    bench.zipMade = true;
    for (PayloadRun& run : runs) {
        run.package = bench.work + "/" + run.name + ".exe";
        run.source = bench.work + "/" + run.name + "_source";
        run.zip = bench.work + "/" + run.name + ".zip";
        if (!WritePackage(run.package, run.payload, treeOrder, run.source, &run.packageBytes)) {
            fprintf(stderr, "extract_bench: cannot write the packages under %s\n", bench.work.c_str());
            return 1;
        }
        bench.zipMade = bench.zipMade && MakeZip(run, bench);
    }
    printf("extract_bench: packages at level %d, %s, on %u cores%s (packing and zipping took %.1f s)\n", kBenchLevel,
           treeOrder ? "tree order" : "folders first", std::thread::hardware_concurrency(),
           scale < 1 ? ", sizes scaled down" : "", Now() - packStart);
    for (const PayloadRun& run : runs)
        printf("  %s: %.1f MiB in %zu files and %zu folders, package %.1f MiB\n", run.name.c_str(),
               static_cast<double>(run.payload.bytes) / kMiB, run.payload.files.size(), run.payload.folders.size(),
               static_cast<double>(run.packageBytes) / kMiB);
    if (!bench.zipMade) printf("  no zip could be made: unzip and 7zz show n/a\n");

    // Every run gets a folder of its own and nothing is deleted until the
    // end: a file system slows down creating files just after deleting many,
    // which an install folder never sees before an update.
    bool same = true;
    std::vector<std::string> made;
    for (int r = 0; r < rounds; ++r) {
        for (PayloadRun& run : runs) {
            for (int k = 0; k < kColumnCount; ++k) {
                // The order turns each round, so no column always follows the same one.
                Column column = static_cast<Column>((k + r) % kColumnCount);
                if (!ColumnRuns(column, bench)) continue;
                std::string folder = bench.work + "/" + run.name + "_" + std::to_string(r) + "_" + std::to_string(column);
                MakeFolder(folder);
                made.push_back(folder);
                Settle(bench.work);
                run.seconds[column].push_back(RunColumn(column, run, folder));
                if (r == 0 && ColumnExtracts(column))
                    same = SameFiles(run.payload, run.source, folder, ColumnLabel(column, bench)) && same;
            }
        }
    }
    for (const std::string& folder : made) RemoveTree(folder);
    SetExtractWorkers(0);
    PrintTable(bench, runs, rounds);
    PrintTargets(bench, runs[0], runs[1]);
    for (PayloadRun& run : runs) RemoveTree(run.source);

    bool peaksOk = MeasurePeaks(bench, runs[0], scale, treeOrder);
    bool bootOk = MeasureBoot(bench, runs[0], treeOrder);
    bool ramDiskOk = MeasureRamDisk(bench, scale, rounds, treeOrder);
    printf("\nextract_bench: %.0f s in all\n", Now() - started);
    RemoveTree(bench.work);
    bool failed = !same || !peaksOk || !bootOk || !ramDiskOk;
    for (const PayloadRun& run : runs)
        for (int c = 0; c < kColumnCount; ++c)
            if (ColumnRuns(static_cast<Column>(c), bench) && MedianSeconds(run.seconds[c]) < 0) failed = true;
    return failed ? 1 : 0;
}
