// The RCT picture format: a lossless 24-bit image of the program's own.
//
//   8 bytes  magic "zuTC00" (98 5A 92 9A 54 43 30 30) or "zuTC01" (... 30 31)
//   i32      width, i32 height, u32 packed length (all little-endian)
//   TC01 only: u16 n, then n bytes of a name that readers skip
//   packed pixel stream
//
// The stream starts with the first pixel (3 bytes, blue green red), then
// commands, each a control byte:
//   00-7E        literal run of ctl+1 pixels that follow
//   7F v16       literal run of v+128 pixels
//   80-FF        copy of (ctl&3)+1 pixels from earlier output at offset-table
//                entry (ctl>>2)&31; when ctl&3 is 3, a u16 v follows and v+4
//                pixels are copied
// Offsets are taken from the current pixel in the tightly packed image and
// wrap across row ends; overlapping copies repeat what they just wrote. For
// example a 2x2 picture "01 02 03  00 04 05 06  A5" is the pixels 010203 and
// 040506 on both rows.
//
// Error policy: nothing in a file is trusted. A header with a size below 1 or
// an image beyond kMaxRctImageBytes, a command that would write past the
// image, a copy from before its first pixel or from a pixel not yet written
// (narrow pictures), or a stream that ends before the
// image is complete rejects the whole picture; nothing is read outside the
// stream or written outside the image.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kRctMagicSize = 8;
constexpr uint8_t kRctMagicTc00[kRctMagicSize] = {0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x30};
constexpr uint8_t kRctMagicTc01[kRctMagicSize] = {0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x31};
// Magic, width, height and packed length.
constexpr size_t kRctHeaderSize = 20;
// The u16 name length of a TC01 file.
constexpr size_t kRctNameLengthSize = 2;
constexpr size_t kRctPixelSize = 3;
// The smallest stream: the first pixel.
constexpr uint32_t kRctMinPackedLength = 3;
// Largest image accepted: far beyond any window background, well inside the
// signed 32-bit byte positions of the format.
constexpr int64_t kMaxRctImageBytes = 256LL * 1024 * 1024;
constexpr int kRctOffsetEntries = 32;
// Control bytes and counts of the commands.
constexpr uint8_t kRctLongLiteral = 0x7F;
constexpr uint8_t kRctCopyFlag = 0x80;
constexpr uint32_t kRctShortLiteralMax = 127;
constexpr uint32_t kRctLongLiteralBase = 128;
constexpr uint32_t kRctShortCopyMax = 3;
constexpr uint32_t kRctLongCopyBase = 4;
constexpr uint32_t kRctLongCountMax = 0xFFFF;

enum RctResult {
    kRctOk = 0,
    kRctUnrecognised,     // not an RCT file: no picture, nothing reported
    kRctTruncated,        // the file or the stream ends early
    kRctBadSize,          // width, height or packed length out of range
    kRctCorrupt,          // a command writes past the end of the image
    kRctCopyBeforeStart,  // a copy from before the first pixel
    kRctForwardCopy,      // a copy from pixels not yet written (narrow pictures)
};

struct RctHeader {
    int version;  // 0 for TC00, 1 for TC01
    int32_t width;
    int32_t height;
    uint32_t packedLength;
    size_t streamOffset;  // where the packed stream starts in the file
};

// Parses the header at the start of data (size bytes; for TC01 the name
// length must be there too). Returns kRctOk, kRctUnrecognised, kRctTruncated
// or kRctBadSize.
int ParseRctHeader(const uint8_t* data, size_t size, RctHeader* header);

// Bytes per bitmap row: width x 3 rounded up to a multiple of 4.
int32_t RctStride(int32_t width);

// Byte offsets of the 32 copy sources for a picture of that width.
void BuildRctOffsetTable(int32_t width, int64_t table[kRctOffsetEntries]);

// Decodes stream (size bytes) into out, rows tightly packed (width x 3 bytes),
// out holding width x height x 3 bytes. Returns kRctOk, kRctTruncated,
// kRctCorrupt, kRctCopyBeforeStart or kRctForwardCopy; on failure out holds a
// partial image.
int DecodeRctStream(const uint8_t* stream, size_t size, int32_t width, int32_t height, uint8_t* out);

// Moves tightly packed rows to rows of stride bytes in place, the last row
// first; pixels must hold height x stride bytes.
void RestrideRctRows(uint8_t* pixels, int32_t width, int32_t height, int32_t stride);
