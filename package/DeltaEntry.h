// Delta entries (package/PackageFormat.h): the fields that follow their time,
// how the makers' tool writes them, and how a reader checks an installed file
// against them and applies one onto it. The source is read by position and
// the target written in order, so memory stays that of the VCDIFF decoder
// (package/VcdiffDecoder.h) plus two transfer blocks, whatever the sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "services/Platform.h"

// Source size and hash, target size and hash.
constexpr size_t kDeltaFieldsSize = 4 + kSha256Bytes + 4 + kSha256Bytes;

struct DeltaFields {
    uint32_t sourceSize;
    uint8_t sourceHash[kSha256Bytes];
    uint32_t targetSize;
    uint8_t targetHash[kSha256Bytes];
};

// Reads the fields after a delta entry's time. Returns kPackageOk,
// kPackageTruncated, or kPackageBadSize for a size at or beyond 2^31.
int ReadDeltaFields(PackageStream* package, DeltaFields* fields);
// The same from 72 bytes in memory (the makers' tool's delta files).
int ParseDeltaFields(const uint8_t* bytes, size_t size, DeltaFields* fields);
// The 72 bytes of fields, as the package holds them.
void StoreDeltaFields(const DeltaFields& fields, uint8_t out[kDeltaFieldsSize]);

// Adds a delta entry whose stream CompressStream made of a VCDIFF delta.
// Refuses a name the reader would (kPackageBadName, start-up files too) and
// sizes at or beyond 2^31 (kPackageBadSize).
int AddCompressedDeltaEntry(PackageWriter* writer, const char* name, const DeltaFields& fields,
                            const uint8_t* packed, size_t packedSize, uint64_t fileTime);

// Told the bytes done so far while a file is hashed, block by block.
struct HashProgress {
    void (*hashed)(void* context, int64_t bytes);
    void* context;
};

// Hashes an open file from its start: *size its length. Nonzero when it
// cannot be read or is 2^31 bytes or more. progress may be null.
int HashFile(FILE* file, uint32_t* size, uint8_t hash[kSha256Bytes], const HashProgress* progress = nullptr);

// Checks that path holds the file a delta applies to. kPackageOk, or
// kPackageSourceMismatch when it is missing, unreadable, of another size or
// another hash; a file of another size is not read.
int CheckDeltaSource(const char* path, const DeltaFields& fields, const HashProgress* progress = nullptr);

// Told, as a delta is applied, the target bytes written and the stream bytes
// read so far; a nonzero return stops the application (kPackageCannotWrite).
struct DeltaProgress {
    int (*applied)(void* context, int64_t written, int64_t packedRead);
    void* context;
};

// Applies the delta entry whose stream (packedSize bytes) the package is at:
// inflates it, decodes it against source (read by position) and writes the
// target to target, checking its size and hash. Returns kPackageOk;
// kPackageTruncated or kPackageCorruptStream for a damaged stream, delta or
// target; kPackageSourceMismatch when the source cannot be read;
// kPackageCannotWrite; kPackageNoMemory. Leaves the package after the stream
// only on success.
int ApplyDeltaEntry(PackageStream* package, uint32_t packedSize, const DeltaFields& fields, FILE* source,
                    FILE* target);
// The same with the stream read at its absolute position (the stream's own
// position untouched, so several threads may apply at once), told to
// progress (may be null).
int ApplyDeltaEntryAt(const PackageStream* package, int64_t position, uint32_t packedSize, const DeltaFields& fields,
                      FILE* source, FILE* target, const DeltaProgress* progress);
