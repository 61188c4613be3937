// Makes a VCDIFF delta (package/VcdiffFormat.h) of a target against a source
// held in memory, which xdelta3 and DecodeVcdiff both apply.
//
// The source is cut into blocks whose hashes go into a table; a hash rolled
// over the target, byte by byte, finds each block wherever it moved, and a
// found block is grown forwards and backwards as far as both files agree. So
// data moved or shifted by an insertion is copied, not only data changed in
// place. Bytes no block covers are added, runs of one byte as runs.
//
// Memory: the source itself, plus a table of 4-byte slots, a power of two
// between one and two per block, where a block is kMinDeltaBlock bytes or
// sourceSize / kMaxDeltaBlocks, whichever is larger (so at most 32 MiB of
// table however large the source); plus one target window and its encoding,
// about 3 x kDeltaWindow.
#pragma once

#include <cstddef>
#include <cstdint>

// Target bytes per window: what the updater holds of a delta's target at once.
constexpr uint32_t kDeltaWindow = 1u << 20;
// The shortest block hashed, and so the shortest copy that is looked for.
constexpr uint32_t kMinDeltaBlock = 16;
// Most blocks indexed; a larger source has longer blocks instead.
constexpr uint64_t kMaxDeltaBlocks = 1u << 23;

enum VcdiffEncodeResult {
    kVcdiffEncodeOk = 0,
    kVcdiffEncodeCannotRead,   // the target's reader failed
    kVcdiffEncodeCannotWrite,  // the delta's writer failed
    kVcdiffEncodeNoMemory,
    kVcdiffEncodeTooLarge,     // a source or target of 2^31 bytes or more
};

struct VcdiffEncodeStreams {
    void* context;
    // Reads up to capacity more target bytes into out and sets *got (0 at
    // its end). Nonzero on failure.
    int (*readTarget)(void* context, uint8_t* out, size_t capacity, size_t* got);
    // Takes the next size bytes of the delta. Nonzero on failure.
    int (*writeDelta)(void* context, const uint8_t* data, size_t size);
};

// Writes the delta from source (sourceSize bytes) to the target the reader
// gives. Returns kVcdiffEncodeOk or the first failure.
int EncodeVcdiff(const uint8_t* source, size_t sourceSize, const VcdiffEncodeStreams* streams);
