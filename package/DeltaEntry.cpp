#include "package/DeltaEntry.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "base/ByteReader.h"
#include "package/VcdiffDecoder.h"

int ParseDeltaFields(const uint8_t* bytes, size_t size, DeltaFields* fields) {
    ByteReader reader;
    InitReader(&reader, bytes, size);
    if (!ReadU32(&reader, &fields->sourceSize) || !ReadBytes(&reader, fields->sourceHash, kSha256Bytes) ||
        !ReadU32(&reader, &fields->targetSize) || !ReadBytes(&reader, fields->targetHash, kSha256Bytes))
        return kPackageTruncated;
    if (fields->sourceSize > kMaxPackageValue || fields->targetSize > kMaxPackageValue) return kPackageBadSize;
    return kPackageOk;
}

int ReadDeltaFields(PackageStream* package, DeltaFields* fields) {
    uint8_t raw[kDeltaFieldsSize];
    if (ReadPackageBytes(package, raw, sizeof(raw)) != sizeof(raw)) return kPackageTruncated;
    return ParseDeltaFields(raw, sizeof(raw), fields);
}

void StoreDeltaFields(const DeltaFields& fields, uint8_t out[kDeltaFieldsSize]) {
    StoreU32(out, fields.sourceSize);
    memcpy(out + 4, fields.sourceHash, kSha256Bytes);
    StoreU32(out + 4 + kSha256Bytes, fields.targetSize);
    memcpy(out + 8 + kSha256Bytes, fields.targetHash, kSha256Bytes);
}

int AddCompressedDeltaEntry(PackageWriter* writer, const char* name, const DeltaFields& fields,
                            const uint8_t* packed, size_t packedSize, uint64_t fileTime) {
    int result = CheckEntryName(name, strlen(name) + 1, false);
    if (result != kPackageOk) return result;
    if (IsStartupFile(name)) return kPackageBadName;
    if (fields.sourceSize > kMaxPackageValue || fields.targetSize > kMaxPackageValue ||
        packedSize > static_cast<size_t>(kMaxPackageValue))
        return kPackageBadSize;
    result = WriteEntryStart(writer->out, name, kDeltaEntrySize, static_cast<uint32_t>(packedSize), fileTime);
    if (result != kPackageOk) return result;
    uint8_t raw[kDeltaFieldsSize];
    StoreDeltaFields(fields, raw);
    if (fwrite(raw, 1, sizeof(raw), writer->out) != sizeof(raw) ||
        fwrite(packed, 1, packedSize, writer->out) != packedSize)
        return kPackageCannotWrite;
    return kPackageOk;
}

int HashFile(FILE* file, uint32_t* size, uint8_t hash[kSha256Bytes], const HashProgress* progress) {
    memset(hash, 0, kSha256Bytes);
    *size = 0;
    if (PlatformSeek(file, 0, SEEK_SET) != 0) return 1;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kTransferBlock]);
    PlatformSha256Hash* state = PlatformSha256Begin();
    if (!buffer || state == nullptr) {
        PlatformSha256End(state, hash);
        return 1;
    }
    uint64_t total = 0;
    bool failed = false;
    for (;;) {
        size_t got = fread(buffer.get(), 1, kTransferBlock, file);
        total += got;
        if (ferror(file) || total > static_cast<uint64_t>(kMaxPackageValue) ||
            PlatformSha256Add(state, buffer.get(), got) != 0) {
            failed = true;
            break;
        }
        if (progress != nullptr) progress->hashed(progress->context, static_cast<int64_t>(total));
        if (got < kTransferBlock) break;
    }
    if (PlatformSha256End(state, hash) != 0 || failed) {
        memset(hash, 0, kSha256Bytes);
        return 1;
    }
    *size = static_cast<uint32_t>(total);
    return 0;
}

int CheckDeltaSource(const char* path, const DeltaFields& fields, const HashProgress* progress) {
    FILE* file = PlatformOpenFile(path, "rb");
    if (file == nullptr) return kPackageSourceMismatch;
    int64_t length = -1;
    if (PlatformSeek(file, 0, SEEK_END) != 0 || (length = PlatformTell(file)) != fields.sourceSize) {
        fclose(file);
        return kPackageSourceMismatch;
    }
    uint32_t size = 0;
    uint8_t hash[kSha256Bytes];
    int failed = HashFile(file, &size, hash, progress);
    fclose(file);
    return failed == 0 && size == fields.sourceSize && memcmp(hash, fields.sourceHash, kSha256Bytes) == 0
               ? kPackageOk
               : kPackageSourceMismatch;
}

