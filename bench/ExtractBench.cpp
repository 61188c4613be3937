// extract_bench [WORKDIR] [--mib N] [--files N] [--tree-order]: how much the
// updater's Full-mode walk costs over the bare work of inflating and writing
// the same bytes, how its memory behaves as the package grows, and how little
// a Boot-mode walk reads.
//
// It builds a deterministic payload (incompressible data, generated text and
// 24-bit pictures with gradients and flat areas, in nested folders, with the
// start-up files at the top), packs it at level 6 behind a small dummy image,
// and times each walk a few times, keeping the best. Both sides write to the
// same file system under WORKDIR, so the page cache treats them alike.
// It prints figures and never fails on slowness; it exits 1 only when a walk
// fails or the extracted files differ from the floor's.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "services/Platform.h"

namespace {

// The payload a maker's typical large update carries.
constexpr int64_t kDefaultPayloadMiB = 200;
// About 500 files by default: the count stays the same whatever the payload
// size, so that memory figures compare packages that differ only in bytes.
constexpr int kDefaultFileCount = 500;
// Sizes of the generated files before scaling, log-uniform between these.
constexpr double kSmallestFile = 4096;
constexpr double kLargestFile = 4 * 1048576;
// Level the bench packs at: what makers pick when packing time matters.
constexpr int kBenchLevel = 6;
// The dummy program image in front of the package.
constexpr size_t kImageSize = 65536;
// The payload of the small package of the Boot comparison: about 1 MiB packed.
constexpr int64_t kSmallPayload = 1677722;
// Timed repetitions of each large walk; the best is kept.
constexpr int kRepeats = 5;
// Boot walks take milliseconds, so more repetitions steady them.
constexpr int kBootRepeats = 30;
// The floor writes in the same blocks as the updater.
constexpr size_t kBlock = kTransferBlock;
// A fixed last-write time for every file: 2021-03-04 05:06:07 UTC.
constexpr uint64_t kBenchFileTime = 132593079670000000ULL;
constexpr double kMiB = 1048576.0;
// Allocator thresholds for the kept-memory run: far above any transfer buffer.
constexpr int kKeptAllocation = 64 * 1048576;

enum Kind { kRandom, kText, kPicture, kStartup };

struct PayloadFile {
    std::string name;  // '\' separated, ASCII
    Kind kind;
    size_t size;
    uint64_t seed;
};

struct Payload {
    std::vector<std::string> folders;  // parents before children
    std::vector<PayloadFile> files;    // start-up files first
    int64_t bytes;
};

uint64_t Next(uint64_t* state) {
    uint64_t x = *state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    *state = x;
    return x;
}

void FillRandom(std::vector<uint8_t>* out, uint64_t seed) {
    uint64_t s = seed | 1;
    size_t i = 0;
    for (; i + 8 <= out->size(); i += 8) {
        uint64_t v = Next(&s);
        memcpy(out->data() + i, &v, 8);
    }
    for (; i < out->size(); ++i) (*out)[i] = static_cast<uint8_t>(Next(&s));
}

void FillText(std::vector<uint8_t>* out, uint64_t seed) {
    static const char* const kWords[] = {"the",   "castle", "gate",  "opens", "at",     "dawn",  "and",
                                         "a",     "knight", "rides", "north", "through", "rain", "while",
                                         "bells", "ring",   "over",  "quiet", "fields", "of",    "gold"};
    constexpr size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
    uint64_t s = seed | 1;
    size_t i = 0, column = 0;
    while (i < out->size()) {
        const char* word = kWords[Next(&s) % kWordCount];
        for (const char* p = word; *p != '\0' && i < out->size(); ++p) (*out)[i++] = static_cast<uint8_t>(*p);
        column += strlen(word) + 1;
        if (i < out->size()) (*out)[i++] = column > 70 ? '\n' : ' ';
        if (column > 70) column = 0;
    }
}

// A bottom-up 24-bit picture: a smooth gradient with flat rectangles over it.
void FillPicture(std::vector<uint8_t>* out, uint64_t seed) {
    uint64_t s = seed | 1;
    size_t pixels = out->size() / 3;
    size_t width = 640;
    size_t height = pixels / width + 1;
    size_t rx = Next(&s) % width, ry = Next(&s) % height;
    size_t rw = width / 3, rh = height / 4;
    uint8_t flat[3] = {static_cast<uint8_t>(Next(&s)), static_cast<uint8_t>(Next(&s)), static_cast<uint8_t>(Next(&s))};
    for (size_t p = 0; p < pixels; ++p) {
        size_t x = p % width, y = p / width;
        uint8_t* px = out->data() + p * 3;
        if (x >= rx && x < rx + rw && y >= ry && y < ry + rh) {
            memcpy(px, flat, 3);
        } else {
            px[0] = static_cast<uint8_t>(x * 255 / width);
            px[1] = static_cast<uint8_t>(y * 255 / height);
            // Slight noise, as a photographed or dithered area has.
            px[2] = static_cast<uint8_t>(128 + (x + y) / 8 % 32 + (Next(&s) & 3));
        }
    }
    for (size_t i = pixels * 3; i < out->size(); ++i) (*out)[i] = 0;
}

void FillStartup(std::vector<uint8_t>* out, uint64_t seed) {
    FillText(out, seed);
    for (uint8_t& c : *out)
        if (c == ' ') c = '\t';
}

void Generate(const PayloadFile& f, std::vector<uint8_t>* out) {
    out->assign(f.size, 0);
    switch (f.kind) {
        case kRandom: FillRandom(out, f.seed); break;
        case kText: FillText(out, f.seed); break;
        case kPicture: FillPicture(out, f.seed); break;
        case kStartup: FillStartup(out, f.seed); break;
    }
}

// The same file names and mix for every payload size; only the sizes scale.
Payload MakePayload(int64_t bytes, int fileCount) {
    static const char* const kFolders[] = {"data", "data\\maps", "data\\maps\\east", "gfx", "gfx\\chars",
                                           "gfx\\bg", "sound", "sound\\voice", "movie", "text"};
    constexpr size_t kFolderCount = sizeof(kFolders) / sizeof(kFolders[0]);
    Payload p;
    p.folders.assign(kFolders, kFolders + kFolderCount);
    p.files.push_back(PayloadFile{"install.env", kStartup, 2000, 1});
    p.files.push_back(PayloadFile{"readme.txt", kStartup, 8000, 2});
    p.files.push_back(PayloadFile{"insttscr.rct", kStartup, 30000, 3});
    int64_t startup = 0;
    for (const PayloadFile& f : p.files) startup += static_cast<int64_t>(f.size);

    uint64_t s = 0x9E3779B97F4A7C15ULL;
    std::vector<double> weights;
    double total = 0;
    for (int i = 0; i < fileCount; ++i) {
        double u = static_cast<double>(Next(&s) % 1000000) / 1000000.0;
        double w = std::exp(std::log(kSmallestFile) + u * (std::log(kLargestFile) - std::log(kSmallestFile)));
        weights.push_back(w);
        total += w;
    }
    int64_t left = std::max<int64_t>(bytes - startup, fileCount);
    for (int i = 0; i < fileCount; ++i) {
        Kind kind = static_cast<Kind>(i % 3);
        const char* folder = i % 7 == 0 ? nullptr : kFolders[static_cast<size_t>(i) % kFolderCount];
        char name[128];
        // Five digits keep the names of a large count as short as a small one's.
        static const char* const kExtensions[] = {"dat", "scn", "bmp"};
        snprintf(name, sizeof(name), "%s%sfile%05d.%s", folder != nullptr ? folder : "", folder != nullptr ? "\\" : "",
                 i, kExtensions[kind]);
        size_t size = static_cast<size_t>(static_cast<double>(left) * weights[static_cast<size_t>(i)] / total);
        p.files.push_back(PayloadFile{name, kind, std::max<size_t>(size, 1), Next(&s)});
    }
    p.bytes = 0;
    for (const PayloadFile& f : p.files) p.bytes += static_cast<int64_t>(f.size);
    return p;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Native and package paths are the same here: the bench uses ASCII names only.
std::string Native(const std::string& path) {
    std::string n = path;
    std::replace(n.begin(), n.end(), '\\', '/');
    return n;
}

bool WritePackage(const std::string& path, const Payload& payload, bool treeOrder, int64_t* packageBytes) {
    FILE* out = fopen(Native(path).c_str(), "w+b");
    if (out == nullptr) return false;
    std::vector<uint8_t> data(kImageSize, 0x90);
    bool ok = fwrite(data.data(), 1, data.size(), out) == data.size();
    PackageWriter writer;
    ok = ok && BeginPackage(&writer, out, kBenchLevel) == kPackageOk;
    for (const PayloadFile& f : payload.files) {
        if (!ok || f.kind != kStartup) break;
        Generate(f, &data);
        ok = AddFileEntry(&writer, f.name.c_str(), data.data(), data.size(), kBenchFileTime) == kPackageOk;
    }
    // As the makers' tool orders a package: every folder, then the files
    // folder by folder. In tree order each folder's files follow it at once.
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
            if (f.kind == kStartup) continue;
            size_t cut = f.name.rfind('\\');
            std::string parent = cut == std::string::npos ? "" : f.name.substr(0, cut);
            if (parent != folder) continue;
            Generate(f, &data);
            ok = AddFileEntry(&writer, f.name.c_str(), data.data(), data.size(), kBenchFileTime) == kPackageOk;
        }
    }
    ok = ok && FinishPackage(&writer) == kPackageOk;
    *packageBytes = ok ? PlatformTell(out) - writer.start : 0;
    // On disk, so that the cold Boot runs can drop it from the page cache.
    ok = ok && fsync(fileno(out)) == 0;
    return fclose(out) == 0 && ok;
}

