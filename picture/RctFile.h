// Reading an RCT file by name through the data file opener: the header and
// the packed stream, each in one read.
#pragma once

#include <cstdint>

#include "picture/RctFormat.h"

// Reads before the user is asked whether to go on: a file shorter than its
// header announces never reads in full, however often it is opened again.
constexpr int kRctReadAttempts = 3;

// Opens name with the retrying opener and reads its header and packed stream.
// On kRctOk, *packed is a CheckedAlloc block of header->packedLength bytes that
// the caller frees. Returns kRctUnrecognised for another magic, kRctBadSize for
// sizes out of range, kRctTruncated when no memory could be had for the stream.
// A short read starts over; after kRctReadAttempts of them the opener's
// Retry/Cancel box is shown (Cancel ends the program with -1).
int ReadRctFile(const char* name, RctHeader* header, uint8_t** packed);
