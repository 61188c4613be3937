#include "tools/ImageFiles.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "base/ByteReader.h"
#include "picture/RctFormat.h"
#include "services/Platform.h"
#include "tools/FolderScan.h"
#include "tools/ToolFiles.h"

#ifdef PATCHTOOL_WITH_PNG
#include <png.h>
#endif

namespace {

// Largest picture file read: a 32-bit BMP of the largest image, with room for
// its headers; anything bigger could not become an RCT anyway.
constexpr int64_t kMaxPictureFile = kMaxRctImageBytes / 3 * 4 + 65536;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// BMP: file header, the smallest info header, and the compression codes taken.
constexpr size_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpInfoHeaderSize = 40;
constexpr uint32_t kBmpUncompressed = 0;
constexpr uint32_t kBmpBitFields = 3;
// The only 32-bit layout taken with bit fields: blue, green, red, unused.
constexpr uint32_t kBmpRedMask = 0x00FF0000;
constexpr uint32_t kBmpGreenMask = 0x0000FF00;
constexpr uint32_t kBmpBlueMask = 0x000000FF;
// 72 dpi in pixels per metre, what most programs write.
constexpr int32_t kBmpPixelsPerMetre = 2835;
// The one PPM sample depth taken: 8 bits.
constexpr int kPpmMaxValue = 255;
const char* const kPngNeedsNative = "PNG needs the native tool; this build reads and writes BMP and PPM";

bool Fail(std::string* problem, const char* why) {
    *problem = why;
    return false;
}

// Checks a size against the largest image the RCT format takes.
bool SizeFits(int64_t width, int64_t height, std::string* problem) {
    if (width < 1 || height < 1) return Fail(problem, "the picture has no pixels");
    int64_t bytes = width * height * static_cast<int64_t>(kRctPixelSize);
    int64_t strided = (width * static_cast<int64_t>(kRctPixelSize) + 3) / 4 * 4 * height;
    if (width > INT32_MAX || height > INT32_MAX || bytes > kMaxRctImageBytes || strided > kMaxRctImageBytes)
        return Fail(problem, "the picture is larger than an RCT picture can be");
    return true;
}

bool ParseBmp(const uint8_t* data, size_t size, Picture* picture, std::string* problem) {
    ByteReader r;
    InitReader(&r, data, size);
    uint32_t dataOffset = 0, headerSize = 0, compression = 0;
    int32_t width = 0, height = 0;
    uint16_t planes = 0, bitCount = 0;
    if (!SkipBytes(&r, 10) || !ReadU32(&r, &dataOffset) || !ReadU32(&r, &headerSize))
        return Fail(problem, "the BMP header is cut short");
    if (headerSize < kBmpInfoHeaderSize) return Fail(problem, "BMP with an old (OS/2) header is not taken");
    if (!ReadI32(&r, &width) || !ReadI32(&r, &height) || !ReadU16(&r, &planes) || !ReadU16(&r, &bitCount) ||
        !ReadU32(&r, &compression))
        return Fail(problem, "the BMP header is cut short");
    if (bitCount != 24 && bitCount != 32) return Fail(problem, "only 24-bit and 32-bit BMP are taken");
    if (compression == kBmpBitFields && bitCount == 32) {
        // The masks follow the fields of the 40-byte header, inside a longer header or after it.
        uint32_t masks[3];
        if (!SkipBytes(&r, kBmpInfoHeaderSize - 20) || !ReadU32(&r, &masks[0]) || !ReadU32(&r, &masks[1]) ||
            !ReadU32(&r, &masks[2]))
            return Fail(problem, "the BMP header is cut short");
        if (masks[0] != kBmpRedMask || masks[1] != kBmpGreenMask || masks[2] != kBmpBlueMask)
            return Fail(problem, "only the plain blue-green-red layout of 32-bit BMP is taken");
    } else if (compression != kBmpUncompressed) {
        return Fail(problem, "compressed BMP is not taken");
    }
    bool topDown = height < 0;
    int64_t rows = topDown ? -static_cast<int64_t>(height) : height;
    if (!SizeFits(width, rows, problem)) return false;
    const size_t pixelBytes = bitCount / 8u;
    const int64_t rowBytes = (static_cast<int64_t>(width) * bitCount + 31) / 32 * 4;
    if (dataOffset < kBmpFileHeaderSize + kBmpInfoHeaderSize || dataOffset > size ||
        rowBytes * rows > static_cast<int64_t>(size - dataOffset))
        return Fail(problem, "the BMP ends before its last row");
    ByteReader pixels;
    InitReader(&pixels, data, size);
    SkipBytes(&pixels, dataOffset);
    picture->width = width;
    picture->height = static_cast<int32_t>(rows);
    picture->bgr.assign(static_cast<size_t>(width) * static_cast<size_t>(rows) * kRctPixelSize, 0);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (int64_t y = 0; y < rows; ++y) {
        if (!ReadBytes(&pixels, row.data(), row.size())) return Fail(problem, "the BMP ends before its last row");
        int64_t target = topDown ? y : rows - 1 - y;
        uint8_t* out = picture->bgr.data() + static_cast<size_t>(target) * width * kRctPixelSize;
        for (int32_t x = 0; x < width; ++x) memcpy(out + x * kRctPixelSize, row.data() + x * pixelBytes, kRctPixelSize);
    }
    return true;
}

bool IsPpmSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads one decimal field of a PPM header, passing over whitespace and
// comments before it. False when there is none or it exceeds INT32_MAX.
bool ReadPpmNumber(ByteReader* r, int64_t* value) {
    uint8_t c = 0;
    for (;;) {
        if (!ReadBytes(r, &c, 1)) return false;
        if (c == '#') {
            while (c != '\n' && c != '\r')
                if (!ReadBytes(r, &c, 1)) return false;
        } else if (!IsPpmSpace(c)) {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    *value = 0;
    for (;;) {
        *value = *value * 10 + (c - '0');
        if (*value > INT32_MAX) return false;
        if (RemainingBytes(r) == 0 || r->data[r->position] < '0' || r->data[r->position] > '9') return true;
        ReadBytes(r, &c, 1);
    }
}

bool ParsePpm(const uint8_t* data, size_t size, Picture* picture, std::string* problem) {
    ByteReader r;
    InitReader(&r, data, size);
    SkipBytes(&r, 2);
    int64_t width = 0, height = 0, maxValue = 0;
    if (!ReadPpmNumber(&r, &width) || !ReadPpmNumber(&r, &height) || !ReadPpmNumber(&r, &maxValue))
        return Fail(problem, "the PPM header is damaged or cut short");
    if (maxValue != kPpmMaxValue) return Fail(problem, "only 8-bit PPM (maximum value 255) is taken");
    uint8_t separator = 0;
    if (!ReadBytes(&r, &separator, 1) || !IsPpmSpace(separator))
        return Fail(problem, "the PPM header is damaged or cut short");
    if (!SizeFits(width, height, problem)) return false;
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * kRctPixelSize;
    if (RemainingBytes(&r) < bytes) return Fail(problem, "the PPM ends before its last row");
    picture->width = static_cast<int32_t>(width);
    picture->height = static_cast<int32_t>(height);
    picture->bgr.resize(bytes);
    ReadBytes(&r, picture->bgr.data(), bytes);
    for (size_t i = 0; i < bytes; i += kRctPixelSize) std::swap(picture->bgr[i], picture->bgr[i + 2]);
    return true;
}

#ifdef PATCHTOOL_WITH_PNG
bool ParsePng(const uint8_t* data, size_t size, Picture* picture, std::string* problem) {
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        *problem = std::string("the PNG cannot be read: ") + image.message;
        png_image_free(&image);
        return false;
    }
    if (!SizeFits(image.width, image.height, problem)) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_BGR;
    const png_color black = {0, 0, 0};
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, &black, pixels.data(), 0, nullptr)) {
        *problem = std::string("the PNG cannot be read: ") + image.message;
        png_image_free(&image);
        return false;
    }
    picture->width = static_cast<int32_t>(image.width);
    picture->height = static_cast<int32_t>(image.height);
    picture->bgr.swap(pixels);
    return true;
}

