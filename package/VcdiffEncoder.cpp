#include "package/VcdiffEncoder.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "package/VcdiffFormat.h"

namespace {

// Sizes are package values: below 2^31.
constexpr uint64_t kLargestFile = 0x7FFFFFFF;
// The shortest copy worth its instruction and address, and the shortest run
// of one byte written as a run rather than added.
constexpr uint32_t kMinCopy = 8;
constexpr uint32_t kMinRun = 8;
// Multiplier of the rolling hash, and the one that spreads it over the table.
constexpr uint32_t kRollFactor = 0x01000193;
constexpr uint32_t kSpreadFactor = 0x9E3779B1;
// Codes of the default table that take their size from the instructions.
constexpr uint8_t kCodeRun = 0;
constexpr uint8_t kCodeAddSized = 1;
constexpr uint8_t kCodeCopySized = 19;
constexpr uint8_t kCopyCodesPerMode = 16;
constexpr uint32_t kLargestAddCode = 17;
constexpr uint32_t kLargestCopyCode = 18;
constexpr uint32_t kSmallestCopyCode = 4;

struct SourceIndex {
    const uint8_t* bytes;
    uint64_t size;
    uint32_t block;
    uint32_t shift;                       // 32 - log2(slots)
    std::unique_ptr<uint32_t[]> slots;    // block number + 1, 0 when empty
    uint32_t power;                       // kRollFactor^(block - 1)
};

uint32_t HashOf(const uint8_t* bytes, uint32_t length) {
    uint32_t h = 0;
    for (uint32_t i = 0; i < length; ++i) h = h * kRollFactor + bytes[i];
    return h;
}

uint32_t SlotOf(const SourceIndex& index, uint32_t hash) {
    return index.shift >= 32 ? 0 : (hash * kSpreadFactor) >> index.shift;
}

bool BuildIndex(const uint8_t* source, uint64_t size, SourceIndex* index) {
    index->bytes = source;
    index->size = size;
    uint64_t block = (size + kMaxDeltaBlocks - 1) / kMaxDeltaBlocks;
    index->block = static_cast<uint32_t>(block < kMinDeltaBlock ? kMinDeltaBlock : block);
    uint64_t blocks = size / index->block;
    uint32_t bits = 0;
    while ((1ULL << bits) < blocks) ++bits;
    index->shift = 32 - bits;
    index->slots.reset(new (std::nothrow) uint32_t[size_t(1) << bits]());
    if (!index->slots) return false;
    index->power = 1;
    for (uint32_t i = 1; i < index->block; ++i) index->power *= kRollFactor;
    // The first block of a repeated content keeps its slot, so copies come
    // from the earliest place.
    for (uint64_t b = blocks; b-- > 0;)
        index->slots[SlotOf(*index, HashOf(source + b * index->block, index->block))] = static_cast<uint32_t>(b + 1);
    return true;
}

// One instruction of a window: an add of target bytes, a run, or a copy from
// the source.
struct Instruction {
    uint8_t type;
    uint32_t size;
    uint64_t from;  // a copy's source position, an add's target offset, a run's byte
};

void Append(std::vector<uint8_t>* out, const uint8_t* bytes, size_t count) { out->insert(out->end(), bytes, bytes + count); }

void AppendInteger(std::vector<uint8_t>* out, uint64_t value) {
    uint8_t bytes[kMaxVcdiffIntegerBytes + 1];
    Append(out, bytes, StoreVcdiffInteger(bytes, value));
}

size_t IntegerLength(uint64_t value) {
    size_t n = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++n;
    }
    return n;
}

// The unmatched target bytes [from, to) as adds, with long runs of one byte as runs.
void AddLiterals(const uint8_t* target, uint32_t from, uint32_t to, std::vector<Instruction>* out) {
    uint32_t start = from;
    uint32_t i = from;
    while (i < to) {
        uint32_t run = 1;
        while (i + run < to && target[i + run] == target[i]) ++run;
        if (run >= kMinRun) {
            if (i > start) out->push_back({kVcdAdd, i - start, start});
            out->push_back({kVcdRun, run, target[i]});
            start = i + run;
        }
        i += run;
    }
    if (to > start) out->push_back({kVcdAdd, to - start, start});
}

