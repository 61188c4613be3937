// makeicon OUT.ico: writes the program's icon, a yellow box with a green
// arrow coming down into it (the update arriving). The output depends on
// nothing but this file, so every build produces the same bytes.
//
// The file is a Windows icon with two images of 16 colours each:
//
//   ICONDIR        reserved 0, type 1 (icon), 2 images
//   ICONDIRENTRY   32 x 32, 16 colours, 1 plane, 4 bits, size, offset
//   ICONDIRENTRY   16 x 16, likewise
//   image 32 x 32  BITMAPINFOHEADER (height doubled: XOR rows then AND rows),
//                  16 VGA palette entries, XOR bitmap 4 bits a pixel, AND
//                  bitmap 1 bit a pixel; both bottom row first, every row
//                  padded to 4 bytes
//   image 16 x 16  likewise
//
// A transparent pixel has its AND bit set and colour 0 in the XOR bitmap, so
// the screen shows through unchanged; an opaque pixel has its AND bit clear.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "GeneratedFile.h"

namespace {

constexpr int kPaletteSize = 16;
constexpr uint32_t kBitmapHeaderSize = 40;
constexpr uint32_t kDirectorySize = 6;
constexpr uint32_t kEntrySize = 16;
// The design is drawn on a 32-unit grid; smaller images sample it.
constexpr int kGrid = 32;
constexpr int kSizes[] = {32, 16};
constexpr int kImageCount = sizeof(kSizes) / sizeof(kSizes[0]);

// The standard 16-colour VGA palette in the order Windows numbers it.
enum Colour : uint8_t {
    kBlack, kMaroon, kGreen, kOlive, kNavy, kPurple, kTeal, kSilver,
    kGrey, kRed, kLime, kYellow, kBlue, kFuchsia, kAqua, kWhite,
};

// Marks a pixel the screen shows through; never written as a colour.
constexpr uint8_t kTransparent = 0xFF;

struct Rgb {
    uint8_t red, green, blue;
};

constexpr Rgb kPalette[kPaletteSize] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
};

// The box, in grid units: [left, right) x [top, bottom); its right side from
// kBoxSideLeft on is in shadow.
constexpr int kBoxLeft = 3;
constexpr int kBoxRight = 29;
constexpr int kBoxTop = 14;
constexpr int kBoxBottom = 30;
constexpr int kBoxSideLeft = 23;
// The arrow: a shaft from kShaftTop down to kHeadTop, then a head narrowing
// to a two-unit tip at kArrowTip, centred on the grid.
constexpr int kShaftLeft = 12;
constexpr int kShaftRight = 20;
constexpr int kShaftTop = 1;
constexpr int kHeadTop = 17;
constexpr int kArrowTip = 28;

struct Image {
    int size;
    std::vector<uint8_t> pixels;  // top row first; a colour or kTransparent
};

// Maps pixel index i of an image size pixels wide to the grid unit under its centre.
int ToGrid(int i, int size) { return (i * kGrid + kGrid / 2) / size; }

bool InBox(int gx, int gy) { return gx >= kBoxLeft && gx < kBoxRight && gy >= kBoxTop && gy < kBoxBottom; }

bool InArrow(int gx, int gy) {
    if (gx >= kShaftLeft && gx < kShaftRight && gy >= kShaftTop && gy < kHeadTop) return true;
    if (gy < kHeadTop || gy >= kArrowTip) return false;
    int twiceFromCentre = abs(2 * gx + 1 - kGrid);
    return twiceFromCentre < 2 * (kArrowTip - gy);
}

// True when pixel (x, y) of an image size wide lies in shape.
bool Covers(bool (*shape)(int, int), int x, int y, int size) {
    if (x < 0 || y < 0 || x >= size || y >= size) return false;
    return shape(ToGrid(x, size), ToGrid(y, size));
}

// True when pixel (x, y) lies in shape and a neighbour does not: the outline
// is found at the image's own resolution so it stays one pixel wide.
bool OnEdge(bool (*shape)(int, int), int x, int y, int size) {
    return Covers(shape, x, y, size) && !(Covers(shape, x - 1, y, size) && Covers(shape, x + 1, y, size) &&
                                          Covers(shape, x, y - 1, size) && Covers(shape, x, y + 1, size));
}

Image Draw(int size) {
    Image image{size, std::vector<uint8_t>(static_cast<size_t>(size) * size, kTransparent)};
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint8_t colour = kTransparent;
            if (Covers(InBox, x, y, size)) {
                colour = ToGrid(x, size) >= kBoxSideLeft ? kOlive : kYellow;
                if (OnEdge(InBox, x, y, size)) colour = kBlack;
            }
            if (Covers(InArrow, x, y, size)) colour = OnEdge(InArrow, x, y, size) ? kGreen : kLime;
            image.pixels[static_cast<size_t>(y) * size + x] = colour;
        }
    }
    return image;
}

uint32_t XorRowBytes(int size) { return static_cast<uint32_t>((size * 4 + 31) / 32 * 4); }

uint32_t AndRowBytes(int size) { return static_cast<uint32_t>((size + 31) / 32 * 4); }

uint32_t ImageBytes(int size) {
    return kBitmapHeaderSize + kPaletteSize * 4 + (XorRowBytes(size) + AndRowBytes(size)) * size;
}

void PutU16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void PutImage(std::vector<uint8_t>* out, const Image& image) {
    const int size = image.size;
    PutU32(out, kBitmapHeaderSize);
    PutU32(out, size);
    PutU32(out, size * 2);  // the XOR and the AND bitmap, one above the other
    PutU16(out, 1);         // planes
    PutU16(out, 4);         // bits per pixel
    PutU32(out, 0);         // BI_RGB
    PutU32(out, (XorRowBytes(size) + AndRowBytes(size)) * size);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);  // colours used: all 16 that 4 bits allow
    PutU32(out, 0);  // all colours important
    for (const Rgb& c : kPalette) {
        out->push_back(c.blue);
        out->push_back(c.green);
        out->push_back(c.red);
        out->push_back(0);
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(XorRowBytes(size), 0);
        for (int x = 0; x < size; ++x) {
            uint8_t p = image.pixels[static_cast<size_t>(y) * size + x];
            uint8_t colour = p == kTransparent ? 0 : p;
            row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? colour << 4 : colour);
        }
        out->insert(out->end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(AndRowBytes(size), 0);
        for (int x = 0; x < size; ++x)
            if (image.pixels[static_cast<size_t>(y) * size + x] == kTransparent)
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out->insert(out->end(), row.begin(), row.end());
    }
}

std::vector<uint8_t> BuildIcon() {
    std::vector<uint8_t> out;
    PutU16(&out, 0);  // reserved
    PutU16(&out, 1);  // icon
    PutU16(&out, kImageCount);
    uint32_t offset = kDirectorySize + kEntrySize * kImageCount;
    for (int size : kSizes) {
        out.push_back(static_cast<uint8_t>(size));
        out.push_back(static_cast<uint8_t>(size));
        out.push_back(kPaletteSize);
        out.push_back(0);  // reserved
        PutU16(&out, 1);   // planes
        PutU16(&out, 4);   // bits per pixel
        PutU32(&out, ImageBytes(size));
        PutU32(&out, offset);
        offset += ImageBytes(size);
    }
    for (int size : kSizes) PutImage(&out, Draw(size));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: makeicon OUT.ico\n");
        return 2;
    }
    return WriteGeneratedFile("makeicon", argv[1], BuildIcon());
}
