#include "bench/ExtractBenchKit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Sizes of the mixed payload's files before scaling, log-uniform between these.
constexpr double kSmallestMixedFile = 4096;
constexpr double kLargestMixedFile = 4 * 1048576;
// The plain extractor's read and write buffers: what a careful hand-written
// extractor would pick, and the updater's own transfer block.
constexpr size_t kMinimalBlock = 128 * 1024;
// Package fields the plain extractor reads on its own.
constexpr size_t kTrailerBytes = 4;
constexpr size_t kNameLengthBytes = 2;
constexpr size_t kSizeBytes = 8;  // the unpacked and the packed size
constexpr size_t kLongestName = 260;  // with its NUL
constexpr size_t kTimeBytes = 8;
// Width of a picture file's rows, in pixels: a common screen width.
constexpr size_t kPictureWidth = 640;

const char* const kFolders[] = {"data",  "data\\maps", "data\\maps\\east", "gfx",  "gfx\\chars",
                                "gfx\\bg", "sound",     "sound\\voice",     "movie", "text"};
constexpr size_t kFolderCount = sizeof(kFolders) / sizeof(kFolders[0]);
const char* const kExtensions[] = {"dat", "scn", "bmp"};

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
    // Lines break past this column, as a script's text lines do.
    constexpr size_t kLineWidth = 70;
    uint64_t s = seed | 1;
    size_t i = 0, column = 0;
    while (i < out->size()) {
        const char* word = kWords[Next(&s) % kWordCount];
        for (const char* p = word; *p != '\0' && i < out->size(); ++p) (*out)[i++] = static_cast<uint8_t>(*p);
        column += strlen(word) + 1;
        if (i < out->size()) (*out)[i++] = column > kLineWidth ? '\n' : ' ';
        if (column > kLineWidth) column = 0;
    }
}

// A bottom-up 24-bit picture: a smooth gradient with flat rectangles over it.
void FillPicture(std::vector<uint8_t>* out, uint64_t seed) {
    uint64_t s = seed | 1;
    size_t pixels = out->size() / 3;
    size_t width = kPictureWidth;
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

// The start-up files and the folders every payload has.
Payload StartPayload() {
    Payload p;
    p.folders.assign(kFolders, kFolders + kFolderCount);
    p.files.push_back(PayloadFile{"install.env", kStartupData, 2000, 1});
    p.files.push_back(PayloadFile{"readme.txt", kStartupData, 8000, 2});
    p.files.push_back(PayloadFile{"insttscr.rct", kStartupData, 30000, 3});
    p.bytes = 0;
    return p;
}

// The i-th data file's name: one file in seven at the top, the others spread
// over the folders. Five digits keep every count's names equally long.
std::string DataFileName(int i) {
    PayloadKind kind = static_cast<PayloadKind>(i % 3);
    const char* folder = i % 7 == 0 ? nullptr : kFolders[static_cast<size_t>(i) % kFolderCount];
    char name[128];
    snprintf(name, sizeof(name), "%s%sfile%05d.%s", folder != nullptr ? folder : "", folder != nullptr ? "\\" : "", i,
             kExtensions[kind]);
    return name;
}

void CountBytes(Payload* p) {
    p->bytes = 0;
    for (const PayloadFile& f : p->files) p->bytes += static_cast<int64_t>(f.size);
}

uint32_t U32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Inflates one stream of packed bytes from in into fd (or nowhere, fd < 0).
bool InflateOne(FILE* in, uint32_t packed, int fd, std::vector<uint8_t>* input, std::vector<uint8_t>* output) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    uint32_t remaining = packed;
    int code = Z_OK;
    bool ok = true;
    while (ok && code != Z_STREAM_END) {
        // With nothing left to give, a stream that wants more input makes no
        // progress, and zlib says so with a buffer error.
        if (z.avail_in == 0 && remaining > 0) {
            size_t chunk = std::min<size_t>(remaining, kMinimalBlock);
            if (fread(input->data(), 1, chunk, in) != chunk) {
                ok = false;
                break;
            }
            z.next_in = input->data();
            z.avail_in = static_cast<uInt>(chunk);
            remaining -= static_cast<uint32_t>(chunk);
        }
        z.next_out = output->data();
        z.avail_out = static_cast<uInt>(kMinimalBlock);
        code = inflate(&z, Z_NO_FLUSH);
        size_t n = kMinimalBlock - z.avail_out;
        ok = (code == Z_OK || code == Z_STREAM_END) && (fd < 0 || WriteAll(fd, output->data(), n));
    }
    // Whatever the stream left unread belongs to it: the next entry starts after.
    ok = ok && z.avail_in == 0 && remaining == 0;
    inflateEnd(&z);
    return ok;
}

}  // namespace