namespace {

// The decoder's view of a delta entry: the stream inflated as it asks, the
// source read by position, the target written and hashed.
struct Application {
    PackageStream* package;  // read in order
    const PackageStream* packageAt;  // or read at position
    int64_t position;
    int64_t packedLeft;
    int64_t packedRead;
    const DeltaProgress* progress;
    z_stream z;
    std::unique_ptr<uint8_t[]> input;
    bool streamEnded;
    int streamResult;
    FILE* source;
    FILE* target;
    PlatformSha256Hash* hash;
    uint64_t written;
};

int InflateDelta(void* context, uint8_t* out, size_t capacity, size_t* got) {
    Application* a = static_cast<Application*>(context);
    *got = 0;
    if (a->streamEnded) return 0;
    a->z.next_out = out;
    a->z.avail_out = static_cast<uInt>(capacity < kTransferBlock ? capacity : kTransferBlock);
    while (a->z.avail_out > 0 && !a->streamEnded) {
        if (a->z.avail_in == 0 && a->packedLeft > 0) {
            size_t want = a->packedLeft < kTransferBlock ? static_cast<size_t>(a->packedLeft) : kTransferBlock;
            size_t read = a->packageAt != nullptr
                              ? ReadPackageBytesAt(a->packageAt, a->input.get(), want, a->position + a->packedRead)
                              : ReadPackageBytes(a->package, a->input.get(), want);
            if (read != want) {
                a->streamResult = kPackageTruncated;
                return 1;
            }
            a->packedLeft -= static_cast<int64_t>(read);
            a->packedRead += static_cast<int64_t>(read);
            a->z.next_in = a->input.get();
            a->z.avail_in = static_cast<uInt>(read);
        }
        int code = inflate(&a->z, Z_NO_FLUSH);
        if (code == Z_STREAM_END) {
            // The stream ends exactly at the entry's last byte.
            if (a->z.avail_in != 0 || a->packedLeft != 0) {
                a->streamResult = kPackageCorruptStream;
                return 1;
            }
            a->streamEnded = true;
        } else if (code == Z_BUF_ERROR && a->z.avail_in == 0 && a->packedLeft == 0) {
            a->streamResult = kPackageTruncated;
            return 1;
        } else if (code != Z_OK && code != Z_BUF_ERROR) {
            a->streamResult = code == Z_MEM_ERROR ? kPackageNoMemory : kPackageCorruptStream;
            return 1;
        }
        if (a->z.avail_out < capacity && !a->streamEnded) break;  // hand over what there is
    }
    *got = static_cast<size_t>(a->z.next_out - out);
    return 0;
}

int ReadSource(void* context, uint64_t position, uint8_t* out, size_t size) {
    Application* a = static_cast<Application*>(context);
    if (position > static_cast<uint64_t>(kMaxPackageValue) ||
        PlatformSeek(a->source, static_cast<int64_t>(position), SEEK_SET) != 0)
        return 1;
    return fread(out, 1, size, a->source) == size ? 0 : 1;
}

int WriteTarget(void* context, const uint8_t* data, size_t size) {
    Application* a = static_cast<Application*>(context);
    if (fwrite(data, 1, size, a->target) != size) return 1;
    a->written += size;
    if (PlatformSha256Add(a->hash, data, size) != 0) return 1;
    if (a->progress == nullptr) return 0;
    return a->progress->applied(a->progress->context, static_cast<int64_t>(a->written), a->packedRead);
}

int Apply(PackageStream* package, const PackageStream* packageAt, int64_t position, uint32_t packedSize,
          const DeltaFields& fields, FILE* source, FILE* target, const DeltaProgress* progress) {
    Application a;
    a.package = package;
    a.packageAt = packageAt;
    a.position = position;
    a.packedLeft = packedSize;
    a.packedRead = 0;
    a.progress = progress;
    a.z = z_stream{};
    a.input.reset(new (std::nothrow) uint8_t[kTransferBlock]);
    a.streamEnded = false;
    a.streamResult = kPackageOk;
    a.source = source;
    a.target = target;
    a.hash = PlatformSha256Begin();
    a.written = 0;
    if (!a.input || a.hash == nullptr || inflateInit(&a.z) != Z_OK) {
        uint8_t ignored[kSha256Bytes];
        PlatformSha256End(a.hash, ignored);
        return kPackageNoMemory;
    }
    VcdiffStreams streams{&a, InflateDelta, ReadSource, WriteTarget};
    int decoded = DecodeVcdiff(&streams, fields.sourceSize, fields.targetSize);
    inflateEnd(&a.z);
    uint8_t hash[kSha256Bytes];
    int hashed = PlatformSha256End(a.hash, hash);
    switch (decoded) {
        case kVcdiffOk: break;
        case kVcdiffCannotReadDelta: return a.streamResult;
        case kVcdiffCannotReadSource: return kPackageSourceMismatch;
        case kVcdiffCannotWrite: return kPackageCannotWrite;
        case kVcdiffNoMemory: return kPackageNoMemory;
        default: return kPackageCorruptStream;
    }
    // The decoder reads the delta to its end, which is the stream's end at
    // the entry's last byte.
    if (!a.streamEnded) return kPackageCorruptStream;
    if (hashed != 0) return kPackageNoMemory;
    if (a.written != fields.targetSize || memcmp(hash, fields.targetHash, kSha256Bytes) != 0)
        return kPackageCorruptStream;
    return kPackageOk;
}

}  // namespace

int ApplyDeltaEntry(PackageStream* package, uint32_t packedSize, const DeltaFields& fields, FILE* source,
                    FILE* target) {
    return Apply(package, nullptr, 0, packedSize, fields, source, target, nullptr);
}

int ApplyDeltaEntryAt(const PackageStream* package, int64_t position, uint32_t packedSize, const DeltaFields& fields,
                      FILE* source, FILE* target, const DeltaProgress* progress) {
    return Apply(nullptr, package, position, packedSize, fields, source, target, progress);
}
