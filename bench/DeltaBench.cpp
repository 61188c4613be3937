// Delta patches against the established delta tools, on a release pair the
// benchmark generates: a 300 MiB archive of incompressible assets with
// (a) three assets replaced in place, (b) one asset inserted in the middle,
// (c) a tenth of the assets replaced; and (d) a folder of small scripts, a
// tenth of them edited. For each, the patch bytes of `patchtool diff`
// (each delta deflated as pack carries it, each whole file deflated) against
// `xdelta3 -9`, `bsdiff` and `zstd --patch-from --long=31 -19`, and the time
// and peak memory of `patchtool diff` against `xdelta3 -9`'s time. For each
// archive case, the updater's Full walk applying the delta against the same
// walk writing the new archive whole (each walk a process of its own, onto
// the released archive), and the delta walk's peak memory on an archive a
// quarter the size, which must stay where it is as the file grows.
//
//   delta_bench [WORKDIR] [--scale F]      (F = 1 for 300 MiB; 0.05 is quick)
//
// Needs about 3 GB under WORKDIR at scale 1 (on a real disk, for the walks)
// and bsdiff's memory (17 times the file). Prints figures with "met" or
// "not met"; never fails on them.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ExtractBenchKit.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "tools/DeltaFiles.h"
#include "tools/PackCommand.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr int64_t kArchiveBytes = 300LL << 20;
constexpr size_t kSmallestAsset = 64 << 10;
constexpr size_t kLargestAsset = 4 << 20;
constexpr int kScripts = 200;
// The targets the figures are held to.
constexpr double kBytesTarget = 1.1;  // patch bytes against the smallest other tool's
constexpr double kTimeTarget = 1.0;   // diff's time against xdelta3 -9's
constexpr double kWalkTarget = 1.2;   // the walk applying a delta against the walk writing the file whole
// The walk's peak on the archive against its peak on one a quarter the size:
// flat when it grows by at most this share of the archive's growth.
constexpr double kSmallerArchiveShare = 0.25;
constexpr double kFlatGrowthShare = 0.05;
// Walks of each kind; their median time counts.
constexpr int kWalkRounds = 3;
constexpr uint64_t kWalkFileTime = 132593079670000000ULL;
constexpr const char* kArchiveName = "data.arc";

