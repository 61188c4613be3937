// Applies a VCDIFF delta (package/VcdiffFormat.h): the delta read in order,
// the source read by position, the target written in order, one window at a
// time. Memory holds one window and its delta encoding, never the source or
// the target: at most kMaxVcdiffWindow + kMaxVcdiffWindowDelta bytes plus a
// fixed input buffer, whatever the files' sizes.
#pragma once

#include <cstddef>
#include <cstdint>

enum VcdiffResult {
    kVcdiffOk = 0,
    kVcdiffDamaged,          // cut short, inconsistent, or reaching outside its source or target
    kVcdiffUnsupported,      // a secondary compressor, a code table of its own, or copies from the target file
    kVcdiffCannotReadDelta,  // the delta's own reader failed
    kVcdiffCannotReadSource,
    kVcdiffCannotWrite,
    kVcdiffNoMemory,
};

// Short English description of a result, for the makers' tool.
const char* DescribeVcdiffResult(int result);

// Where the decoder's bytes come from and go, through the caller's context.
struct VcdiffStreams {
    void* context;
    // Reads up to capacity more bytes of the delta into out and sets *got
    // (0 at its end). Nonzero on failure.
    int (*readDelta)(void* context, uint8_t* out, size_t capacity, size_t* got);
    // Reads exactly size bytes of the source from position. Nonzero on failure.
    int (*readSource)(void* context, uint64_t position, uint8_t* out, size_t size);
    // Takes the next size bytes of the target. Nonzero on failure.
    int (*writeTarget)(void* context, const uint8_t* data, size_t size);
    // Windows' checksums are not compared: for a check of the delta's shape
    // against a stand-in source, whose target differs from the real one.
    bool ignoreChecksums = false;
};

// Decodes the whole delta against a source of sourceSize bytes, which must
// make exactly targetSize bytes. Returns kVcdiffOk, or the first failure; on
// a damaged delta nothing past the failing window has been written, and
// nothing was ever read outside the source or written past targetSize.
int DecodeVcdiff(const VcdiffStreams* streams, uint64_t sourceSize, uint64_t targetSize);
