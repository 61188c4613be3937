#include "picture/RctEncoder.h"

#include <algorithm>
#include <cstring>

#include "base/ByteReader.h"

namespace {

// Most pixels a literal command carries, and a copy command copies.
constexpr size_t kLongLiteralMax = kRctLongLiteralBase + kRctLongCountMax;
constexpr size_t kLongCopyMax = kRctLongCopyBase + kRctLongCountMax;
// Up to this many literal pixels, short commands (one control byte each 127
// pixels) cost no more than the three bytes of one long command.
constexpr size_t kShortLiteralsUpTo = 3 * kRctShortLiteralMax;
// Control bytes of a long literal or long copy, with their u16 count.
constexpr size_t kLongCommandSize = 3;

struct CopySource {
    uint8_t entry;
    size_t distance;  // bytes back from the current pixel, at least one pixel
};

// Bytes equal at a and b from the start, looking at no more than limit.
size_t CommonBytes(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t i = 0;
    while (i + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + i, 8);
        memcpy(&y, b + i, 8);
        uint64_t diff = x ^ y;
        // Little-endian loads: the lowest differing byte is the first one.
        if (diff != 0) return i + static_cast<size_t>(__builtin_ctzll(diff) >> 3);
        i += 8;
    }
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

void AppendU16(std::vector<uint8_t>* out, size_t value) {
    out->push_back(static_cast<uint8_t>(value & 0xFF));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

// Writes pixels [first, first + count) as literal commands.
void AppendLiterals(const uint8_t* bgr, size_t first, size_t count, std::vector<uint8_t>* out) {
    while (count > 0) {
        size_t n;
        if (count > kShortLiteralsUpTo) {
            n = std::min(count, kLongLiteralMax);
            out->push_back(kRctLongLiteral);
            AppendU16(out, n - kRctLongLiteralBase);
        } else {
            n = std::min<size_t>(count, kRctShortLiteralMax);
            out->push_back(static_cast<uint8_t>(n - 1));
        }
        const uint8_t* from = bgr + first * kRctPixelSize;
        out->insert(out->end(), from, from + n * kRctPixelSize);
        first += n;
        count -= n;
    }
}

// Writes a copy of count pixels (at most kLongCopyMax) from an entry.
void AppendCopy(uint8_t entry, size_t count, std::vector<uint8_t>* out) {
    uint8_t ctl = static_cast<uint8_t>(kRctCopyFlag | (entry << 2));
    if (count > kRctShortCopyMax) {
        out->push_back(static_cast<uint8_t>(ctl | 3));
        AppendU16(out, count - kRctLongCopyBase);
    } else {
        out->push_back(static_cast<uint8_t>(ctl | (count - 1)));
    }
}

// Whether a copy of count pixels takes fewer bytes than sending them as
// literals. A copy that cuts a stretch of literals in two may cost another
// literal command after it: no more than the control bytes the pending
// literals already need (one up to 127 pixels, at most three beyond), so a
// one-pixel copy is taken only after a short stretch, longer ones always.
bool CopyPays(size_t count, size_t pendingLiterals) {
    size_t copyBytes = count > kRctShortCopyMax ? kLongCommandSize : 1;
    if (pendingLiterals > kRctShortLiteralMax) copyBytes += kLongCommandSize;
    else if (pendingLiterals > 0) copyBytes += 1;
    return copyBytes < count * kRctPixelSize;
}

// The entries that point back into the picture, one per distance (the lowest
// entry wins), nearest first. Entries that point at or past the current pixel
// (possible in pictures one to three pixels wide) are never usable.
std::vector<CopySource> UsableSources(int32_t width) {
    int64_t table[kRctOffsetEntries];
    BuildRctOffsetTable(width, table);
    std::vector<CopySource> sources;
    for (int e = 0; e < kRctOffsetEntries; ++e) {
        if (table[e] >= 0) continue;
        size_t distance = static_cast<size_t>(-table[e]);
        bool seen = false;
        for (const CopySource& s : sources) seen = seen || s.distance == distance;
        if (!seen) sources.push_back(CopySource{static_cast<uint8_t>(e), distance});
    }
    std::stable_sort(sources.begin(), sources.end(),
                     [](const CopySource& a, const CopySource& b) { return a.distance < b.distance; });
    return sources;
}

}  // namespace

size_t EncodeRctStream(const uint8_t* bgr, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    const size_t start = out->size();
    const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t totalBytes = total * kRctPixelSize;
    const std::vector<CopySource> sources = UsableSources(width);
    out->reserve(start + totalBytes / 4);
    out->insert(out->end(), bgr, bgr + kRctPixelSize);
    size_t p = 1;
    size_t literalStart = 1;
    while (p < total) {
        const size_t at = p * kRctPixelSize;
        const uint8_t* current = bgr + at;
        const size_t limit = std::min(total - p, kLongCopyMax) * kRctPixelSize;
        size_t best = 0;
        uint8_t bestEntry = 0;
        for (const CopySource& s : sources) {
            // Sorted by distance: the rest reach before the first pixel too.
            if (s.distance > at) break;
            const uint8_t* from = current - s.distance;
            if (from[0] != current[0] || from[1] != current[1] || from[2] != current[2]) continue;
            size_t length = CommonBytes(from, current, limit) / kRctPixelSize;
            if (length > best) {
                best = length;
                bestEntry = s.entry;
                if (best * kRctPixelSize == limit) break;
            }
        }
        if (best > 0 && CopyPays(best, p - literalStart)) {
            AppendLiterals(bgr, literalStart, p - literalStart, out);
            AppendCopy(bestEntry, best, out);
            p += best;
            literalStart = p;
        } else {
            ++p;
        }
    }
    AppendLiterals(bgr, literalStart, total - literalStart, out);
    return out->size() - start;
}

int EncodeRct(const uint8_t* bgr, int32_t width, int32_t height, int version, const char* name,
              std::vector<uint8_t>* out) {
    out->clear();
    if (width < 1 || height < 1 || (version != 0 && version != 1)) return kRctBadSize;
    int64_t bytes = static_cast<int64_t>(width) * height * static_cast<int64_t>(kRctPixelSize);
    int64_t stridedBytes = static_cast<int64_t>(RctStride(width)) * height;
    if (bytes > kMaxRctImageBytes || stridedBytes > kMaxRctImageBytes) return kRctBadSize;
    size_t nameLength = version == 1 && name != nullptr ? strlen(name) : 0;
    if (nameLength > kMaxRctNameLength) return kRctBadSize;

    uint8_t header[kRctHeaderSize];
    memcpy(header, version == 1 ? kRctMagicTc01 : kRctMagicTc00, kRctMagicSize);
    StoreU32(header + 8, static_cast<uint32_t>(width));
    StoreU32(header + 12, static_cast<uint32_t>(height));
    StoreU32(header + 16, 0);
    out->assign(header, header + kRctHeaderSize);
    if (version == 1) {
        AppendU16(out, nameLength);
        out->insert(out->end(), name, name + nameLength);
    }
    size_t packed = EncodeRctStream(bgr, width, height, out);
    StoreU32(out->data() + 16, static_cast<uint32_t>(packed));
    return kRctOk;
}
