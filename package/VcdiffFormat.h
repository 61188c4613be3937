// VCDIFF (RFC 3284), the form a delta entry's file takes inside its zlib
// stream: a header, then windows, each making the next piece of the target
// from a segment of the source and from the target made so far in itself.
//
//   D6 C3 C4 00      magic and version
//   u8 indicator     0 here; VCD_APPHEADER (4) is skipped, a secondary
//                    compressor (1) or a code table of its own (2) refused
//   window ...       until the delta ends
//
// A window:
//   u8 indicator     VCD_SOURCE (1): copies may read the source; VCD_ADLER32
//                    (4): an Adler-32 of the target window follows the sizes
//   int segment size, int segment position      with VCD_SOURCE only
//   int delta length: the bytes from the target length to the window's end
//   int target length, u8 0 (no section compressed),
//   int data length, int instructions length, int addresses length,
//   [u32 big-endian Adler-32], data, instructions, addresses
//
// "int" is the RFC's integer: base 128, most significant group first, the
// high bit set on every byte but the last (300 = 82 2C). Instructions index
// the RFC's default code table; addresses use its caches (4 near, 3 same).
//
// Example: the target "abcabcX" made without a source, in one window: ADD 3
// (code 4) "abc", COPY of size 3 written out (code 19, size 03) from address
// 0 given as itself, ADD 1 (code 2) "X":
//   D6 C3 C4 00 00
//   00 0E  07 00  04 04 01  61 62 63 58  04 13 03 02  00
//
// Error policy: the delta is untrusted input. Every integer must fit 63 bits;
// a window's target length and its delta length are held to the bounds below
// before anything is allocated; every copy must lie wholly inside the source
// segment, which lies wholly inside the source, or inside the target made so
// far; every section must be used up exactly; the windows must make exactly
// the target size the caller expects. Anything else is a damaged delta.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kVcdiffMagic[4] = {0xD6, 0xC3, 0xC4, 0x00};
constexpr uint8_t kVcdHeaderCompressor = 0x01;
constexpr uint8_t kVcdHeaderCodeTable = 0x02;
constexpr uint8_t kVcdHeaderAppHeader = 0x04;
constexpr uint8_t kVcdWindowSource = 0x01;
constexpr uint8_t kVcdWindowTarget = 0x02;
constexpr uint8_t kVcdWindowAdler32 = 0x04;

// The most target bytes one window makes, which the decoder holds in memory:
// 8 MiB, the window xdelta3 writes by default, so that its deltas decode.
constexpr uint32_t kMaxVcdiffWindow = 1u << 23;
// The most bytes of a window's delta encoding. Its data section holds at most
// the window's bytes; its instructions and addresses a few bytes for each
// copy of four bytes or more, so twice the window is ample.
constexpr uint32_t kMaxVcdiffWindowDelta = 2 * kMaxVcdiffWindow;
// The RFC's address caches.
constexpr int kVcdiffNearSlots = 4;
constexpr int kVcdiffSameSlots = 3;
constexpr int kVcdiffSameCacheSize = kVcdiffSameSlots * 256;
// Address modes: the address itself, back from here, then the near and same caches.
constexpr uint8_t kVcdiffModeSelf = 0;
constexpr uint8_t kVcdiffModeHere = 1;
constexpr uint8_t kVcdiffModeFirstNear = 2;
constexpr uint8_t kVcdiffModeFirstSame = kVcdiffModeFirstNear + kVcdiffNearSlots;
constexpr uint8_t kVcdiffModes = kVcdiffModeFirstSame + kVcdiffSameSlots;

enum VcdiffInstructionType : uint8_t { kVcdNoop = 0, kVcdAdd = 1, kVcdRun = 2, kVcdCopy = 3 };

struct VcdiffHalf {
    uint8_t type;
    uint8_t size;  // 0: the size follows in the instructions section
    uint8_t mode;  // copies only
};
struct VcdiffCode {
    VcdiffHalf first;
    VcdiffHalf second;
};

// The RFC's default code table, 256 codes.
const VcdiffCode* VcdiffDefaultCodeTable();

// The address cache that encoder and decoder keep alike.
struct VcdiffAddressCache {
    uint64_t near[kVcdiffNearSlots];
    int nextNear;
    uint64_t same[kVcdiffSameCacheSize];
};
void ResetAddressCache(VcdiffAddressCache* cache);
// Records address as the last one copied from.
void UpdateAddressCache(VcdiffAddressCache* cache, uint64_t address);

// Largest integer a VCDIFF field may hold here: 63 bits.
constexpr uint64_t kMaxVcdiffInteger = 0x7FFFFFFFFFFFFFFFULL;
// Most bytes of an integer of 63 bits.
constexpr size_t kMaxVcdiffIntegerBytes = 9;
// Writes value as a VCDIFF integer into out (room for kMaxVcdiffIntegerBytes);
// returns the bytes written.
size_t StoreVcdiffInteger(uint8_t* out, uint64_t value);