uint64_t Next(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

struct Asset {
    size_t size;
    uint64_t seed;
};

std::vector<Asset> MakeAssets(int64_t total) {
    std::vector<Asset> assets;
    uint64_t state = 1;
    int64_t bytes = 0;
    while (bytes < total) {
        double f = static_cast<double>(Next(&state) % 1000000) / 1000000.0;
        size_t size = static_cast<size_t>(kSmallestAsset * std::pow(double(kLargestAsset) / kSmallestAsset, f));
        assets.push_back({size, Next(&state)});
        bytes += static_cast<int64_t>(size);
    }
    return assets;
}

bool WriteArchive(const std::string& path, const std::vector<Asset>& assets) {
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::vector<uint64_t> block;
    bool ok = true;
    for (const Asset& a : assets) {
        uint64_t state = a.seed;
        block.resize((a.size + 7) / 8);
        for (uint64_t& w : block) w = Next(&state);
        ok = ok && fwrite(block.data(), 1, a.size, out) == a.size;
    }
    return fclose(out) == 0 && ok;
}

// A script's text: lines of words, compressible as real scripts are.
std::string ScriptText(uint64_t seed, bool edited) {
    static const char* const kWords[] = {"if", "then", "call", "show", "wait", "scene", "flag", "set", "text",
                                         "choice", "jump", "end", "voice", "bgm", "fade", "hero", "says", "\"...\""};
    uint64_t state = seed;
    size_t lines = 50 + Next(&state) % 600;
    std::string text;
    for (size_t i = 0; i < lines; ++i) {
        if (edited && i == lines / 2) text += "text \"a line the new version adds\"\r\n";
        size_t words = 2 + Next(&state) % 8;
        for (size_t w = 0; w < words; ++w) {
            text += kWords[Next(&state) % (sizeof(kWords) / sizeof(kWords[0]))];
            text += w + 1 < words ? " " : "\r\n";
        }
    }
    return text;
}

bool WriteText(const std::string& path, const std::string& text) {
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
    return fclose(out) == 0 && ok;
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

struct Run {
    bool ok;
    double seconds;
    long peakKiB;
};

// Runs a command line through the shell, its output discarded; the wall time
// and the peak resident memory of its largest process.
Run Measure(const std::string& command) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", (command + " >/dev/null 2>&1").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return Run{WIFEXITED(status) && WEXITSTATUS(status) == 0, seconds, usage.ru_maxrss};
}

// What pack carries for a file of the patch folder: a delta's VCDIFF, or the
// whole file, deflated at pack's level.
int64_t PackedBytes(const std::string& path) {
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr) return -1;
    std::vector<uint8_t> bytes;
    uint8_t block[1 << 16];
    for (size_t got; (got = fread(block, 1, sizeof(block), in)) > 0;) bytes.insert(bytes.end(), block, block + got);
    fclose(in);
    size_t skip = IsDeltaFileName(path) ? kDeltaFileHeaderSize : 0;
    if (bytes.size() < skip) return -1;
    uLongf packed = compressBound(static_cast<uLong>(bytes.size() - skip));
    std::vector<uint8_t> out(packed);
    if (compress2(out.data(), &packed, bytes.data() + skip, static_cast<uLong>(bytes.size() - skip), 9) != Z_OK)
        return -1;
    return static_cast<int64_t>(packed) + static_cast<int64_t>(skip ? kDeltaFieldsSize : 0);
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

struct Figures {
    int64_t ours = 0, xdelta = 0, bsdiff = 0, zstd = 0;
    double oursSeconds = 0, xdeltaSeconds = 0;
    long oursPeakKiB = 0;
    bool failed = false;
};

// One file pair through every tool, added to the figures.
void CompareFile(const std::string& work, const std::string& oldFile, const std::string& newFile, Figures* f) {
    std::string out = work + "/out";
    Run x = Measure("xdelta3 -9 -e -f -S none -A -s " + Quote(oldFile) + " " + Quote(newFile) + " " + Quote(out));
    f->xdelta += FileSize(out);
    f->xdeltaSeconds += x.seconds;
    Run b = Measure("bsdiff " + Quote(oldFile) + " " + Quote(newFile) + " " + Quote(out));
    f->bsdiff += b.ok ? FileSize(out) : 0;
    Run z = Measure("zstd -q -f -19 --long=31 --patch-from=" + Quote(oldFile) + " " + Quote(newFile) + " -o " +
                    Quote(out));
    f->zstd += FileSize(out);
    f->failed = f->failed || !x.ok || !b.ok || !z.ok;
}

// patchtool diff over two folders; its patch folder's bytes as pack carries them.
void RunOurs(const std::string& work, const std::string& oldDir, const std::string& newDir,
             const std::vector<std::string>& changed, Figures* f) {
    std::string patch = work + "/patch";
    Measure("rm -rf " + Quote(patch));
    Run r = Measure(std::string(PATCHTOOL_PROGRAM) + " diff " + Quote(oldDir) + " " + Quote(newDir) + " " +
                    Quote(patch) + " --quiet");
    f->oursSeconds = r.seconds;
    f->oursPeakKiB = r.peakKiB;
    f->failed = f->failed || !r.ok;
    for (const std::string& name : changed) {
        int64_t delta = PackedBytes(patch + "/" + name + kDeltaFileSuffix);
        f->ours += delta >= 0 ? delta : PackedBytes(patch + "/" + name);
    }
}

void Report(const char* what, const Figures& f, bool timed) {
    int64_t smallest = f.xdelta;
    if (f.bsdiff > 0 && f.bsdiff < smallest) smallest = f.bsdiff;
    if (f.zstd > 0 && f.zstd < smallest) smallest = f.zstd;
    double ratio = smallest > 0 ? double(f.ours) / double(smallest) : 0;
    printf("%s\n  patch bytes: ours %lld, xdelta3 -9 %lld, bsdiff %lld, zstd --patch-from %lld: %.2fx the smallest "
           "(target <= %.1fx) %s\n",
           what, static_cast<long long>(f.ours), static_cast<long long>(f.xdelta), static_cast<long long>(f.bsdiff),
           static_cast<long long>(f.zstd), ratio, kBytesTarget, ratio <= kBytesTarget ? "met" : "not met");
    if (timed)
        printf("  diff time: ours %.2f s (peak %.0f MiB), xdelta3 -9 %.2f s: %s\n", f.oursSeconds,
               f.oursPeakKiB / 1024.0, f.xdeltaSeconds,
               f.oursSeconds <= f.xdeltaSeconds * kTimeTarget ? "met" : "not met");
    if (f.failed) printf("  (a tool failed on this pair; its figure is left out)\n");
}


// A package of one entry, the archive: the delta file made by diff, or the
// new archive whole, deflated as pack deflates it.
bool WriteWalkPackage(const std::string& path, const std::string& from, bool delta) {
    FILE* out = fopen(path.c_str(), "w+b");
    if (out == nullptr) return false;
    PackageWriter writer;
    bool ok = BeginPackage(&writer, out, kDefaultPackLevel) == kPackageOk;
    if (ok && delta) {
        ok = AddDeltaFileEntry(&writer, kArchiveName, from, kWalkFileTime) == kPackageOk;
    } else if (ok) {
        FILE* in = fopen(from.c_str(), "rb");
        ok = in != nullptr && AddFileEntryFromStream(&writer, kArchiveName, in, kWalkFileTime) == kPackageOk;
        if (in != nullptr) fclose(in);
    }
    ok = ok && FinishPackage(&writer) == kPackageOk;
    return fclose(out) == 0 && ok;
}

// Walks of package, each onto a fresh game folder holding the released
// archive (a hard link: the walk reads it, moves it aside and deletes only
// that name). The median time and the largest peak; -1 when a walk failed.
WalkFigures WalkOntoReleased(const std::string& work, const std::string& package, const std::string& released) {
    std::string game = work + "/game";
    std::vector<double> seconds;
    long peak = 0;
    for (int round = 0; round < kWalkRounds; ++round) {
        Measure("rm -rf " + Quote(game));
        mkdir(game.c_str(), 0755);
        if (link(released.c_str(), (game + "/" + kArchiveName).c_str()) != 0) return WalkFigures{-1, -1};
        // The walk flushes the whole file system before its commit: what the
        // benchmark itself just wrote (the packages, the previous walk's
        // folder) goes to the disk first, or the first walk timed pays for it.
        sync();
        WalkFigures one = WalkInFreshProcess(package, game);
        seconds.push_back(one.seconds);
        peak = one.peakKiB < 0 || peak < 0 ? -1 : std::max(peak, one.peakKiB);
    }
    Measure("rm -rf " + Quote(game));
    return WalkFigures{MedianSeconds(seconds), peak};
}

// The updater's walk applying the case's delta against writing its archive
// whole; the delta walk's figures are kept for the memory comparison.
WalkFigures CompareWalks(const std::string& work, const std::string& released, const std::string& newArchive) {
    std::string deltaFile = work + "/patch/" + kArchiveName + kDeltaFileSuffix;
    std::string deltaPackage = work + "/delta.pkg", wholePackage = work + "/whole.pkg";
    if (FileSize(deltaFile) < 0) {
        printf("  walk: diff shipped the archive whole; nothing to compare\n");
        return WalkFigures{-1, -1};
    }
    if (!WriteWalkPackage(deltaPackage, deltaFile, true) || !WriteWalkPackage(wholePackage, newArchive, false)) {
        printf("  walk: the packages could not be written\n");
        return WalkFigures{-1, -1};
    }
    WalkFigures delta = WalkOntoReleased(work, deltaPackage, released);
    WalkFigures whole = WalkOntoReleased(work, wholePackage, released);
    double ratio = Ratio(delta.seconds, whole.seconds);
    printf("  walk: applying the delta %.2f s (peak %.1f MiB), writing the archive whole %.2f s (peak %.1f MiB): "
           "%.2fx (target <= %.1fx) %s\n",
           delta.seconds, delta.peakKiB / 1024.0, whole.seconds, whole.peakKiB / 1024.0, ratio, kWalkTarget,
           TargetVerdict(ratio, kWalkTarget));
    unlink(deltaPackage.c_str());
    unlink(wholePackage.c_str());
    return delta;
}

// The delta walk's peak on a quarter-size archive with an asset inserted,
// against its peak on the full one (case b).
void ReportFlatPeak(const std::string& work, int64_t archiveBytes, const WalkFigures& full) {
    std::vector<Asset> assets = MakeAssets(static_cast<int64_t>(archiveBytes * kSmallerArchiveShare));
    int64_t smallBytes = 0;
    for (const Asset& a : assets) smallBytes += static_cast<int64_t>(a.size);
    std::vector<Asset> inserted = assets;
    inserted.insert(inserted.begin() + static_cast<long>(assets.size() / 2), Asset{1 << 20, 0x1234567});
    std::string oldArchive = work + "/small-old.arc", newArchive = work + "/small-new.arc";
    std::string deltaFile = work + "/small" + kDeltaFileSuffix, package = work + "/small-delta.pkg";
    DeltaChoice choice{};
    bool readFailed = false;
    WalkFigures small{-1, -1};
    if (WriteArchive(oldArchive, assets) && WriteArchive(newArchive, inserted) &&
        MakeDeltaFile(oldArchive, newArchive, deltaFile, kWalkFileTime, &choice, &readFailed) && choice.asDelta &&
        WriteWalkPackage(package, deltaFile, true))
        small = WalkOntoReleased(work, package, oldArchive);
    for (const std::string& path : {oldArchive, newArchive, deltaFile, package}) unlink(path.c_str());
    if (small.peakKiB < 0 || full.peakKiB < 0) {
        printf("walk's peak memory against the file's size: not measured (a walk failed)\n");
        return;
    }
    double growthMiB = (full.peakKiB - small.peakKiB) / 1024.0;
    double allowedMiB = kFlatGrowthShare * static_cast<double>(archiveBytes - smallBytes) / kMiB;
    printf("walk's peak memory applying a delta: %.1f MiB on a %.1f MiB archive, %.1f MiB on a %.1f MiB one: "
           "%+.1f MiB (flat: at most %.1f MiB) %s\n",
           small.peakKiB / 1024.0, smallBytes / kMiB, full.peakKiB / 1024.0, archiveBytes / kMiB, growthMiB,
           allowedMiB, growthMiB <= allowedMiB ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--walk") == 0) return WalkAndTell(argv[2], argv[3]);
    std::string work = "/tmp/delta-bench";
    double scale = 1.0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--scale") == 0 && i + 1 < argc) scale = atof(argv[++i]);
        else work = argv[i];
    }
    mkdir(work.c_str(), 0755);
    std::vector<Asset> assets = MakeAssets(static_cast<int64_t>(kArchiveBytes * scale));
    int64_t archiveBytes = 0;
    for (const Asset& a : assets) archiveBytes += static_cast<int64_t>(a.size);
    printf("archive: %zu assets, %.1f MiB\n", assets.size(), archiveBytes / kMiB);

    std::string oldDir = work + "/old", newDir = work + "/new";
    mkdir(oldDir.c_str(), 0755);
    mkdir(newDir.c_str(), 0755);
    if (!WriteArchive(oldDir + "/data.arc", assets)) return 1;
    struct Case {
        const char* what;
        std::vector<Asset> assets;
    };
    std::vector<Asset> inPlace = assets, inserted = assets, tenth = assets;
    for (size_t i : {assets.size() / 5, assets.size() / 2, assets.size() * 4 / 5}) inPlace[i].seed ^= 0xA5A5;
    inserted.insert(inserted.begin() + static_cast<long>(assets.size() / 2), Asset{1 << 20, 0x1234567});
    for (size_t i = 0; i < tenth.size(); i += 10) tenth[i].seed ^= 0x5A5A;
    Case cases[] = {
        {"(a) three assets replaced in place", inPlace},
        {"(b) one asset inserted in the middle", inserted},
        {"(c) a tenth of the assets replaced", tenth},
    };
    WalkFigures insertedWalk{-1, -1};
    for (const Case& c : cases) {
        if (!WriteArchive(newDir + "/data.arc", c.assets)) return 1;
        Figures f;
        RunOurs(work, oldDir, newDir, {"data.arc"}, &f);
        CompareFile(work, oldDir + "/data.arc", newDir + "/data.arc", &f);
        Report(c.what, f, true);
        WalkFigures walk = CompareWalks(work, oldDir + "/data.arc", newDir + "/data.arc");
        if (&c == &cases[1]) insertedWalk = walk;
        fflush(stdout);
    }
    ReportFlatPeak(work, archiveBytes, insertedWalk);

    std::string oldScripts = work + "/old-scripts", newScripts = work + "/new-scripts";
    mkdir(oldScripts.c_str(), 0755);
    mkdir(newScripts.c_str(), 0755);
    std::vector<std::string> changed;
    for (int i = 0; i < kScripts; ++i) {
        std::string name = "scene" + std::to_string(i) + ".scr";
        bool edited = i % 10 == 3;
        if (!WriteText(oldScripts + "/" + name, ScriptText(i + 1, false)) ||
            !WriteText(newScripts + "/" + name, ScriptText(i + 1, edited)))
            return 1;
        if (edited) changed.push_back(name);
    }
    Figures f;
    RunOurs(work, oldScripts, newScripts, changed, &f);
    for (const std::string& name : changed) CompareFile(work, oldScripts + "/" + name, newScripts + "/" + name, &f);
    Report("(d) small scripts, a tenth edited", f, false);
    return 0;
}
