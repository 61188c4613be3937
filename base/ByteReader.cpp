#include "base/ByteReader.h"

#include <cstring>

void InitReader(ByteReader* reader, const void* data, size_t size) {
    reader->data = static_cast<const uint8_t*>(data);
    reader->size = size;
    reader->position = 0;
}

size_t RemainingBytes(const ByteReader* reader) { return reader->size - reader->position; }

static uint64_t TakeLittleEndian(ByteReader* reader, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value |= static_cast<uint64_t>(reader->data[reader->position + i]) << (8 * i);
    reader->position += count;
    return value;
}

bool ReadU16(ByteReader* reader, uint16_t* value) {
    if (RemainingBytes(reader) < 2) return false;
    *value = static_cast<uint16_t>(TakeLittleEndian(reader, 2));
    return true;
}

bool ReadU32(ByteReader* reader, uint32_t* value) {
    if (RemainingBytes(reader) < 4) return false;
    *value = static_cast<uint32_t>(TakeLittleEndian(reader, 4));
    return true;
}

bool ReadI32(ByteReader* reader, int32_t* value) {
    uint32_t raw;
    if (!ReadU32(reader, &raw)) return false;
    *value = static_cast<int32_t>(raw);
    return true;
}

bool ReadU64(ByteReader* reader, uint64_t* value) {
    if (RemainingBytes(reader) < 8) return false;
    *value = TakeLittleEndian(reader, 8);
    return true;
}

bool ReadBytes(ByteReader* reader, void* out, size_t count) {
    if (RemainingBytes(reader) < count) return false;
    memcpy(out, reader->data + reader->position, count);
    reader->position += count;
    return true;
}

bool SkipBytes(ByteReader* reader, size_t count) {
    if (RemainingBytes(reader) < count) return false;
    reader->position += count;
    return true;
}

void StoreU16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void StoreU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void StoreU64(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
