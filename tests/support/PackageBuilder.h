// Builds packages for the tests in memory, entry by entry, including the
// malformed ones that the real writer refuses to produce.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fixed, recognisable last-write time: 2021-03-03 13:26:07 UTC.
constexpr uint64_t kTestFileTime = 132592515670000000ULL;

// zlib stream of data at the default level.
Bytes Deflate(const Bytes& data);
Bytes ToBytes(const std::string& text);

// Raw pieces of a package.
void AppendNameLength(Bytes* out, uint16_t length);
void AppendFolder(Bytes* out, const std::string& name);
void AppendFile(Bytes* out, const std::string& name, const Bytes& content,
                uint64_t fileTime = kTestFileTime);
// A file entry with every field given, for damaged packages.
void AppendRawFile(Bytes* out, const Bytes& nameBytes, int32_t unpacked, uint32_t packed,
                   uint64_t fileTime, const Bytes& stream);
void AppendEnd(Bytes* out);

// image bytes, then the entries, then the end marker, the filler and the trailer.
Bytes MakeProgramFile(const Bytes& image, const Bytes& entries);

// Writes bytes to a Shift-JIS path; returns false on failure.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
// Reads a whole file; false when it cannot be opened.
bool ReadFileBytes(const std::string& path, Bytes* bytes);

// The exit status a parent sees for exit(-1).
#ifdef _WIN32
constexpr int kExitCodeMinusOne = -1;
#else
constexpr int kExitCodeMinusOne = 255;
#endif
