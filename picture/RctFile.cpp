#include "picture/RctFile.h"

#include <cstdio>
#include <cstdlib>

#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"

namespace {

enum class Attempt { kDone, kShort };

// One pass over the file; kShort when it held fewer bytes than it announced.
Attempt ReadOnce(FILE* file, RctHeader* header, uint8_t** packed, int* result) {
    uint8_t raw[kRctHeaderSize + kRctNameLengthSize];
    if (fread(raw, 1, kRctHeaderSize, file) != kRctHeaderSize) return Attempt::kShort;
    size_t have = kRctHeaderSize;
    // The name length of a TC01 file follows the fixed header.
    if (raw[kRctMagicSize - 1] == kRctMagicTc01[kRctMagicSize - 1] &&
        fread(raw + kRctHeaderSize, 1, kRctNameLengthSize, file) == kRctNameLengthSize)
        have += kRctNameLengthSize;
    *result = ParseRctHeader(raw, have, header);
    if (*result == kRctTruncated) return Attempt::kShort;
    if (*result != kRctOk) return Attempt::kDone;
    // The stream must be in the file before a block is allocated for it.
    int64_t end = -1;
    if (PlatformSeek(file, 0, SEEK_END) == 0) end = PlatformTell(file);
    if (end < 0 || static_cast<int64_t>(header->streamOffset) + header->packedLength > end ||
        PlatformSeek(file, static_cast<int64_t>(header->streamOffset), SEEK_SET) != 0)
        return Attempt::kShort;
    uint8_t* block = static_cast<uint8_t*>(CheckedAlloc(header->packedLength));
    if (block == nullptr) {
        *result = kRctTruncated;
        return Attempt::kDone;
    }
    if (fread(block, 1, header->packedLength, file) != header->packedLength) {
        free(block);
        return Attempt::kShort;
    }
    *packed = block;
    return Attempt::kDone;
}

}  // namespace

int ReadRctFile(const char* name, RctHeader* header, uint8_t** packed) {
    *packed = nullptr;
    for (int attempt = 1;; ++attempt) {
        FILE* file = OpenDataFileRetry(name, "rb");
        int result = kRctTruncated;
        Attempt a = ReadOnce(file, header, packed, &result);
        fclose(file);
        if (a == Attempt::kDone) return result;
        if (attempt % kRctReadAttempts == 0) ShowMessage(kMsgOpenFailed, name);
    }
}