// Finds the window's copies and adds. *carry is where in the source the
// previous window's last copy ended at its window's end (or beyond the
// source when it did not), and is left likewise for the next window.
void Match(const SourceIndex& index, const uint8_t* target, uint32_t length, uint64_t* carry,
           std::vector<Instruction>* out) {
    const uint8_t* source = index.bytes;
    const uint32_t block = index.block;
    uint32_t literal = 0;
    uint32_t p = 0;
    uint64_t from = *carry;
    *carry = ~0ULL;
    if (from < index.size) {
        uint32_t n = 0;
        while (n < length && from + n < index.size && target[n] == source[from + n]) ++n;
        if (n >= kMinCopy) {
            out->push_back({kVcdCopy, n, from});
            literal = p = n;
            if (n == length) *carry = from + n;
        }
    }
    bool fresh = true;
    uint32_t hash = 0;
    while (index.size >= block && p + block <= length) {
        if (fresh) {
            hash = HashOf(target + p, block);
            fresh = false;
        }
        uint32_t slot = index.slots[SlotOf(index, hash)];
        if (slot != 0) {
            uint64_t s = static_cast<uint64_t>(slot - 1) * block;
            if (memcmp(source + s, target + p, block) == 0) {
                uint32_t t = p;
                while (t > literal && s > 0 && target[t - 1] == source[s - 1]) {
                    --t;
                    --s;
                }
                uint32_t end = p + block;
                uint64_t sourceEnd = s + (end - t);
                while (end < length && sourceEnd < index.size && target[end] == source[sourceEnd]) {
                    ++end;
                    ++sourceEnd;
                }
                AddLiterals(target, literal, t, out);
                out->push_back({kVcdCopy, end - t, s});
                if (end == length) *carry = sourceEnd;
                literal = p = end;
                fresh = true;
                continue;
            }
        }
        if (p + block < length) hash = (hash - target[p] * index.power) * kRollFactor + target[p + block];
        ++p;
    }
    AddLiterals(target, literal, length, out);
}

// The cheapest of the address modes for address, here being the current
// position in the window's address space. Updates the cache as the decoder will.
uint8_t ChooseMode(VcdiffAddressCache* cache, uint64_t address, uint64_t here, uint64_t* written) {
    uint8_t mode = kVcdiffModeSelf;
    uint64_t value = address;
    size_t cost = IntegerLength(address);
    if (IntegerLength(here - address) < cost) {
        mode = kVcdiffModeHere;
        value = here - address;
        cost = IntegerLength(value);
    }
    for (int i = 0; i < kVcdiffNearSlots; ++i) {
        uint64_t base = cache->near[i];
        if (address >= base && IntegerLength(address - base) < cost) {
            mode = static_cast<uint8_t>(kVcdiffModeFirstNear + i);
            value = address - base;
            cost = IntegerLength(value);
        }
    }
    uint64_t sameSlot = address % kVcdiffSameCacheSize;
    if (cache->same[sameSlot] == address && cost > 1) {
        mode = static_cast<uint8_t>(kVcdiffModeFirstSame + sameSlot / 256);
        value = sameSlot % 256;
    }
    UpdateAddressCache(cache, address);
    *written = value;
    return mode;
}

struct WindowSections {
    std::vector<uint8_t> data, instructions, addresses, window;
};