int RemoveOne(const char* path, const struct stat*, int kind, struct FTW*) {
    return kind == FTW_DP ? rmdir(path) : unlink(path);
}

// Removes a folder and everything in it; a missing folder is fine.
void RemoveTree(const std::string& native) {
    struct stat st;
    if (stat(native.c_str(), &st) != 0) return;
    // Enough descriptors for the deepest folder of the payload.
    constexpr int kOpenFolders = 16;
    if (nftw(native.c_str(), RemoveOne, kOpenFolders, FTW_DEPTH | FTW_PHYS) != 0)
        fprintf(stderr, "extract_bench: cannot remove %s\n", native.c_str());
}

bool MakeFolder(const std::string& path) { return mkdir(Native(path).c_str(), 0777) == 0 || errno == EEXIST; }

// Writes back what earlier runs left dirty, so that no timed run pays for
// another's writeback.
void Settle(const std::string& work) {
    int fd = open(work.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        syncfs(fd);
        close(fd);
    }
}

// The updater's Full-mode walk (staging included). Returns seconds, or -1.
double TimeWalk(const std::string& package, const std::string& destination, ExtractMode mode) {
    double start = Now();
    PackageStream stream;
    if (OpenPackageStream(package.c_str(), &stream) != kPackageOk) return -1;
    int result = WalkPackage(&stream, destination.c_str(), mode, nullptr);
    ClosePackageStream(&stream);
    double seconds = Now() - start;
    if (result != kPackageOk) {
        fprintf(stderr, "extract_bench: walk failed at %s: %s\n", LastFailedEntry(), DescribePackageResult(result));
        return -1;
    }
    return seconds;
}