Payload MakeMixedPayload(int64_t bytes, int fileCount) {
    Payload p = StartPayload();
    int64_t startup = 0;
    for (const PayloadFile& f : p.files) startup += static_cast<int64_t>(f.size);
    uint64_t s = 0x9E3779B97F4A7C15ULL;
    std::vector<double> weights;
    double total = 0;
    for (int i = 0; i < fileCount; ++i) {
        double u = static_cast<double>(Next(&s) % 1000000) / 1000000.0;
        double w = std::exp(std::log(kSmallestMixedFile) +
                            u * (std::log(kLargestMixedFile) - std::log(kSmallestMixedFile)));
        weights.push_back(w);
        total += w;
    }
    int64_t left = std::max<int64_t>(bytes - startup, fileCount);
    for (int i = 0; i < fileCount; ++i) {
        size_t size = static_cast<size_t>(static_cast<double>(left) * weights[static_cast<size_t>(i)] / total);
        p.files.push_back(
            PayloadFile{DataFileName(i), static_cast<PayloadKind>(i % 3), std::max<size_t>(size, 1), Next(&s)});
    }
    CountBytes(&p);
    return p;
}

Payload MakeSmallFilesPayload(int64_t bytes, int fileCount, size_t smallest, size_t largest) {
    Payload p = StartPayload();
    double mean = static_cast<double>(bytes) / std::max(fileCount, 1);
    double low = static_cast<double>(smallest), high = static_cast<double>(largest);
    // A uniform range's mean is its middle: move the far end towards the mean.
    if ((low + high) / 2 > mean) high = std::max(low, 2 * mean - low);
    else low = std::min(high, 2 * mean - high);
    uint64_t s = 0x2545F4914F6CDD1DULL;
    for (int i = 0; i < fileCount; ++i) {
        double u = static_cast<double>(Next(&s) % 1000000) / 1000000.0;
        size_t size = static_cast<size_t>(low + u * (high - low));
        p.files.push_back(PayloadFile{DataFileName(i), static_cast<PayloadKind>(i % 3), size, Next(&s)});
    }
    CountBytes(&p);
    return p;
}

void GeneratePayloadFile(const PayloadFile& f, std::vector<uint8_t>* out) {
    out->assign(f.size, 0);
    switch (f.kind) {
        case kRandomData: FillRandom(out, f.seed); break;
        case kTextData: FillText(out, f.seed); break;
        case kPictureData: FillPicture(out, f.seed); break;
        case kStartupData: FillStartup(out, f.seed); break;
    }
}

std::string NativePath(const std::string& path) {
    std::string n = path;
    std::replace(n.begin(), n.end(), '\\', '/');
    return n;
}