bool PngBytes(const Picture& picture, std::vector<uint8_t>* out, std::string* problem) {
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_BGR;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, picture.bgr.data(), 0, nullptr)) {
        *problem = std::string("the PNG cannot be made: ") + image.message;
        return false;
    }
    out->resize(size);
    if (!png_image_write_to_memory(&image, out->data(), &size, 0, picture.bgr.data(), 0, nullptr)) {
        *problem = std::string("the PNG cannot be made: ") + image.message;
        return false;
    }
    out->resize(size);
    return true;
}
#endif

}  // namespace

bool PngSupported() {
#ifdef PATCHTOOL_WITH_PNG
    return true;
#else
    return false;
#endif
}

PictureKind PictureKindOfName(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return kPictureUnknown;
    std::string ext = FoldedName(name.substr(dot + 1));
    if (ext == "bmp") return kPictureBmp;
    if (ext == "ppm") return kPicturePpm;
    if (ext == "png") return kPicturePng;
    return kPictureUnknown;
}

bool ParsePicture(const uint8_t* data, size_t size, Picture* picture, std::string* problem) {
    Picture read{0, 0, {}};
    bool ok;
    if (size >= sizeof(kPngSignature) && memcmp(data, kPngSignature, sizeof(kPngSignature)) == 0) {
#ifdef PATCHTOOL_WITH_PNG
        ok = ParsePng(data, size, &read, problem);
#else
        ok = Fail(problem, kPngNeedsNative);
#endif
    } else if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        ok = ParseBmp(data, size, &read, problem);
    } else if (size >= 2 && data[0] == 'P' && data[1] == '6') {
        ok = ParsePpm(data, size, &read, problem);
    } else {
        ok = Fail(problem, "not a PNG, BMP or P6 PPM picture");
    }
    if (ok) *picture = std::move(read);
    return ok;
}

