// The one reader of binary input: little-endian fields taken from a byte block
// with every read checked against what remains. A failed read changes neither
// the output nor the position, so a caller never sees a silent zero.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t position;
};

void InitReader(ByteReader* reader, const void* data, size_t size);
size_t RemainingBytes(const ByteReader* reader);

// Each returns false, reading nothing, when fewer bytes remain than it needs.
bool ReadU16(ByteReader* reader, uint16_t* value);
bool ReadU32(ByteReader* reader, uint32_t* value);
bool ReadI32(ByteReader* reader, int32_t* value);
bool ReadU64(ByteReader* reader, uint64_t* value);
bool ReadBytes(ByteReader* reader, void* out, size_t count);
bool SkipBytes(ByteReader* reader, size_t count);

// Little-endian stores for writers, into a buffer the caller sized.
void StoreU16(uint8_t* out, uint16_t value);
void StoreU32(uint8_t* out, uint32_t value);
void StoreU64(uint8_t* out, uint64_t value);
