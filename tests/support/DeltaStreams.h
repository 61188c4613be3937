// VCDIFF for the tests: deltas decoded from memory with every source read
// watched, windows written by hand (including the damaged ones no encoder
// writes), and xdelta3 run on files natively.
#pragma once

#include <cstdint>
#include <string>

#include "package/DeltaEntry.h"
#include "tests/support/PackageBuilder.h"

// size bytes that no compressor shrinks, the same for the same seed.
Bytes RandomBytes(size_t size, uint32_t seed);

// What decoding a delta in memory did.
struct DecodeOutcome {
    int result;
    Bytes target;
    bool readOutside;  // a source read reached past the source's end
};
// Decodes delta against source, handing the decoder at most chunk delta
// bytes a call.
DecodeOutcome DecodeInMemory(const Bytes& delta, const Bytes& source, uint64_t targetSize, size_t chunk = 1 << 16);

// Encodes target against source, the encoder reading the target chunk bytes
// at a time. Returns the encoder's result.
int EncodeInMemory(const Bytes& source, const Bytes& target, Bytes* delta, size_t chunk = 1 << 16);

// The sizes and hashes of a delta entry from source to target.
DeltaFields DeltaFieldsOf(const Bytes& source, const Bytes& target);
// A delta entry: its header, time and fields, then stream (the deflated
// delta, or any bytes), its packed size stream's size.
void AppendDeltaEntry(Bytes* out, const std::string& name, const DeltaFields& fields, const Bytes& stream);

// The header with no indicator bits.
Bytes VcdiffHeader();
// A VCDIFF integer.
Bytes VcdiffInteger(uint64_t value);
// One window, its lengths computed; deltaLengthChange skews the written delta
// length (for windows whose sections do not fill it).
struct HandWindow {
    uint8_t indicator;
    uint64_t segmentSize;
    uint64_t segmentPosition;
    uint64_t targetLength;
    Bytes data;
    Bytes instructions;
    Bytes addresses;
    uint32_t adler32;          // written when the indicator has VCD_ADLER32
    int64_t deltaLengthChange;
};
void AppendWindow(Bytes* out, const HandWindow& window);

#ifndef _WIN32
// Runs "xdelta3 options -s source in out" on the tests' (ASCII) paths; true
// when it exits with 0.
bool RunXdelta3(const std::string& options, const std::string& source, const std::string& in,
                const std::string& out);
#endif
