// rct_bench [--width N] [--height N] [--runs N]: how fast the updater's RCT
// decoder shows a background picture next to libpng decoding the same picture,
// and how large each file is.
//
// Two deterministic pictures: a photograph-like one (smooth gradients, fine
// noise and hard edges) and a flat-colour one (UI blocks and text-like
// strokes). For each, the RCT decode is DecodeRctStream plus RestrideRctRows
// into a bitmap-sized buffer, as the updater does; the PNG decode is libpng's
// row reader into a buffer of the same rows, blue-green-red. Each is timed
// several times and the best kept. It exits 1 only when a decode fails or
// gives other pixels than the picture.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/RctEncoder.h"
#include "picture/RctFormat.h"

namespace {

// A full-HD window background: the size makers ship most.
constexpr int32_t kDefaultWidth = 1920;
constexpr int32_t kDefaultHeight = 1080;
// Timed repetitions of each decode; the best is kept.
constexpr int kDefaultRuns = 15;
// The best compression libpng offers, beside its default.
constexpr int kPngBestLevel = 9;
// What the updater is meant to beat libpng by.
constexpr double kTargetSpeedup = 2.0;
constexpr double kKiB = 1024.0;

using Bytes = std::vector<uint8_t>;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint32_t NextRandom(uint32_t* state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Sky-like gradients, a few hard-edged shapes, and sensor-like noise on all.
Bytes PhotoPicture(int32_t width, int32_t height) {
    Bytes out(static_cast<size_t>(width) * height * 3);
    uint32_t state = 0x12345678;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            double b = 200 - 120 * fy + 20 * std::sin(fx * 6.0);
            double g = 120 + 60 * std::sin(fx * 3.0 + fy * 2.0);
            double r = 60 + 100 * fy * fx;
            // A hill, a sun and a building: edges the eye sees.
            if (fy > 0.7 - 0.1 * std::sin(fx * 9.0)) {
                b = 40 + 30 * fy;
                g = 110 + 40 * std::sin(fx * 40.0);
                r = 50;
            }
            double dx = fx - 0.75, dy = fy - 0.25;
            if (dx * dx + dy * dy < 0.005) b = 90, g = 220, r = 250;
            if (fx > 0.2 && fx < 0.3 && fy > 0.35 && fy < 0.8) b = 70 + 20 * ((x / 12 + y / 20) % 2), g = 75, r = 90;
            uint32_t n = NextRandom(&state);
            uint8_t* p = out.data() + (static_cast<size_t>(y) * width + x) * 3;
            p[0] = Clamp(b + static_cast<int>(n & 7) - 3);
            p[1] = Clamp(g + static_cast<int>((n >> 3) & 7) - 3);
            p[2] = Clamp(r + static_cast<int>((n >> 6) & 7) - 3);
        }
    }
    return out;
}

void FillRect(Bytes* out, int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t w, int32_t h, uint32_t bgr) {
    for (int32_t y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
        for (int32_t x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
            uint8_t* p = out->data() + (static_cast<size_t>(y) * width + x) * 3;
            p[0] = static_cast<uint8_t>(bgr);
            p[1] = static_cast<uint8_t>(bgr >> 8);
            p[2] = static_cast<uint8_t>(bgr >> 16);
        }
}

// A window of panels and buttons with lines of text-like glyph strokes.
Bytes FlatPicture(int32_t width, int32_t height) {
    Bytes out(static_cast<size_t>(width) * height * 3);
    FillRect(&out, width, height, 0, 0, width, height, 0xF0F0F0);
    FillRect(&out, width, height, 0, 0, width, 64, 0x8A4B1F);
    FillRect(&out, width, height, 40, 120, width / 3, height - 200, 0xFFFFFF);
    FillRect(&out, width, height, width / 3 + 80, 120, width / 2, height / 2, 0xE0E8F0);
    for (int i = 0; i < 6; ++i) FillRect(&out, width, height, width / 3 + 100 + i * 150, height - 140, 130, 44, 0xD07020);
    uint32_t state = 0xCAFEF00D;
    // Glyphs: 8x14 cells of 1-2 pixel strokes, line after line.
    for (int32_t line = 0; line < (height - 240) / 22; ++line) {
        int32_t y = 140 + line * 22;
        int32_t chars = 20 + static_cast<int32_t>(NextRandom(&state) % 20);
        for (int32_t c = 0; c < chars; ++c) {
            int32_t x = 60 + c * 9;
            uint32_t glyph = NextRandom(&state);
            if ((glyph & 15) == 0) continue;  // a space
            if (glyph & 16) FillRect(&out, width, height, x, y, 1 + (glyph >> 5 & 1), 14, 0x202020);
            if (glyph & 128) FillRect(&out, width, height, x, y + 6, 7, 1, 0x202020);
            if (glyph & 256) FillRect(&out, width, height, x + 6, y + 2, 1, 12, 0x202020);
            if (glyph & 512) FillRect(&out, width, height, x, y + 13, 7, 1, 0x202020);
            if (glyph & 1024) FillRect(&out, width, height, x + 2, y, 4, 1, 0x202020);
        }
    }
    return out;
}

struct PngSink {
    Bytes bytes;
};

void PngWriteToMemory(png_structp png, png_bytep data, png_size_t length) {
    PngSink* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    sink->bytes.insert(sink->bytes.end(), data, data + length);
}

void PngFlush(png_structp) {}

// Encodes tightly packed blue-green-red rows as an 8-bit RGB PNG at level
// (-1: libpng's default). False when libpng fails.
bool EncodePng(const Bytes& bgr, int32_t width, int32_t height, int level, Bytes* out) {
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y)
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(bgr.data()) + static_cast<size_t>(y) * width * 3;
    PngSink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &sink, PngWriteToMemory, PngFlush);
    if (level >= 0) png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    out->swap(sink.bytes);
    return true;
}

