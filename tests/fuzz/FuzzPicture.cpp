// The picture decoder over an RCT file of any content. The image is decoded
// into a block of exactly the size its header gives, so that a write past it
// is a fault the address checker reports.
//
// Promises: the header the file reader takes from a whole file is the one the
// parser takes (a TC01 name may run past the end: the parser reads only the
// header, the file reader checks that the stream is there); a
// picture that decodes is as large as its header says, lands in the bitmap's
// rows intact, and encodes into a stream the decoder reads back to the same
// pixels.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/RctEncoder.h"
#include "picture/RctFile.h"
#include "picture/RctFormat.h"
#include "services/DataFileOpener.h"
#include "tests/fuzz/FuzzKit.h"
#include "tests/support/PackageBuilder.h"

namespace {

// Larger pictures only cost time: the decoder's bounds are the same.
constexpr int64_t kMaxFuzzImageBytes = 4 * 1024 * 1024;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetDirectOpenAllowed(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RctHeader header;
    if (ParseRctHeader(data, size, &header) != kRctOk) return 0;
    FuzzCheck(header.width >= 1 && header.height >= 1, "an accepted picture has a size");
    int64_t imageBytes = static_cast<int64_t>(header.width) * header.height * static_cast<int64_t>(kRctPixelSize);
    FuzzCheck(imageBytes <= kMaxRctImageBytes, "an accepted picture fits the image limit");
    // A file shorter than its header announces: the reader would ask to retry.
    if (header.streamOffset > size || size - header.streamOffset < header.packedLength) return 0;
    if (imageBytes > kMaxFuzzImageBytes) return 0;

    // The file reader, over the same bytes on disk.
    ClearScratch();
    std::string path = ScratchFolder() + "\\insttscr.rct";
    WriteFileBytes(path, Bytes(data, data + size));
    RctHeader read;
    uint8_t* packed = nullptr;
    int readResult = ReadRctFile(path.c_str(), &read, &packed);
    FuzzCheck(readResult == kRctOk, "the file reader takes what the parser takes");
    FuzzCheck(read.width == header.width && read.height == header.height && read.packedLength == header.packedLength &&
                  read.streamOffset == header.streamOffset,
              "the file reader reads the parser's header");
    FuzzCheck(memcmp(packed, data + header.streamOffset, header.packedLength) == 0,
              "the file reader reads the stream as it is");
    free(packed);

    std::vector<uint8_t> pixels(static_cast<size_t>(imageBytes));
    int result = DecodeRctStream(data + header.streamOffset, header.packedLength, header.width, header.height,
                                 pixels.data());
    if (result != kRctOk) return 0;

    // The bitmap's rows, padded to their stride, hold the decoded rows.
    int32_t stride = RctStride(header.width);
    size_t rowBytes = static_cast<size_t>(header.width) * kRctPixelSize;
    FuzzCheck(stride >= static_cast<int32_t>(rowBytes) && stride % 4 == 0 && stride - rowBytes < 4,
              "a bitmap row is the picture's row padded to four bytes");
    std::vector<uint8_t> bitmap(static_cast<size_t>(stride) * header.height);
    memcpy(bitmap.data(), pixels.data(), pixels.size());
    RestrideRctRows(bitmap.data(), header.width, header.height, stride);
    for (int32_t row = 0; row < header.height; ++row)
        FuzzCheck(memcmp(bitmap.data() + static_cast<size_t>(row) * stride, pixels.data() + row * rowBytes, rowBytes) == 0,
                  "restriding keeps every row");

    std::vector<uint8_t> encoded;
    FuzzCheck(EncodeRct(pixels.data(), header.width, header.height, header.version, "fuzz", &encoded) == kRctOk,
              "a decoded picture encodes");
    RctHeader again;
    FuzzCheck(ParseRctHeader(encoded.data(), encoded.size(), &again) == kRctOk && again.width == header.width &&
                  again.height == header.height && again.streamOffset + again.packedLength == encoded.size(),
              "an encoded picture's header describes it");
    std::vector<uint8_t> decoded(static_cast<size_t>(imageBytes));
    FuzzCheck(DecodeRctStream(encoded.data() + again.streamOffset, again.packedLength, again.width, again.height,
                              decoded.data()) == kRctOk &&
                  decoded == pixels,
              "an encoded picture decodes to the same pixels");
    return 0;
}
