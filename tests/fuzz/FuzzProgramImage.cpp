// The program-image reader and the trailer search over a whole program file:
// a layout it accepts lies inside the file, a refused one is left untouched,
// and a trailer it finds points into the file before itself.
#include <cstdio>
#include <cstring>

#include "package/PackageFormat.h"
#include "package/ProgramImage.h"
#include "tests/fuzz/FuzzKit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int64_t fileSize = static_cast<int64_t>(size);
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (file == nullptr) return 0;

    const ImageLayout untouched = {-7, -7, -7, -7, -7, -7};
    ImageLayout layout = untouched;
    if (ReadImageLayout(file, fileSize, &layout)) {
        FuzzCheck(layout.dataEnd >= 0 && layout.dataEnd <= fileSize, "the image's data lies inside the file");
        FuzzCheck(layout.securityEntry == -1 ||
                      (layout.securityEntry >= 0 && layout.securityEntry + kSecurityEntrySize <= fileSize),
                  "the security directory entry lies inside the file");
        FuzzCheck(layout.certificateOffset >= 0 && layout.certificateSize >= 0, "table offset and size are positive");
        if (IsSignedToTheEnd(layout, fileSize))
            FuzzCheck(layout.certificateOffset >= layout.dataEnd &&
                          layout.certificateOffset + layout.certificateSize == fileSize,
                      "a table signed to the end follows the image and ends the file");
        FuzzCheck(layout.resourceOffset >= 0 && layout.resourceSize >= 0 &&
                      layout.resourceOffset + layout.resourceSize <= fileSize,
                  "the resources lie inside the file");
    } else {
        FuzzCheck(memcmp(&layout, &untouched, sizeof(layout)) == 0, "a refused image leaves the layout untouched");
    }

    int64_t position = -1;
    uint32_t offset = 0;
    if (FindTrailer(file, fileSize, &position, &offset)) {
        FuzzCheck(position >= 0 && position + static_cast<int64_t>(kTrailerSize) <= fileSize,
                  "the trailer lies inside the file");
        FuzzCheck(offset <= position, "the trailer points before itself");
    }
    fclose(file);

    // The same file opened as the updater opens its own: the stream it gives
    // lies between the offset and the trailer.
    FILE* again = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (again == nullptr) return 0;
    PackageStream stream;
    if (OpenPackageFile(again, &stream) == kPackageOk) {
        FuzzCheck(stream.position >= 0 && stream.position <= stream.end && stream.end <= fileSize,
                  "an opened package lies inside the file");
        ClosePackageStream(&stream);
    }
    return 0;
}