// The floor: the same streams inflated into memory and written in 128 KiB
// blocks to the same layout; no staging, no times. Returns seconds, or -1.
double TimeFloor(const std::string& package, const std::string& destination) {
    double start = Now();
    PackageStream stream;
    if (OpenPackageStream(package.c_str(), &stream) != kPackageOk) return -1;
    std::vector<uint8_t> input(kBlock), output(kBlock);
    bool ok = true;
    uint16_t nameLength = 0;
    PackageEntry entry;
    while (ok && ReadNameLength(&stream, &nameLength) == kPackageOk && nameLength != 0) {
        ok = ReadEntryHeader(&stream, nameLength, &entry) == kPackageOk;
        std::string target = Native(destination + "\\" + entry.name);
        if (!ok) break;
        if (entry.isFolder) {
            ok = mkdir(target.c_str(), 0777) == 0 || errno == EEXIST;
            continue;
        }
        uint8_t time[kFileTimeSize];
        ok = ReadPackageBytes(&stream, time, sizeof(time)) == sizeof(time);
        FILE* out = ok ? fopen(target.c_str(), "wb") : nullptr;
        if (out == nullptr) {
            ok = false;
            break;
        }
        z_stream z{};
        inflateInit(&z);
        uint32_t remaining = entry.packedSize;
        int code = Z_OK;
        while (ok && code != Z_STREAM_END) {
            if (z.avail_in == 0 && remaining > 0) {
                uint32_t chunk = std::min<uint32_t>(remaining, kBlock);
                z.avail_in = static_cast<uInt>(ReadPackageBytes(&stream, input.data(), chunk));
                z.next_in = input.data();
                remaining -= chunk;
            }
            z.next_out = output.data();
            z.avail_out = kBlock;
            code = inflate(&z, Z_NO_FLUSH);
            size_t n = kBlock - z.avail_out;
            ok = (code == Z_OK || code == Z_STREAM_END) && fwrite(output.data(), 1, n, out) == n;
        }
        inflateEnd(&z);
        ok = fclose(out) == 0 && ok;
    }
    ClosePackageStream(&stream);
    double seconds = Now() - start;
    return ok ? seconds : -1;
}

