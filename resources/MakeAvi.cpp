// makeavi OUT.avi: writes the clip that the copy progress window plays, a
// sheet of paper flying from one folder to another. The output depends on
// nothing but this file, so every build produces the same bytes.
//
// The clip is a RIFF AVI that the system's animation control can play: one
// video stream, no sound, every frame a key frame in 8-bit run-length
// encoding (BI_RLE8) over the 16 VGA colours.
//
//   RIFF 'AVI '
//     LIST 'hdrl'
//       'avih'  main header: 100000 us a frame, 17 frames, 260 x 40, has index
//       LIST 'strl'
//         'strh'  'vids' stream, handler 'RLE ', 10 frames a second
//         'strf'  BITMAPINFOHEADER (BI_RLE8, 8 bits) and 16 palette entries
//     LIST 'movi'
//       '00dc' frame 0 ... '00dc' frame 16
//     'idx1'  one 16-byte entry a frame: '00dc', key frame, offset from the
//             'movi' type field, data size
//
// Every row of a frame is coded in full, bottom row first as DIBs are: runs of
// one colour as (count, colour), stretches of differing colours as absolute
// runs (0, count, colours, padded to a word); 00 00 ends a row, 00 01 ends the
// frame after its top row. No row is left short and no delta code is used.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "GeneratedFile.h"

namespace {

constexpr int kWidth = 260;
constexpr int kHeight = 40;
constexpr int kFrameCount = 17;
// 10 frames a second: the whole flight takes 1.7 s before it starts over.
constexpr uint32_t kMicroSecondsPerFrame = 100000;
constexpr uint32_t kFramesPerSecond = 10;
constexpr int kPaletteSize = 16;
// A run's count is one byte.
constexpr int kMaxRun = 255;
// Absolute runs shorter than this are not possible (counts 0-2 are escapes).
constexpr int kMinAbsoluteRun = 3;

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyFrame = 0x10;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBitmapHeaderSize = 40;

// The standard 16-colour VGA palette in the order Windows numbers it.
enum Colour : uint8_t {
    kBlack, kMaroon, kGreen, kOlive, kNavy, kPurple, kTeal, kSilver,
    kGrey, kRed, kLime, kYellow, kBlue, kFuchsia, kAqua, kWhite,
};

struct Rgb {
    uint8_t red, green, blue;
};

constexpr Rgb kPalette[kPaletteSize] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
};

// The background is the colour of a classic dialog; the control keys its
// transparency on the top-left pixel, so nothing else in the picture uses it.
constexpr uint8_t kBackground = kSilver;

// The folders: left edges and size, the rows of the tab, back and front
// panels, and how far the open front leans to the right at its top.
constexpr int kSourceFolderLeft = 20;
constexpr int kTargetFolderLeft = 196;
constexpr int kFolderWidth = 44;
constexpr int kTabWidth = 16;
constexpr int kTabTop = 18;
constexpr int kBackTop = 21;
constexpr int kFrontTop = 26;
constexpr int kFolderBottom = 39;  // exclusive
constexpr int kFrontLean = 4;

// The sheet: its height, where its top starts and ends, and how high it flies.
constexpr int kPaperHeight = 16;
constexpr int kPaperRestTop = 17;
constexpr int kPaperLift = 16;
// Its width frame by frame, narrowing as it turns over in flight.
constexpr int kPaperWidths[kFrameCount] = {13, 13, 12, 10, 7, 4, 7, 10, 12, 13, 12, 10, 7, 4, 7, 10, 13};

struct Frame {
    uint8_t pixels[kHeight][kWidth];  // top row first
};

// The frame being drawn; 10 KB is better kept off the stack.
Frame s_frame;

// Fills [left, right) x [top, bottom), clipped to the frame.
void FillRect(Frame* frame, int left, int top, int right, int bottom, uint8_t colour) {
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right > kWidth) right = kWidth;
    if (bottom > kHeight) bottom = kHeight;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) frame->pixels[y][x] = colour;
}

// A filled box with a one-pixel border.
void Box(Frame* frame, int left, int top, int right, int bottom, uint8_t fill, uint8_t border) {
    FillRect(frame, left, top, right, bottom, border);
    FillRect(frame, left + 1, top + 1, right - 1, bottom - 1, fill);
}

