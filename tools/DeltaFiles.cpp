#include "tools/DeltaFiles.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/PathRules.h"
#include "package/VcdiffDecoder.h"
#include "package/VcdiffEncoder.h"
#include "services/Platform.h"
#include "tools/ToolFiles.h"

namespace {

// The level deltas are deflated at in the estimate, as pack does by default.
constexpr int kDeltaEstimateLevel = 9;
// The whole file is deflated at zlib's fastest level for the estimate: the
// rule needs its order of size, not pack's exact bytes.
constexpr int kWholeEstimateLevel = 1;

bool EndsWithFolded(const std::string& name, const char* suffix) {
    size_t n = strlen(suffix);
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = name[name.size() - n + i], b = suffix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// A source of zeros and a target that is only counted: the delta's shape.
struct Shape {
    const uint8_t* delta;
    size_t size;
    size_t at;
    uint64_t made;
};

int ShapeDelta(void* context, uint8_t* out, size_t capacity, size_t* got) {
    Shape* s = static_cast<Shape*>(context);
    size_t n = s->size - s->at < capacity ? s->size - s->at : capacity;
    if (n > 0) memcpy(out, s->delta + s->at, n);
    s->at += n;
    *got = n;
    return 0;
}

int ShapeSource(void*, uint64_t, uint8_t* out, size_t size) {
    memset(out, 0, size);
    return 0;
}

int ShapeTarget(void* context, const uint8_t*, size_t size) {
    static_cast<Shape*>(context)->made += size;
    return 0;
}

// The deflated size of data at level, or of file when data is null; stops
// counting once it passes stopAbove (then *atLeast is set). -1 on failure.
int64_t DeflatedSize(const uint8_t* data, size_t size, FILE* file, int level, int64_t stopAbove, bool* atLeast) {
    *atLeast = false;
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK) return -1;
    std::vector<uint8_t> input(file != nullptr ? kTransferBlock : 0), output(kTransferBlock);
    int64_t total = 0;
    int flush = Z_NO_FLUSH;
    if (file == nullptr) {
        z.next_in = const_cast<uint8_t*>(data);
        z.avail_in = static_cast<uInt>(size);
        flush = Z_FINISH;
    }
    for (;;) {
        if (file != nullptr && z.avail_in == 0 && flush == Z_NO_FLUSH) {
            size_t got = fread(input.data(), 1, input.size(), file);
            if (ferror(file)) {
                total = -1;
                break;
            }
            z.next_in = input.data();
            z.avail_in = static_cast<uInt>(got);
            if (got < input.size()) flush = Z_FINISH;
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        int code = deflate(&z, flush);
        total += static_cast<int64_t>(output.size() - z.avail_out);
        if (code == Z_STREAM_END) break;
        if (code != Z_OK && code != Z_BUF_ERROR) {
            total = -1;
            break;
        }
        if (stopAbove >= 0 && total > stopAbove) {
            *atLeast = true;
            break;
        }
    }
    deflateEnd(&z);
    return total;
}

struct Encoding {
    FILE* target;
    PlatformSha256Hash* hash;
    uint64_t size;
    std::vector<uint8_t>* delta;
};

int EncodeRead(void* context, uint8_t* out, size_t capacity, size_t* got) {
    Encoding* e = static_cast<Encoding*>(context);
    *got = fread(out, 1, capacity, e->target);
    if (ferror(e->target)) return 1;
    e->size += *got;
    return PlatformSha256Add(e->hash, out, *got);
}

int EncodeWrite(void* context, const uint8_t* data, size_t size) {
    Encoding* e = static_cast<Encoding*>(context);
    e->delta->insert(e->delta->end(), data, data + size);
    return 0;
}

// A whole file in memory: mapped where the system allows, so that a
// release's archive of hundreds of megabytes is neither copied nor zeroed
// first; read into a buffer otherwise.
struct FileBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool mapped = false;
    std::unique_ptr<uint8_t[]> owned;
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { Release(); }
    void Release() {
        if (mapped) PlatformUnmapFile(data, size);
        owned.reset();
        data = nullptr;
        mapped = false;
    }
};

bool ReadWhole(const std::string& path, FileBytes* bytes) {
    FileHolder in(PlatformOpenFile(path.c_str(), "rb"));
    if (!in || PlatformSeek(in.get(), 0, SEEK_END) != 0) return false;
    int64_t size = PlatformTell(in.get());
    if (size < 0 || size > kMaxPackageValue || PlatformSeek(in.get(), 0, SEEK_SET) != 0) return false;
    bytes->size = static_cast<size_t>(size);
    if (size > 0 && (bytes->data = PlatformMapFile(in.get(), bytes->size)) != nullptr) {
        bytes->mapped = true;
        return true;
    }
    bytes->owned.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : bytes->size]);
    if (!bytes->owned) return false;
    bytes->data = bytes->owned.get();
    return size == 0 || fread(bytes->owned.get(), 1, bytes->size, in.get()) == bytes->size;
}


}  // namespace

bool IsDeltaFileName(const std::string& name) { return EndsWithFolded(name, kDeltaFileSuffix); }

std::string DeltaTargetName(const std::string& name) {
    return IsDeltaFileName(name) ? name.substr(0, name.size() - strlen(kDeltaFileSuffix)) : name;
}

const char* DescribeDeltaFileProblem(DeltaFileProblem problem) {
    switch (problem) {
        case kDeltaFileOk: return "ok";
        case kDeltaFileCannotRead: return "the delta file cannot be read";
        case kDeltaFileBadHeader: return "the delta file's header is damaged (magic, sizes or hashes)";
        case kDeltaFileBadDelta: return "the delta is damaged or does not make the size its header gives";
        default: return "unknown problem";
    }
}

