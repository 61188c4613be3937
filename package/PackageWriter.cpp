#include "package/PackageWriter.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/ByteReader.h"
#include "package/PackageFormat.h"
#include "services/Platform.h"
#include "base/PathRules.h"

namespace {

bool Put(FILE* out, const void* data, size_t size) { return fwrite(data, 1, size, out) == size; }

// Writes the name length, name and size fields; returns the offset of the size fields.
int WriteHeader(FILE* out, const char* name, int32_t unpacked, uint32_t packed, int64_t* sizesAt) {
    size_t length = strlen(name) + 1;
    uint8_t raw[kNameLengthSize];
    StoreU16(raw, static_cast<uint16_t>(length));
    if (!Put(out, raw, sizeof(raw)) || !Put(out, name, length)) return kPackageCannotWrite;
    if (sizesAt != nullptr) *sizesAt = PlatformTell(out);
    uint8_t sizes[kSizeFieldsSize];
    StoreU32(sizes, static_cast<uint32_t>(unpacked));
    StoreU32(sizes + 4, packed);
    return Put(out, sizes, sizeof(sizes)) ? kPackageOk : kPackageCannotWrite;
}

int WriteTime(FILE* out, uint64_t fileTime) {
    uint8_t raw[kFileTimeSize];
    StoreU64(raw, fileTime);
    return Put(out, raw, sizeof(raw)) ? kPackageOk : kPackageCannotWrite;
}

}  // namespace

int BeginPackage(PackageWriter* writer, FILE* out, int level) {
    writer->out = out;
    writer->level = level;
    writer->progress = nullptr;
    writer->progressContext = nullptr;
    if (PlatformSeek(out, 0, SEEK_END) != 0) return kPackageCannotWrite;
    writer->start = PlatformTell(out);
    return writer->start >= 0 && writer->start <= kMaxPackageValue ? kPackageOk : kPackageCannotWrite;
}

int AddFolderEntry(PackageWriter* writer, const char* name) {
    char folder[kMaxEntryName];
    if (!CopyText(folder, sizeof(folder), name)) return kPackageBadName;
    if (!EndsInSeparator(folder) && !AppendText(folder, sizeof(folder), "\\")) return kPackageBadName;
    int result = CheckEntryName(folder, strlen(folder) + 1, true);
    if (result != kPackageOk) return result;
    return WriteHeader(writer->out, folder, kFolderEntrySize, 0, nullptr);
}

int AddFileEntry(PackageWriter* writer, const char* name, const void* data, size_t size,
                 uint64_t fileTime) {
    int result = CheckEntryName(name, strlen(name) + 1, false);
    if (result != kPackageOk) return result;
    if (size > static_cast<size_t>(kMaxPackageValue)) return kPackageBadSize;
    uLongf packedSize = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, static_cast<const Bytef*>(data), static_cast<uLong>(size),
                  writer->level) != Z_OK)
        return kPackageNoMemory;
    if (packedSize > static_cast<uLongf>(kMaxPackageValue)) return kPackageBadSize;
    result = WriteHeader(writer->out, name, static_cast<int32_t>(size), static_cast<uint32_t>(packedSize),
                         nullptr);
    if (result == kPackageOk) result = WriteTime(writer->out, fileTime);
    if (result == kPackageOk && !Put(writer->out, packed.data(), packedSize)) result = kPackageCannotWrite;
    return result;
}

// Where deflated bytes go: the package file, or memory.
struct DeflateSink {
    FILE* file;
    std::vector<uint8_t>* memory;
    bool Put(const uint8_t* data, size_t size) {
        if (file != nullptr) return ::Put(file, data, size);
        memory->insert(memory->end(), data, data + size);
        return true;
    }
};

