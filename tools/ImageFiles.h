// The picture files a maker hands the tool, and the ones it writes back:
//
//   BMP  "BM", a BITMAPINFOHEADER (or a later, longer one), 24-bit or 32-bit
//        uncompressed (32-bit also with the plain BGRX bit fields), bottom-up
//        or top-down; the fourth byte of a 32-bit pixel is dropped.
//        Written as 24-bit bottom-up.
//   PPM  "P6", width, height, 255, each field after whitespace or # comments,
//        one whitespace byte, then the rows of red green blue bytes.
//   PNG  any colour type and depth, through libpng, turned into 8-bit colour;
//        an alpha channel is composited on black. Native builds only: the
//        Windows build of the tool carries no libpng and says so.
//
// Every picture is held as tightly packed blue-green-red rows, top row
// first: what the RCT encoder takes. Error policy: the file's own sizes are
// checked against what it holds and against kMaxRctImageBytes before anything
// is allocated; a picture that is short, compressed in an unknown way or too
// large is refused with a reason, never half read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum PictureKind {
    kPictureUnknown = 0,
    kPictureBmp,
    kPicturePpm,
    kPicturePng,
};

struct Picture {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> bgr;  // width x height x 3 bytes, top row first
};

// Whether this build reads and writes PNG.
bool PngSupported();

// The kind a file name's extension (.bmp, .ppm, .png, any letter case) names,
// or kPictureUnknown.
PictureKind PictureKindOfName(const std::string& name);

// Reads the picture file at path (Shift-JIS), telling the kind by its first
// bytes. Returns true, or false with the reason in problem (picture untouched).
bool ReadPictureFile(const std::string& path, Picture* picture, std::string* problem);

// Reads a picture from bytes in memory. Same results as ReadPictureFile.
bool ParsePicture(const uint8_t* data, size_t size, Picture* picture, std::string* problem);

// Writes picture to path (Shift-JIS) in the kind given. Returns true, or false
// with the reason in problem; a failed write may leave a partial file.
bool WritePictureFile(const std::string& path, PictureKind kind, const Picture& picture, std::string* problem);

// The picture as the bytes of a 24-bit bottom-up BMP file, or of a P6 PPM file.
std::vector<uint8_t> BmpBytes(const Picture& picture);
std::vector<uint8_t> PpmBytes(const Picture& picture);