// Compares every payload file in two folders byte for byte.
bool SameFiles(const Payload& payload, const std::string& a, const std::string& b) {
    std::vector<char> x(kBlock), y(kBlock);
    for (const PayloadFile& f : payload.files) {
        FILE* fa = fopen(Native(a + "\\" + f.name).c_str(), "rb");
        FILE* fb = fopen(Native(b + "\\" + f.name).c_str(), "rb");
        bool same = fa != nullptr && fb != nullptr;
        while (same) {
            size_t na = fread(x.data(), 1, x.size(), fa), nb = fread(y.data(), 1, y.size(), fb);
            same = na == nb && memcmp(x.data(), y.data(), na) == 0;
            if (na == 0) break;
        }
        if (fa != nullptr) fclose(fa);
        if (fb != nullptr) fclose(fb);
        if (!same) {
            fprintf(stderr, "extract_bench: %s differs between the walk and the floor\n", f.name.c_str());
            return false;
        }
    }
    return true;
}

// Runs a Full walk in a child and returns the child's peak resident set in
// KiB (the child starts from this process's small footprint), or -1.
long PeakOfWalk(const std::string& package, const std::string& destination) {
    pid_t child = fork();
    if (child == 0) {
        double seconds = package.empty() ? 0 : TimeWalk(package, destination, kFullMode);
        _exit(seconds < 0 ? 1 : 0);
    }
    int status = 0;
    struct rusage usage;
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

struct Best {
    double seconds = 1e30;
    bool failed = false;
    void Add(double s) {
        if (s < 0) failed = true;
        else seconds = std::min(seconds, s);
    }
};

void PrintRow(const char* label, const Best& best, int64_t bytes) {
    if (best.failed) {
        printf("  %-44s  failed\n", label);
        return;
    }
    printf("  %-44s %9.3f s  %8.1f MiB/s\n", label, best.seconds, static_cast<double>(bytes) / kMiB / best.seconds);
}

int Usage() {
    fprintf(stderr,
            "usage: extract_bench [WORKDIR] [--mib N] [--files N] [--tree-order]\n"
            "  --mib N        payload of N MiB (default %lld)\n"
            "  --files N      spread over N files besides the start-up files (default %d)\n"
            "  --tree-order   each folder's files right after it, instead of the tool's folders-first order\n",
            static_cast<long long>(kDefaultPayloadMiB), kDefaultFileCount);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string work = "/tmp/extract_bench";
    int64_t payloadMiB = kDefaultPayloadMiB;
    bool treeOrder = false;
    int fileCount = kDefaultFileCount;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--mib") == 0 && i + 1 < argc) {
            payloadMiB = atoll(argv[++i]);
            if (payloadMiB < 4) return Usage();
        } else if (strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            fileCount = atoi(argv[++i]);
            if (fileCount < 1) return Usage();
        } else if (strcmp(argv[i], "--tree-order") == 0) {
            treeOrder = true;
        } else if (argv[i][0] == '-') {
            return Usage();
        } else {
            work = argv[i];
        }
    }
    // Package paths go through the platform as Shift-JIS; plain ASCII is both.
    for (char c : work)
        if (static_cast<unsigned char>(c) >= 0x80) {
            fprintf(stderr, "extract_bench: WORKDIR must be an ASCII path\n");
            return 2;
        }
    RemoveTree(work);
    if (mkdir(work.c_str(), 0777) != 0) {
        fprintf(stderr, "extract_bench: cannot create %s\n", work.c_str());
        return 1;
    }
    double started = Now();

    Payload big = MakePayload(payloadMiB * 1048576, fileCount);
    Payload quarter = MakePayload(payloadMiB * 1048576 / 4, fileCount);
    Payload small = MakePayload(kSmallPayload, fileCount);
    std::string bigPackage = work + "/big.exe", quarterPackage = work + "/quarter.exe", smallPackage = work + "/small.exe";
    int64_t bigBytes = 0, quarterBytes = 0, smallBytes = 0;
    double packStart = Now();
    if (!WritePackage(bigPackage, big, treeOrder, &bigBytes) ||
        !WritePackage(quarterPackage, quarter, treeOrder, &quarterBytes) ||
        !WritePackage(smallPackage, small, treeOrder, &smallBytes)) {
        fprintf(stderr, "extract_bench: cannot write the packages under %s\n", work.c_str());
        return 1;
    }
    double packSeconds = Now() - packStart;
    printf("extract_bench: payload %.1f MiB in %zu files and %zu folders; package %.1f MiB at level %d, %s\n"
           "  (packing the three packages took %.1f s)\n",
           static_cast<double>(big.bytes) / kMiB, big.files.size(), big.folders.size(),
           static_cast<double>(bigBytes) / kMiB, kBenchLevel, treeOrder ? "tree order" : "folders first", packSeconds);

    // (a) and (b) alternate, so that both meet the same cache and writeback
    // state. Each run gets folders of its own and nothing is deleted until
    // the end: a file system slows down creating files just after deleting
    // many, which an install folder never sees before an update.
    Best walkFresh, floorFresh, walkOver, floorOver;
    bool same = true;
    std::string lastWalk, lastFloor;
    for (int r = 0; r < kRepeats; ++r) {
        lastWalk = work + "/walk" + std::to_string(r);
        lastFloor = work + "/floor" + std::to_string(r);
        MakeFolder(lastWalk);
        MakeFolder(lastFloor);
        Settle(work);
        walkFresh.Add(TimeWalk(bigPackage, lastWalk, kFullMode));
        Settle(work);
        floorFresh.Add(TimeFloor(bigPackage, lastFloor));
        if (r == 0) same = SameFiles(big, lastWalk, lastFloor);
    }
    // An update over an existing install: every file is already there.
    for (int r = 0; r < kRepeats; ++r) {
        Settle(work);
        walkOver.Add(TimeWalk(bigPackage, lastWalk, kFullMode));
        Settle(work);
        floorOver.Add(TimeFloor(bigPackage, lastFloor));
    }
    for (int r = 0; r < kRepeats; ++r) {
        RemoveTree(work + "/walk" + std::to_string(r));
        RemoveTree(work + "/floor" + std::to_string(r));
    }

    // (f) the Full walk on 1, 2 and 4 inflating threads, fresh folders each time.
    const unsigned kWorkerCounts[] = {1, 2, 4};
    Best scaling[3];
    for (int r = 0; r < kRepeats; ++r) {
        for (int w = 0; w < 3; ++w) {
            std::string folder = work + "/workers" + std::to_string(w);
            RemoveTree(folder);
            MakeFolder(folder);
            Settle(work);
            SetExtractWorkers(kWorkerCounts[w]);
            scaling[w].Add(TimeWalk(bigPackage, folder, kFullMode));
        }
    }
    SetExtractWorkers(0);
    for (int w = 0; w < 3; ++w) RemoveTree(work + "/workers" + std::to_string(w));

    // (d) peaks, each in its own child.
    MakeFolder(work + "/peak_big");
    MakeFolder(work + "/peak_quarter");
    long baseline = PeakOfWalk("", "");
    long peakBig = PeakOfWalk(bigPackage, work + "/peak_big");
    long peakQuarter = PeakOfWalk(quarterPackage, work + "/peak_quarter");
    RemoveTree(work + "/peak_big");
    RemoveTree(work + "/peak_quarter");

    // (e) Boot walks into an empty folder each time, the package in the cache.
    Best bootBig, bootSmall;
    for (int r = 0; r < kBootRepeats; ++r) {
        std::string a = work + "/boot_big", b = work + "/boot_small";
        RemoveTree(a);
        RemoveTree(b);
        MakeFolder(a);
        MakeFolder(b);
        bootBig.Add(TimeWalk(bigPackage, a, kBootMode));
        bootSmall.Add(TimeWalk(smallPackage, b, kBootMode));
    }
    // The same with the package dropped from the page cache first: what a
    // player's first start after the download costs.
    Best coldBig, coldSmall;
    for (int r = 0; r < kRepeats; ++r) {
        for (const std::string* package : {&bigPackage, &smallPackage}) {
            int fd = open(package->c_str(), O_RDONLY);
            if (fd >= 0) {
                posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                close(fd);
            }
            std::string folder = work + (package == &bigPackage ? "/cold_big" : "/cold_small");
            RemoveTree(folder);
            MakeFolder(folder);
            (package == &bigPackage ? coldBig : coldSmall).Add(TimeWalk(*package, folder, kBootMode));
        }
    }

    // The walk once more with the C library keeping freed memory: each file
    // takes and releases two 128 KiB buffers, and when the library hands them
    // back to the system every file pays for fresh zeroed pages. Last, since
    // it changes the allocator for the rest of the process.
    Best walkKept;
    mallopt(M_MMAP_THRESHOLD, kKeptAllocation);
    mallopt(M_TRIM_THRESHOLD, kKeptAllocation);
    for (int r = 0; r < kRepeats; ++r) {
        std::string folder = work + "/kept" + std::to_string(r);
        MakeFolder(folder);
        Settle(work);
        walkKept.Add(TimeWalk(bigPackage, folder, kFullMode));
    }
    for (int r = 0; r < kRepeats; ++r) RemoveTree(work + "/kept" + std::to_string(r));

    int64_t bytes = big.bytes;
    printf("\n  %-44s %11s  %14s\n", "best of repeated runs", "time", "payload rate");
    PrintRow("(a)  Full walk into a fresh folder", walkFresh, bytes);
    PrintRow("(b)  floor: inflate + 128 KiB fwrite", floorFresh, bytes);
    printf("  %-44s %9.2fx  (target 1.30x or less)\n", "(c)  walk / floor", walkFresh.seconds / floorFresh.seconds);
    PrintRow("(a*) Full walk, malloc keeping freed memory", walkKept, bytes);
    printf("  %-44s %9.2fx\n", "(c*) walk with kept memory / floor", walkKept.seconds / floorFresh.seconds);
    PrintRow("(a') Full walk over an existing install", walkOver, bytes);
    PrintRow("(b') floor over the existing files", floorOver, bytes);
    printf("  %-44s %9.2fx  (target 1.30x or less)\n", "(c') walk / floor", walkOver.seconds / floorOver.seconds);
    printf("  %-44s %9.1f MiB  (package %.1f MiB)\n", "(d)  peak RSS, Full walk of the package", peakBig / 1024.0,
           static_cast<double>(bigBytes) / kMiB);
    printf("  %-44s %9.1f MiB  (package %.1f MiB)\n", "     peak RSS, Full walk of a quarter package",
           peakQuarter / 1024.0, static_cast<double>(quarterBytes) / kMiB);
    printf("  %-44s %9.1f MiB\n", "     peak RSS of a child that does nothing", baseline / 1024.0);
    printf("  %-44s %9.3f ms\n", "(e)  Boot walk, full package", bootBig.seconds * 1000);
    printf("  %-44s %9.3f ms  (package %.2f MiB)\n", "     Boot walk, small package", bootSmall.seconds * 1000,
           static_cast<double>(smallBytes) / kMiB);
    printf("  %-44s %9.2fx  (target under 1.10x)\n", "     full / small", bootBig.seconds / bootSmall.seconds);
    printf("  %-44s %9.3f ms / %.3f ms = %.2fx\n", "     the same, package not in the page cache", coldBig.seconds * 1000,
           coldSmall.seconds * 1000, coldBig.seconds / coldSmall.seconds);
    for (int w = 0; w < 3; ++w) {
        char label[64];
        snprintf(label, sizeof(label), "(f)  walk on %u thread%s / floor", kWorkerCounts[w], kWorkerCounts[w] > 1 ? "s" : "");
        printf("  %-44s %9.2fx  (%.3f s)\n", label, scaling[w].seconds / floorFresh.seconds, scaling[w].seconds);
    }
    printf("\nextract_bench: %.0f s in all\n", Now() - started);

    RemoveTree(work);
    bool failed = !same || walkFresh.failed || walkKept.failed || floorFresh.failed || walkOver.failed || floorOver.failed ||
                  peakBig < 0 || peakQuarter < 0 || bootBig.failed || bootSmall.failed;
    return failed ? 1 : 0;
}
