#include "picture/RctFormat.h"

#include <cstring>

#include "base/ByteReader.h"

namespace {

struct Offset {
    int dx;
    int dy;
};

// The copy sources, by entry: six to the left, then rows one to four above.
constexpr Offset kOffsets[kRctOffsetEntries] = {
    {-1, 0},  {-2, 0},  {-3, 0},  {-4, 0},  {-5, 0},  {-6, 0},  {3, -1},  {2, -1},
    {1, -1},  {0, -1},  {-1, -1}, {-2, -1}, {-3, -1}, {3, -2},  {2, -2},  {1, -2},
    {0, -2},  {-1, -2}, {-2, -2}, {-3, -2}, {3, -3},  {2, -3},  {1, -3},  {0, -3},
    {-1, -3}, {-2, -3}, {-3, -3}, {2, -4},  {1, -4},  {0, -4},  {-1, -4}, {-2, -4},
};

}  // namespace

int ParseRctHeader(const uint8_t* data, size_t size, RctHeader* header) {
    ByteReader r;
    InitReader(&r, data, size);
    uint8_t magic[kRctMagicSize];
    if (!ReadBytes(&r, magic, sizeof(magic))) return kRctTruncated;
    if (memcmp(magic, kRctMagicTc00, kRctMagicSize) == 0) header->version = 0;
    else if (memcmp(magic, kRctMagicTc01, kRctMagicSize) == 0) header->version = 1;
    else return kRctUnrecognised;
    if (!ReadI32(&r, &header->width) || !ReadI32(&r, &header->height) || !ReadU32(&r, &header->packedLength))
        return kRctTruncated;
    header->streamOffset = kRctHeaderSize;
    if (header->version == 1) {
        uint16_t nameLength = 0;
        if (!ReadU16(&r, &nameLength)) return kRctTruncated;
        header->streamOffset += kRctNameLengthSize + nameLength;
    }
    if (header->width < 1 || header->height < 1 || header->packedLength < kRctMinPackedLength) return kRctBadSize;
    int64_t bytes = static_cast<int64_t>(header->width) * header->height * kRctPixelSize;
    int64_t stridedBytes = static_cast<int64_t>(RctStride(header->width)) * header->height;
    if (bytes > kMaxRctImageBytes || stridedBytes > kMaxRctImageBytes) return kRctBadSize;
    return kRctOk;
}

int32_t RctStride(int32_t width) {
    return static_cast<int32_t>((static_cast<int64_t>(width) * kRctPixelSize + 3) & ~int64_t{3});
}

void BuildRctOffsetTable(int32_t width, int64_t table[kRctOffsetEntries]) {
    for (int e = 0; e < kRctOffsetEntries; ++e)
        table[e] = (static_cast<int64_t>(kOffsets[e].dy) * width + kOffsets[e].dx) * kRctPixelSize;
}

int DecodeRctStream(const uint8_t* stream, size_t size, int32_t width, int32_t height, uint8_t* out) {
    const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height) * kRctPixelSize;
    if (size < kRctPixelSize) return kRctTruncated;
    int64_t offsets[kRctOffsetEntries];
    BuildRctOffsetTable(width, offsets);
    memcpy(out, stream, kRctPixelSize);
    size_t o = kRctPixelSize;
    size_t i = kRctPixelSize;
    while (o < total) {
        if (i >= size) return kRctTruncated;
        uint8_t ctl = stream[i++];
        size_t count;
        if (ctl & kRctCopyFlag) {
            if ((ctl & 3) == 3) {
                if (size - i < 2) return kRctTruncated;
                count = (stream[i] | (stream[i + 1] << 8)) + kRctLongCopyBase;
                i += 2;
            } else {
                count = (ctl & 3) + 1u;
            }
            int64_t source = static_cast<int64_t>(o) + offsets[(ctl >> 2) & 0x1F];
            size_t bytes = count * kRctPixelSize;
            if (source < 0) return kRctCopyBeforeStart;
            // In narrow pictures some entries point at or past the current pixel.
            if (source >= static_cast<int64_t>(o)) return kRctForwardCopy;
            if (bytes > total - o) return kRctCorrupt;
            // Byte by byte: an overlapping copy repeats what it has just written.
            const uint8_t* from = out + source;
            uint8_t* to = out + o;
            for (size_t k = 0; k < bytes; ++k) to[k] = from[k];
            o += bytes;
        } else {
            if (ctl == kRctLongLiteral) {
                if (size - i < 2) return kRctTruncated;
                count = (stream[i] | (stream[i + 1] << 8)) + kRctLongLiteralBase;
                i += 2;
            } else {
                count = ctl + 1u;
            }
            size_t bytes = count * kRctPixelSize;
            if (bytes > total - o) return kRctCorrupt;
            if (bytes > size - i) return kRctTruncated;
            memcpy(out + o, stream + i, bytes);
            o += bytes;
            i += bytes;
        }
    }
    return kRctOk;
}

void RestrideRctRows(uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
    size_t row = static_cast<size_t>(width) * kRctPixelSize;
    if (static_cast<size_t>(stride) == row) return;
    for (int32_t r = height - 1; r >= 0; --r)
        memmove(pixels + static_cast<size_t>(r) * stride, pixels + static_cast<size_t>(r) * row, row);
}
