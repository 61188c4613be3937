// The makers' side of the RCT picture format (described in RctFormat.h): a
// greedy encoder that writes only streams the updater's decoder accepts.
//
// At each pixel it measures the run that every usable offset-table entry
// would copy (an entry is usable once it points at or after the first pixel;
// entry 0 over a run of one colour copies what it has just written), takes
// the longest, and keeps literal pixels together until a copy pays. Long
// runs and long literal stretches use the u16 forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/RctFormat.h"

// Longest name a TC01 header can carry: its length is a u16.
constexpr size_t kMaxRctNameLength = 0xFFFF;

// Encodes width x height pixels (tightly packed, top row first, blue green red)
// as a complete RCT file in out: version 0 writes TC00, 1 writes TC01 with name
// (nullptr for none; ignored by TC00). Returns kRctOk, or kRctBadSize (out
// emptied) for a size below 1, an image beyond kMaxRctImageBytes, a name longer
// than kMaxRctNameLength or a version other than 0 and 1.
int EncodeRct(const uint8_t* bgr, int32_t width, int32_t height, int version, const char* name,
              std::vector<uint8_t>* out);

// Encodes only the packed pixel stream (what follows the header), appending
// it to out. The size must already be valid; returns the bytes appended.
size_t EncodeRctStream(const uint8_t* bgr, int32_t width, int32_t height, std::vector<uint8_t>* out);