bool MinimalExtract(const std::string& program, const std::string& destination) {
    FILE* in = fopen(program.c_str(), "rb");
    if (in == nullptr) return false;
    setvbuf(in, nullptr, _IOFBF, kMinimalBlock);
    uint8_t field[kTimeBytes];
    bool ok = fseeko(in, -static_cast<off_t>(kTrailerBytes), SEEK_END) == 0 &&
              fread(field, 1, kTrailerBytes, in) == kTrailerBytes && fseeko(in, U32(field), SEEK_SET) == 0;
    std::vector<uint8_t> input(kMinimalBlock), output(kMinimalBlock);
    char name[kLongestName];
    while (ok) {
        if (fread(field, 1, kNameLengthBytes, in) != kNameLengthBytes) {
            ok = false;
            break;
        }
        size_t length = static_cast<size_t>(field[0] | field[1] << 8);
        if (length == 0) break;
        ok = length <= sizeof(name) && fread(name, 1, length, in) == length && name[length - 1] == '\0' &&
             fread(field, 1, kSizeBytes, in) == kSizeBytes;
        if (!ok) break;
        int32_t unpacked = static_cast<int32_t>(U32(field));
        uint32_t packed = U32(field + 4);
        std::string target = destination.empty() ? "" : destination + "/" + NativePath(name);
        if (unpacked < 0) {  // a folder entry
            if (!target.empty()) ok = mkdir(target.c_str(), 0777) == 0 || errno == EEXIST;
            continue;
        }
        ok = fread(field, 1, kTimeBytes, in) == kTimeBytes;
        int fd = -1;
        if (ok && !target.empty()) {
            fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            ok = fd >= 0;
        }
        ok = ok && InflateOne(in, packed, fd, &input, &output);
        if (fd >= 0) ok = close(fd) == 0 && ok;
    }
    fclose(in);
    return ok;
}

double MedianSeconds(std::vector<double> seconds) {
    if (seconds.empty()) return -1;
    for (double s : seconds)
        if (s < 0) return -1;
    std::sort(seconds.begin(), seconds.end());
    size_t n = seconds.size();
    return n % 2 == 1 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
}

double Ratio(double seconds, double reference) {
    if (seconds < 0 || reference <= 0) return -1;
    return seconds / reference;
}

const char* TargetVerdict(double ratio, double target) {
    if (ratio < 0) return "n/a";
    return ratio <= target ? "met" : "not met";
}

static double SecondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double TimeWalk(const std::string& package, const std::string& destination, ExtractMode mode) {
    double start = SecondsNow();
    PackageStream stream;
    if (OpenPackageStream(package.c_str(), &stream) != kPackageOk) return -1;
    int result = WalkPackage(&stream, destination.c_str(), mode, nullptr);
    ClosePackageStream(&stream);
    double seconds = SecondsNow() - start;
    if (result != kPackageOk) {
        fprintf(stderr, "walk failed at %s: %s\n", LastFailedEntry(), DescribePackageResult(result));
        return -1;
    }
    return seconds;
}

WalkFigures WalkInFreshProcess(const std::string& package, const std::string& destination) {
    WalkFigures failed{-1, -1};
    int out[2];
    if (pipe(out) != 0) return failed;
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl("/proc/self/exe", "walk", "--walk", package.c_str(), destination.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char text[128] = {};
    ssize_t got = child > 0 ? read(out[0], text, sizeof(text) - 1) : -1;
    close(out[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || got <= 0)
        return failed;
    WalkFigures figures = failed;
    if (sscanf(text, "%lf %ld", &figures.seconds, &figures.peakKiB) != 2) return failed;
    return figures;
}

int WalkAndTell(const std::string& package, const std::string& destination) {
    double seconds = package.empty() ? 0 : TimeWalk(package, destination, kFullMode);
    if (seconds < 0) return 1;
    FILE* status = fopen("/proc/self/status", "r");
    if (status == nullptr) return 1;
    char line[256];
    long peak = -1;
    while (fgets(line, sizeof(line), status) != nullptr)
        if (strncmp(line, "VmHWM:", 6) == 0) peak = atol(line + 6);
    fclose(status);
    printf("%.6f %ld\n", seconds, peak);
    return peak < 0 ? 1 : 0;
}