// Writes one window of the target from its instructions.
int WriteWindow(const VcdiffEncodeStreams* streams, const uint8_t* target, uint32_t length,
                const std::vector<Instruction>& list, WindowSections* s) {
    s->data.clear();
    s->instructions.clear();
    s->addresses.clear();
    s->window.clear();
    uint64_t low = ~0ULL, high = 0;
    for (const Instruction& in : list) {
        if (in.type != kVcdCopy) continue;
        if (in.from < low) low = in.from;
        if (in.from + in.size > high) high = in.from + in.size;
    }
    bool hasSource = low <= high;
    uint64_t segment = hasSource ? high - low : 0;
    VcdiffAddressCache cache;
    ResetAddressCache(&cache);
    uint64_t made = 0;
    for (const Instruction& in : list) {
        if (in.type == kVcdAdd) {
            if (in.size <= kLargestAddCode) {
                s->instructions.push_back(static_cast<uint8_t>(kCodeAddSized + in.size));
            } else {
                s->instructions.push_back(kCodeAddSized);
                AppendInteger(&s->instructions, in.size);
            }
            Append(&s->data, target + in.from, in.size);
        } else if (in.type == kVcdRun) {
            s->instructions.push_back(kCodeRun);
            AppendInteger(&s->instructions, in.size);
            s->data.push_back(static_cast<uint8_t>(in.from));
        } else {
            uint64_t value;
            uint8_t mode = ChooseMode(&cache, in.from - low, segment + made, &value);
            uint8_t code = static_cast<uint8_t>(kCodeCopySized + kCopyCodesPerMode * mode);
            if (in.size >= kSmallestCopyCode && in.size <= kLargestCopyCode) {
                s->instructions.push_back(static_cast<uint8_t>(code + in.size - (kSmallestCopyCode - 1)));
            } else {
                s->instructions.push_back(code);
                AppendInteger(&s->instructions, in.size);
            }
            if (mode >= kVcdiffModeFirstSame)
                s->addresses.push_back(static_cast<uint8_t>(value));
            else
                AppendInteger(&s->addresses, value);
        }
        made += in.size;
    }
    std::vector<uint8_t> encoding;
    AppendInteger(&encoding, length);
    encoding.push_back(0);
    AppendInteger(&encoding, s->data.size());
    AppendInteger(&encoding, s->instructions.size());
    AppendInteger(&encoding, s->addresses.size());
    uint32_t check = static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), target, length));
    for (int shift = 24; shift >= 0; shift -= 8) encoding.push_back(static_cast<uint8_t>(check >> shift));
    s->window.push_back(static_cast<uint8_t>(kVcdWindowAdler32 | (hasSource ? kVcdWindowSource : 0)));
    if (hasSource) {
        AppendInteger(&s->window, segment);
        AppendInteger(&s->window, low);
    }
    AppendInteger(&s->window, encoding.size() + s->data.size() + s->instructions.size() + s->addresses.size());
    Append(&s->window, encoding.data(), encoding.size());
    Append(&s->window, s->data.data(), s->data.size());
    Append(&s->window, s->instructions.data(), s->instructions.size());
    Append(&s->window, s->addresses.data(), s->addresses.size());
    return streams->writeDelta(streams->context, s->window.data(), s->window.size()) == 0 ? kVcdiffEncodeOk
                                                                                        : kVcdiffEncodeCannotWrite;
}

// Fills buffer with up to capacity target bytes; *got short only at the end.
int ReadWindowTarget(const VcdiffEncodeStreams* streams, uint8_t* buffer, size_t capacity, size_t* got) {
    *got = 0;
    while (*got < capacity) {
        size_t n = 0;
        if (streams->readTarget(streams->context, buffer + *got, capacity - *got, &n) != 0 || n > capacity - *got)
            return kVcdiffEncodeCannotRead;
        if (n == 0) break;
        *got += n;
    }
    return kVcdiffEncodeOk;
}

}  // namespace

int EncodeVcdiff(const uint8_t* source, size_t sourceSize, const VcdiffEncodeStreams* streams) {
    if (sourceSize > kLargestFile) return kVcdiffEncodeTooLarge;
    SourceIndex index;
    if (!BuildIndex(source, sourceSize, &index)) return kVcdiffEncodeNoMemory;
    std::unique_ptr<uint8_t[]> target(new (std::nothrow) uint8_t[kDeltaWindow]);
    if (!target) return kVcdiffEncodeNoMemory;
    const uint8_t header[] = {kVcdiffMagic[0], kVcdiffMagic[1], kVcdiffMagic[2], kVcdiffMagic[3], 0};
    if (streams->writeDelta(streams->context, header, sizeof(header)) != 0) return kVcdiffEncodeCannotWrite;
    WindowSections sections;
    std::vector<Instruction> list;
    uint64_t carry = ~0ULL;
    uint64_t total = 0;
    for (;;) {
        size_t got = 0;
        int r = ReadWindowTarget(streams, target.get(), kDeltaWindow, &got);
        if (r != kVcdiffEncodeOk) return r;
        // An empty target still gets one empty window: xdelta3 takes a
        // delta without windows for no delta at all.
        if (got == 0 && total > 0) break;
        total += got;
        if (total > kLargestFile) return kVcdiffEncodeTooLarge;
        list.clear();
        Match(index, target.get(), static_cast<uint32_t>(got), &carry, &list);
        r = WriteWindow(streams, target.get(), static_cast<uint32_t>(got), list, &sections);
        if (r != kVcdiffEncodeOk) return r;
        if (got < kDeltaWindow) break;
    }
    return kVcdiffEncodeOk;
}
