// Writes packages in the format that package/PackageFormat.h describes: the
// makers' tool builds updaters with it and the tests build their packages.
// A writer refuses what the reader would reject: a bad name or a size at or
// beyond 2^31.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct PackageWriter {
    FILE* out;
    int level;      // zlib compression level, 0-9
    int64_t start;  // offset of the first entry
    // Told the bytes of the current file read so far, after every block that
    // AddFileEntryFromStream reads; null for nobody.
    void (*progress)(void* context, int64_t fileBytes);
    void* progressContext;
};

// Starts a package at the current end of out (an updater image, or nothing),
// with nobody told of progress. Returns kPackageOk or kPackageCannotWrite.
int BeginPackage(PackageWriter* writer, FILE* out, int level);

// Adds a folder entry; a final '\' is added when name lacks it.
int AddFolderEntry(PackageWriter* writer, const char* name);

// Adds a file entry from memory.
int AddFileEntry(PackageWriter* writer, const char* name, const void* data, size_t size,
                 uint64_t fileTime);

// Adds a file entry streamed from in, patching the sizes in afterwards.
int AddFileEntryFromStream(PackageWriter* writer, const char* name, FILE* in, uint64_t fileTime);

// Compresses all of in into packed, byte for byte as AddFileEntryFromStream
// would write it, for a package written on several threads. Sets unpacked.
int CompressStream(FILE* in, int level, std::vector<uint8_t>* packed, int64_t* unpacked);

// Adds a file entry whose stream CompressStream made.
int AddCompressedFileEntry(PackageWriter* writer, const char* name, int64_t unpacked, const uint8_t* packed,
                           size_t packedSize, uint64_t fileTime);

// Writes an entry's name length, name, size fields and time, checking
// nothing: the start every file entry shares, for entries of another kind
// (package/DeltaEntry.h). Returns kPackageOk or kPackageCannotWrite.
int WriteEntryStart(FILE* out, const char* name, int32_t unpacked, uint32_t packed, uint64_t fileTime);

// Writes the end marker, the filler and the trailer, the filler long enough
// that the file ends on a multiple of kCertificateAlignment. The writer is done.
int FinishPackage(PackageWriter* writer);
