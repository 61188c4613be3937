#include "package/VcdiffFormat.h"

#include <cstring>

namespace {

struct CodeTable {
    VcdiffCode codes[256];
};

// Sizes of the table's copies: 0 (size written out), then 4 to 18.
constexpr uint8_t kCopySizes = 16;
// Modes whose ADD+COPY pairs copy 4, 5 or 6 bytes; the others only 4.
constexpr uint8_t kModesWithLongerPairs = 6;

// The RFC's rules for the default table (section 5.6).
CodeTable BuildTable() {
    CodeTable table;
    int i = 0;
    auto put = [&](VcdiffHalf first, VcdiffHalf second) { table.codes[i++] = VcdiffCode{first, second}; };
    const VcdiffHalf none = {kVcdNoop, 0, 0};
    put({kVcdRun, 0, 0}, none);
    for (uint8_t size = 0; size <= 17; ++size) put({kVcdAdd, size, 0}, none);
    for (uint8_t mode = 0; mode < kVcdiffModes; ++mode) {
        put({kVcdCopy, 0, mode}, none);
        for (uint8_t size = 4; size < 4 + kCopySizes - 1; ++size) put({kVcdCopy, size, mode}, none);
    }
    for (uint8_t mode = 0; mode < kVcdiffModes; ++mode) {
        uint8_t longest = mode < kModesWithLongerPairs ? 6 : 4;
        for (uint8_t add = 1; add <= 4; ++add)
            for (uint8_t copy = 4; copy <= longest; ++copy) put({kVcdAdd, add, 0}, {kVcdCopy, copy, mode});
    }
    for (uint8_t mode = 0; mode < kVcdiffModes; ++mode) put({kVcdCopy, 4, mode}, {kVcdAdd, 1, 0});
    return table;
}

}  // namespace

const VcdiffCode* VcdiffDefaultCodeTable() {
    // A local static is built once, safely, whichever thread asks first.
    static const CodeTable table = BuildTable();
    return table.codes;
}

void ResetAddressCache(VcdiffAddressCache* cache) {
    memset(cache, 0, sizeof(*cache));
}

void UpdateAddressCache(VcdiffAddressCache* cache, uint64_t address) {
    cache->near[cache->nextNear] = address;
    cache->nextNear = (cache->nextNear + 1) % kVcdiffNearSlots;
    cache->same[address % kVcdiffSameCacheSize] = address;
}

size_t StoreVcdiffInteger(uint8_t* out, uint64_t value) {
    uint8_t reversed[kMaxVcdiffIntegerBytes + 1];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0 && count < sizeof(reversed));
    for (size_t i = 0; i < count; ++i) out[i] = reversed[count - 1 - i] | (i + 1 < count ? 0x80 : 0);
    return count;
}