bool ReadPictureFile(const std::string& path, Picture* picture, std::string* problem) {
    FileHolder file(PlatformOpenFile(path.c_str(), "rb"));
    if (!file) return Fail(problem, "the file cannot be opened");
    int64_t size = PlatformSeek(file.get(), 0, SEEK_END) == 0 ? PlatformTell(file.get()) : -1;
    if (size < 0 || PlatformSeek(file.get(), 0, SEEK_SET) != 0) return Fail(problem, "the file cannot be read");
    if (size > kMaxPictureFile) return Fail(problem, "the file is larger than any picture an RCT can hold");
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (!data.empty() && fread(data.data(), 1, data.size(), file.get()) != data.size())
        return Fail(problem, "the file cannot be read");
    return ParsePicture(data.data(), data.size(), picture, problem);
}

std::vector<uint8_t> BmpBytes(const Picture& picture) {
    const size_t rowBytes = (static_cast<size_t>(picture.width) * kRctPixelSize + 3) / 4 * 4;
    const size_t imageBytes = rowBytes * static_cast<size_t>(picture.height);
    const size_t headers = kBmpFileHeaderSize + kBmpInfoHeaderSize;
    std::vector<uint8_t> out(headers + imageBytes, 0);
    uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    StoreU32(h + 2, static_cast<uint32_t>(out.size()));
    StoreU32(h + 10, static_cast<uint32_t>(headers));
    StoreU32(h + 14, kBmpInfoHeaderSize);
    StoreU32(h + 18, static_cast<uint32_t>(picture.width));
    StoreU32(h + 22, static_cast<uint32_t>(picture.height));
    StoreU16(h + 26, 1);
    StoreU16(h + 28, 24);
    StoreU32(h + 30, kBmpUncompressed);
    StoreU32(h + 34, static_cast<uint32_t>(imageBytes));
    StoreU32(h + 38, static_cast<uint32_t>(kBmpPixelsPerMetre));
    StoreU32(h + 42, static_cast<uint32_t>(kBmpPixelsPerMetre));
    const size_t row = static_cast<size_t>(picture.width) * kRctPixelSize;
    for (int32_t y = 0; y < picture.height; ++y)
        memcpy(out.data() + headers + static_cast<size_t>(picture.height - 1 - y) * rowBytes,
               picture.bgr.data() + static_cast<size_t>(y) * row, row);
    return out;
}

std::vector<uint8_t> PpmBytes(const Picture& picture) {
    char header[64];
    int length = snprintf(header, sizeof(header), "P6\n%d %d\n%d\n", static_cast<int>(picture.width),
                          static_cast<int>(picture.height), kPpmMaxValue);
    std::vector<uint8_t> out(header, header + length);
    size_t start = out.size();
    out.insert(out.end(), picture.bgr.begin(), picture.bgr.end());
    for (size_t i = start; i + 2 < out.size(); i += kRctPixelSize) std::swap(out[i], out[i + 2]);
    return out;
}

bool WritePictureFile(const std::string& path, PictureKind kind, const Picture& picture, std::string* problem) {
    std::vector<uint8_t> bytes;
    if (kind == kPictureBmp) {
        bytes = BmpBytes(picture);
    } else if (kind == kPicturePpm) {
        bytes = PpmBytes(picture);
    } else if (kind == kPicturePng) {
#ifdef PATCHTOOL_WITH_PNG
        if (!PngBytes(picture, &bytes, problem)) return false;
#else
        return Fail(problem, kPngNeedsNative);
#endif
    } else {
        return Fail(problem, "the output name must end in .png, .bmp or .ppm");
    }
    FileHolder file(PlatformOpenFile(path.c_str(), "wb"));
    if (!file) return Fail(problem, "the file cannot be created");
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    ok = CloseWrittenFile(&file) && ok;
    return ok || Fail(problem, "the file cannot be written");
}