// The tab and the back panel, behind the sheet.
void DrawFolderBack(Frame* frame, int left) {
    FillRect(frame, left, kTabTop, left + kTabWidth, kBackTop, kOlive);
    FillRect(frame, left, kBackTop, left + kFolderWidth, kFolderBottom, kOlive);
}

// The front panel, in front of the sheet: open, so it leans right towards its
// top, with a dark outline and a lit top edge.
void DrawFolderFront(Frame* frame, int left) {
    const int rows = kFolderBottom - kFrontTop;
    for (int y = kFrontTop; y < kFolderBottom; ++y) {
        int shift = kFrontLean * (kFolderBottom - 1 - y) / (rows - 1);
        uint8_t fill = y == kFrontTop + 1 ? kWhite : kYellow;
        if (y == kFrontTop || y == kFolderBottom - 1) fill = kBlack;
        FillRect(frame, left + shift, y, left + shift + kFolderWidth, y + 1, kBlack);
        FillRect(frame, left + shift + 1, y, left + shift + kFolderWidth - 1, y + 1, fill);
    }
}

// A sheet with three lines of writing, centred on centreX.
void DrawPaper(Frame* frame, int centreX, int top, int width) {
    int left = centreX - width / 2;
    int right = left + width;
    Box(frame, left, top, right, top + kPaperHeight, kWhite, kBlack);
    for (int line = 0; line < 3; ++line) {
        int y = top + 4 + line * 4;
        FillRect(frame, left + 3, y, right - 3, y + 1, kNavy);
    }
}

// Draws frame index (0 to kFrameCount - 1): the sheet rises out of the source
// folder in the first frame and sinks into the target folder in the last,
// along a parabola; the folder fronts hide its lower part at both ends.
void DrawFrame(Frame* frame, int index) {
    FillRect(frame, 0, 0, kWidth, kHeight, kBackground);
    DrawFolderBack(frame, kSourceFolderLeft);
    DrawFolderBack(frame, kTargetFolderLeft);
    const int last = kFrameCount - 1;
    int startX = kSourceFolderLeft + kFolderWidth / 2;
    int endX = kTargetFolderLeft + kFolderWidth / 2;
    int centreX = startX + (endX - startX) * index / last;
    int top = kPaperRestTop - kPaperLift * 4 * index * (last - index) / (last * last);
    DrawPaper(frame, centreX, top, kPaperWidths[index]);
    DrawFolderFront(frame, kSourceFolderLeft);
    DrawFolderFront(frame, kTargetFolderLeft);
}

// Length of the run of one colour starting at x, at most kMaxRun.
int RunLength(const uint8_t* row, int x) {
    int n = 1;
    while (x + n < kWidth && n < kMaxRun && row[x + n] == row[x]) ++n;
    return n;
}

void EncodeRow(const uint8_t* row, std::vector<uint8_t>* out) {
    int x = 0;
    while (x < kWidth) {
        int run = RunLength(row, x);
        if (run >= 2) {
            out->push_back(static_cast<uint8_t>(run));
            out->push_back(row[x]);
            x += run;
            continue;
        }
        // Single pixels: gather them while each differs from the next.
        int count = 0;
        while (x + count < kWidth && count < kMaxRun && RunLength(row, x + count) == 1) ++count;
        if (count < kMinAbsoluteRun) {
            for (int i = 0; i < count; ++i) {
                out->push_back(1);
                out->push_back(row[x + i]);
            }
        } else {
            out->push_back(0);
            out->push_back(static_cast<uint8_t>(count));
            for (int i = 0; i < count; ++i) out->push_back(row[x + i]);
            if (count % 2 != 0) out->push_back(0);
        }
        x += count;
    }
}

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
    std::vector<uint8_t> out;
    for (int y = kHeight - 1; y >= 0; --y) {
        EncodeRow(frame.pixels[y], &out);
        out.push_back(0);
        out.push_back(y == 0 ? 1 : 0);
    }
    return out;
}

void PutU16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void PutFourCc(std::vector<uint8_t>* out, const char* code) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(code[i]));
}