struct PngSource {
    const Bytes* bytes;
    size_t position;
};

void PngReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
    PngSource* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->bytes->size() - source->position) png_error(png, "read past the end");
    memcpy(data, source->bytes->data() + source->position, length);
    source->position += length;
}

// Decodes an 8-bit RGB PNG into rows of stride bytes, blue-green-red, top
// row first, as a bitmap-sized buffer the caller sized. False on failure.
bool DecodePng(const Bytes& file, int32_t width, int32_t height, int32_t stride, png_bytep* rows, uint8_t* out) {
    PngSource source{&file, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, PngReadFromMemory);
    png_read_info(png, info);
    if (png_get_image_width(png, info) != static_cast<png_uint_32>(width) ||
        png_get_image_height(png, info) != static_cast<png_uint_32>(height))
        png_error(png, "unexpected size");
    png_set_bgr(png);
    png_read_update_info(png, info);
    for (int32_t y = 0; y < height; ++y) rows[y] = out + static_cast<size_t>(y) * stride;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// The decoded bitmap (rows of stride bytes) holds exactly the picture.
bool SameRows(const Bytes& bgr, const Bytes& bitmap, int32_t width, int32_t height, int32_t stride) {
    size_t row = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; y < height; ++y)
        if (memcmp(bgr.data() + y * row, bitmap.data() + static_cast<size_t>(y) * stride, row) != 0) return false;
    return true;
}

struct Figures {
    size_t raw, rct, png, png9;
    double encodeRct, decodeRct, decodePng;
    bool ok;
};

Figures Measure(const Bytes& bgr, int32_t width, int32_t height, int runs) {
    Figures f{bgr.size(), 0, 0, 0, 0, 1e9, 1e9, true};
    const int32_t stride = RctStride(width);
    Bytes rct, png, png9;
    double start = Now();
    f.ok = EncodeRct(bgr.data(), width, height, 0, nullptr, &rct) == kRctOk;
    f.encodeRct = Now() - start;
    f.ok = f.ok && EncodePng(bgr, width, height, -1, &png) && EncodePng(bgr, width, height, kPngBestLevel, &png9);
    if (!f.ok) return f;
    f.rct = rct.size();
    f.png = png.size();
    f.png9 = png9.size();
    RctHeader header;
    f.ok = ParseRctHeader(rct.data(), rct.size(), &header) == kRctOk;
    Bytes bitmap(static_cast<size_t>(stride) * height);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int r = 0; r < runs && f.ok; ++r) {
        // Alternating, so both meet the same cache state.
        memset(bitmap.data(), 0, bitmap.size());
        start = Now();
        f.ok = DecodeRctStream(rct.data() + header.streamOffset, header.packedLength, width, height, bitmap.data()) ==
               kRctOk;
        RestrideRctRows(bitmap.data(), width, height, stride);
        f.decodeRct = std::min(f.decodeRct, Now() - start);
        f.ok = f.ok && SameRows(bgr, bitmap, width, height, stride);
        memset(bitmap.data(), 0, bitmap.size());
        start = Now();
        f.ok = f.ok && DecodePng(png, width, height, stride, rows.data(), bitmap.data());
        f.decodePng = std::min(f.decodePng, Now() - start);
        f.ok = f.ok && SameRows(bgr, bitmap, width, height, stride);
    }
    return f;
}

void PrintFigures(const char* name, const Figures& f) {
    if (!f.ok) {
        printf("  %-12s failed: a decode failed or gave other pixels\n", name);
        return;
    }
    double speedup = f.decodePng / f.decodeRct;
    printf("  %-12s %9.2f ms %9.2f ms %7.2fx %s  %8.0f KiB %8.0f KiB %8.0f KiB %8.0f KiB %8.0f ms\n", name,
           f.decodeRct * 1000, f.decodePng * 1000, speedup, speedup >= kTargetSpeedup ? "ok  " : "SLOW",
           static_cast<double>(f.raw) / kKiB, static_cast<double>(f.rct) / kKiB, static_cast<double>(f.png) / kKiB,
           static_cast<double>(f.png9) / kKiB, f.encodeRct * 1000);
}

int Usage() {
    fprintf(stderr, "usage: rct_bench [--width N] [--height N] [--runs N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int32_t width = kDefaultWidth, height = kDefaultHeight;
    int runs = kDefaultRuns;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) return Usage();
        if (strcmp(argv[i], "--width") == 0) width = atoi(argv[++i]);
        else if (strcmp(argv[i], "--height") == 0) height = atoi(argv[++i]);
        else if (strcmp(argv[i], "--runs") == 0) runs = atoi(argv[++i]);
        else return Usage();
    }
    if (width < 1 || height < 1 || runs < 1 ||
        static_cast<int64_t>(RctStride(width)) * height > kMaxRctImageBytes)
        return Usage();
    printf("rct_bench: %d x %d, best of %d decodes; PNG decoded by libpng %s into BGR rows\n\n", width, height, runs,
           PNG_LIBPNG_VER_STRING);
    printf("  %-12s %12s %12s %8s %4s  %12s %12s %12s %12s %11s\n", "picture", "RCT decode", "PNG decode", "PNG/RCT",
           "", "raw", "RCT", "PNG", "PNG -9", "RCT encode");
    Figures photo = Measure(PhotoPicture(width, height), width, height, runs);
    PrintFigures("photo-like", photo);
    Figures flat = Measure(FlatPicture(width, height), width, height, runs);
    PrintFigures("flat colour", flat);
    printf("\n  target: RCT decoding at least %.1fx as fast as PNG (\"ok\" above)\n", kTargetSpeedup);
    return photo.ok && flat.ok ? 0 : 1;
}
