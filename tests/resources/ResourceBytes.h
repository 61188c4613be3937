// Reading the generated resource files back: little-endian fields and the
// 16-colour palette both files use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPaletteSize = 16;

// The 16 VGA colours in the order Windows numbers them, as RGBQUADs (B, G, R, 0).
constexpr uint8_t kVgaPalette[kPaletteSize][4] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0xC0, 0xC0, 0xC0, 0},
    {0x80, 0x80, 0x80, 0}, {0x00, 0x00, 0xFF, 0}, {0x00, 0xFF, 0x00, 0}, {0x00, 0xFF, 0xFF, 0},
    {0xFF, 0x00, 0x00, 0}, {0xFF, 0x00, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0xFF, 0},
};

inline uint32_t U32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

inline uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// The whole file at path; false when it cannot be opened.
inline bool ReadGeneratedFile(const char* path, Bytes* out) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) out->insert(out->end(), buffer, buffer + n);
    fclose(f);
    return true;
}