void PatchU32(std::vector<uint8_t>* out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Writes a chunk header and returns where its size goes; EndChunk fills it in.
size_t BeginChunk(std::vector<uint8_t>* out, const char* id) {
    PutFourCc(out, id);
    size_t at = out->size();
    PutU32(out, 0);
    return at;
}

size_t BeginList(std::vector<uint8_t>* out, const char* id, const char* type) {
    size_t at = BeginChunk(out, id);
    PutFourCc(out, type);
    return at;
}

void EndChunk(std::vector<uint8_t>* out, size_t sizeAt) {
    if (out->size() % 2 != 0) out->push_back(0);
    PatchU32(out, sizeAt, static_cast<uint32_t>(out->size() - sizeAt - 4));
}

std::vector<uint8_t> BuildAvi() {
    std::vector<std::vector<uint8_t>> frames;
    uint32_t largest = 0;
    for (int i = 0; i < kFrameCount; ++i) {
        DrawFrame(&s_frame, i);
        frames.push_back(EncodeFrame(s_frame));
        if (frames.back().size() > largest) largest = static_cast<uint32_t>(frames.back().size());
    }

    std::vector<uint8_t> out;
    size_t riff = BeginList(&out, "RIFF", "AVI ");
    size_t hdrl = BeginList(&out, "LIST", "hdrl");

    size_t avih = BeginChunk(&out, "avih");
    PutU32(&out, kMicroSecondsPerFrame);
    PutU32(&out, largest * kFramesPerSecond);  // max bytes per second
    PutU32(&out, 0);                           // padding granularity
    PutU32(&out, kAvifHasIndex);
    PutU32(&out, kFrameCount);
    PutU32(&out, 0);  // initial frames
    PutU32(&out, 1);  // streams
    PutU32(&out, largest);
    PutU32(&out, kWidth);
    PutU32(&out, kHeight);
    for (int i = 0; i < 4; ++i) PutU32(&out, 0);
    EndChunk(&out, avih);

    size_t strl = BeginList(&out, "LIST", "strl");
    size_t strh = BeginChunk(&out, "strh");
    PutFourCc(&out, "vids");
    PutFourCc(&out, "RLE ");
    PutU32(&out, 0);  // flags
    PutU16(&out, 0);  // priority
    PutU16(&out, 0);  // language
    PutU32(&out, 0);  // initial frames
    PutU32(&out, 1);  // scale: rate / scale is frames a second
    PutU32(&out, kFramesPerSecond);
    PutU32(&out, 0);  // start
    PutU32(&out, kFrameCount);
    PutU32(&out, largest);
    PutU32(&out, 0xFFFFFFFF);  // default quality
    PutU32(&out, 0);           // sample size: frames vary
    PutU16(&out, 0);
    PutU16(&out, 0);
    PutU16(&out, kWidth);
    PutU16(&out, kHeight);
    EndChunk(&out, strh);

    // The decoder bounds each frame by biSizeImage, so it holds the largest.
    size_t strf = BeginChunk(&out, "strf");
    PutU32(&out, kBitmapHeaderSize);
    PutU32(&out, kWidth);
    PutU32(&out, kHeight);  // positive: bottom-up
    PutU16(&out, 1);        // planes
    PutU16(&out, 8);        // bits per pixel
    PutU32(&out, kBiRle8);
    PutU32(&out, largest);
    PutU32(&out, 0);
    PutU32(&out, 0);
    PutU32(&out, kPaletteSize);  // colours used
    PutU32(&out, 0);             // all colours important
    for (const Rgb& c : kPalette) {
        out.push_back(c.blue);
        out.push_back(c.green);
        out.push_back(c.red);
        out.push_back(0);
    }
    EndChunk(&out, strf);
    EndChunk(&out, strl);
    EndChunk(&out, hdrl);

    size_t movi = BeginList(&out, "LIST", "movi");
    size_t moviType = movi + 4;
    std::vector<uint32_t> offsets;
    for (const std::vector<uint8_t>& data : frames) {
        offsets.push_back(static_cast<uint32_t>(out.size() - moviType));
        size_t chunk = BeginChunk(&out, "00dc");
        out.insert(out.end(), data.begin(), data.end());
        EndChunk(&out, chunk);
    }
    EndChunk(&out, movi);

    size_t idx1 = BeginChunk(&out, "idx1");
    for (int i = 0; i < kFrameCount; ++i) {
        PutFourCc(&out, "00dc");
        PutU32(&out, kAviifKeyFrame);
        PutU32(&out, offsets[i]);
        PutU32(&out, static_cast<uint32_t>(frames[i].size()));
    }
    EndChunk(&out, idx1);
    EndChunk(&out, riff);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: makeavi OUT.avi\n");
        return 2;
    }
    return WriteGeneratedFile("makeavi", argv[1], BuildAvi());
}