// Deflates all of in into sink in transfer blocks; every stream of a package
// is made here, so that it has the same bytes wherever it goes.
static int DeflateInto(FILE* in, int level, DeflateSink sink, const PackageWriter* progressTo, int64_t* unpacked,
                       int64_t* packed) {
    std::vector<uint8_t> input(kTransferBlock), output(kTransferBlock);
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK) return kPackageNoMemory;
    *unpacked = 0;
    *packed = 0;
    int result = kPackageOk;
    int flush = Z_NO_FLUSH;
    while (result == kPackageOk) {
        if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
            size_t got = fread(input.data(), 1, input.size(), in);
            if (ferror(in)) result = kPackageTruncated;
            *unpacked += static_cast<int64_t>(got);
            if (progressTo != nullptr && progressTo->progress != nullptr)
                progressTo->progress(progressTo->progressContext, *unpacked);
            z.next_in = input.data();
            z.avail_in = static_cast<uInt>(got);
            if (got < input.size()) flush = Z_FINISH;
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        int code = deflate(&z, flush);
        size_t produced = output.size() - z.avail_out;
        *packed += static_cast<int64_t>(produced);
        if (!sink.Put(output.data(), produced)) result = kPackageCannotWrite;
        if (code == Z_STREAM_END) break;
        if (code != Z_OK && code != Z_BUF_ERROR) result = kPackageCorruptStream;
        if (*unpacked > kMaxPackageValue || *packed > kMaxPackageValue) result = kPackageBadSize;
    }
    deflateEnd(&z);
    if (result != kPackageOk) return result;
    return *unpacked > kMaxPackageValue || *packed > kMaxPackageValue ? kPackageBadSize : kPackageOk;
}

int AddFileEntryFromStream(PackageWriter* writer, const char* name, FILE* in, uint64_t fileTime) {
    int result = CheckEntryName(name, strlen(name) + 1, false);
    if (result != kPackageOk) return result;
    int64_t sizesAt = 0;
    result = WriteHeader(writer->out, name, 0, 0, &sizesAt);
    if (result == kPackageOk) result = WriteTime(writer->out, fileTime);
    if (result != kPackageOk) return result;
    int64_t unpacked = 0, packed = 0;
    result = DeflateInto(in, writer->level, DeflateSink{writer->out, nullptr}, writer, &unpacked, &packed);
    if (result != kPackageOk) return result;
    uint8_t sizes[kSizeFieldsSize];
    StoreU32(sizes, static_cast<uint32_t>(unpacked));
    StoreU32(sizes + 4, static_cast<uint32_t>(packed));
    int64_t end = PlatformTell(writer->out);
    if (PlatformSeek(writer->out, sizesAt, SEEK_SET) != 0 || !Put(writer->out, sizes, sizeof(sizes)) ||
        PlatformSeek(writer->out, end, SEEK_SET) != 0)
        return kPackageCannotWrite;
    return kPackageOk;
}

int CompressStream(FILE* in, int level, std::vector<uint8_t>* packed, int64_t* unpacked) {
    packed->clear();
    int64_t packedSize = 0;
    return DeflateInto(in, level, DeflateSink{nullptr, packed}, nullptr, unpacked, &packedSize);
}

int AddCompressedFileEntry(PackageWriter* writer, const char* name, int64_t unpacked, const uint8_t* packed,
                           size_t packedSize, uint64_t fileTime) {
    int result = CheckEntryName(name, strlen(name) + 1, false);
    if (result != kPackageOk) return result;
    if (unpacked > kMaxPackageValue || packedSize > static_cast<size_t>(kMaxPackageValue)) return kPackageBadSize;
    result = WriteHeader(writer->out, name, static_cast<int32_t>(unpacked), static_cast<uint32_t>(packedSize), nullptr);
    if (result == kPackageOk) result = WriteTime(writer->out, fileTime);
    if (result == kPackageOk && !Put(writer->out, packed, packedSize)) result = kPackageCannotWrite;
    return result;
}

int WriteEntryStart(FILE* out, const char* name, int32_t unpacked, uint32_t packed, uint64_t fileTime) {
    int result = WriteHeader(out, name, unpacked, packed, nullptr);
    return result == kPackageOk ? WriteTime(out, fileTime) : result;
}

int FinishPackage(PackageWriter* writer) {
    // The filler grows so that the file ends on the certificate table's
    // boundary: signing then appends the table without padding.
    int64_t at = PlatformTell(writer->out);
    if (at < 0) return kPackageCannotWrite;
    int64_t end = at + static_cast<int64_t>(kNameLengthSize + kPackageFillerSize + kTrailerSize);
    size_t extra = static_cast<size_t>((kCertificateAlignment - end % kCertificateAlignment) % kCertificateAlignment);
    uint8_t tail[kNameLengthSize + kMaxPackageFillerSize + kTrailerSize] = {};
    size_t size = kNameLengthSize + kPackageFillerSize + extra + kTrailerSize;
    StoreU32(tail + size - kTrailerSize, static_cast<uint32_t>(writer->start));
    if (!Put(writer->out, tail, size)) return kPackageCannotWrite;
    int64_t length = PlatformTell(writer->out) - kTrailerSize - writer->start;
    if (length > kMaxPackageValue) return kPackageBadSize;
    return fflush(writer->out) == 0 ? kPackageOk : kPackageCannotWrite;
}