int CheckDeltaShape(const uint8_t* vcdiff, size_t size, const DeltaFields& fields) {
    Shape shape{vcdiff, size, 0, 0};
    VcdiffStreams streams{&shape, ShapeDelta, ShapeSource, ShapeTarget, true};
    int result = DecodeVcdiff(&streams, fields.sourceSize, fields.targetSize);
    return result == kVcdiffOk && shape.made != fields.targetSize ? kVcdiffDamaged : result;
}

DeltaFileProblem ReadDeltaFile(const std::string& path, DeltaFields* fields, std::vector<uint8_t>* vcdiff) {
    FileBytes bytes;
    if (!ReadWhole(path, &bytes)) return kDeltaFileCannotRead;
    if (bytes.size < kDeltaFileHeaderSize || memcmp(bytes.data, kDeltaFileMagic, kDeltaFileMagicSize) != 0 ||
        ParseDeltaFields(bytes.data + kDeltaFileMagicSize, kDeltaFieldsSize, fields) != kPackageOk)
        return kDeltaFileBadHeader;
    vcdiff->assign(bytes.data + kDeltaFileHeaderSize, bytes.data + bytes.size);
    return CheckDeltaShape(vcdiff->data(), vcdiff->size(), *fields) == kVcdiffOk ? kDeltaFileOk : kDeltaFileBadDelta;
}

std::string DescribeShipping(const std::string& name, int64_t size, const DeltaChoice* choice) {
    char text[160];
    if (choice == nullptr)
        snprintf(text, sizeof(text), "whole, %lld bytes", static_cast<long long>(size));
    else if (choice->asDelta)
        snprintf(text, sizeof(text), "delta, %lld bytes deflated (the file: %lld bytes, %s%lld deflated)",
                 static_cast<long long>(choice->deltaBytes), static_cast<long long>(size),
                 choice->wholeAtLeast ? "over " : "", static_cast<long long>(choice->wholeBytes));
    else
        snprintf(text, sizeof(text), "whole, %lld bytes (a delta would be %lld deflated, the file %lld)",
                 static_cast<long long>(size), static_cast<long long>(choice->deltaBytes),
                 static_cast<long long>(choice->wholeBytes));
    return name + ": " + text;
}

int AddDeltaFileEntry(PackageWriter* writer, const char* name, const std::string& path, uint64_t fileTime) {
    DeltaFields fields;
    std::vector<uint8_t> vcdiff;
    if (ReadDeltaFile(path, &fields, &vcdiff) != kDeltaFileOk) return kPackageTruncated;
    uLongf packedSize = compressBound(static_cast<uLong>(vcdiff.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, vcdiff.data(), static_cast<uLong>(vcdiff.size()), writer->level) != Z_OK)
        return kPackageNoMemory;
    return AddCompressedDeltaEntry(writer, name, fields, packed.data(), packedSize, fileTime);
}

bool MakeDeltaFile(const std::string& oldPath, const std::string& newPath, const std::string& deltaPath,
                   uint64_t time, DeltaChoice* choice, bool* readFailed) {
    *choice = DeltaChoice{false, 0, 0, false};
    *readFailed = true;
    FileBytes source;
    if (!ReadWhole(oldPath, &source)) return false;
    DeltaFields fields{};
    fields.sourceSize = static_cast<uint32_t>(source.size);
    if (PlatformSha256(source.data, source.size, fields.sourceHash) != 0) return false;
    FileHolder target(PlatformOpenFile(newPath.c_str(), "rb"));
    if (!target) return false;
    std::vector<uint8_t> delta;
    Encoding e{target.get(), PlatformSha256Begin(), 0, &delta};
    VcdiffEncodeStreams streams{&e, EncodeRead, EncodeWrite};
    int encoded = EncodeVcdiff(source.data, source.size, &streams);
    bool hashed = PlatformSha256End(e.hash, fields.targetHash) == 0;
    if (encoded != kVcdiffEncodeOk || !hashed || e.size > static_cast<uint64_t>(kMaxPackageValue)) return false;
    fields.targetSize = static_cast<uint32_t>(e.size);
    source.Release();
    bool atLeast = false;
    choice->deltaBytes = DeflatedSize(delta.data(), delta.size(), nullptr, kDeltaEstimateLevel, -1, &atLeast);
    if (choice->deltaBytes < 0 || PlatformSeek(target.get(), 0, SEEK_SET) != 0) return false;
    // The count of the whole file stops as soon as the delta has clearly won.
    choice->wholeBytes = DeflatedSize(nullptr, 0, target.get(), kWholeEstimateLevel,
                                      choice->deltaBytes * kDeltaGainFactor, &choice->wholeAtLeast);
    if (choice->wholeBytes < 0) return false;
    *readFailed = false;
    choice->asDelta = choice->deltaBytes * kDeltaGainFactor < choice->wholeBytes;
    if (!choice->asDelta) return true;
    FileHolder out(PlatformOpenFile(deltaPath.c_str(), "wb"));
    if (!out) return false;
    uint8_t header[kDeltaFileHeaderSize];
    memcpy(header, kDeltaFileMagic, kDeltaFileMagicSize);
    StoreDeltaFields(fields, header + kDeltaFileMagicSize);
    bool written = fwrite(header, 1, sizeof(header), out.get()) == sizeof(header) &&
                   fwrite(delta.data(), 1, delta.size(), out.get()) == delta.size();
    if (!CloseWrittenFile(&out) || !written) return false;
    return PlatformSetFileTime(deltaPath.c_str(), time) == 0;
}
