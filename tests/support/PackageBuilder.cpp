#include "tests/support/PackageBuilder.h"

#include <zlib.h>

#include <cstdio>

#include "base/ByteReader.h"
#include "services/Platform.h"

Bytes Deflate(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
    out.resize(size);
    return out;
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

static void AppendU32(Bytes* out, uint32_t value) {
    uint8_t raw[4];
    StoreU32(raw, value);
    out->insert(out->end(), raw, raw + 4);
}

void AppendNameLength(Bytes* out, uint16_t length) {
    uint8_t raw[2];
    StoreU16(raw, length);
    out->insert(out->end(), raw, raw + 2);
}

void AppendFolder(Bytes* out, const std::string& name) {
    AppendNameLength(out, static_cast<uint16_t>(name.size() + 1));
    out->insert(out->end(), name.begin(), name.end());
    out->push_back(0);
    AppendU32(out, 0xFFFFFFFFu);
    AppendU32(out, 0);
}

void AppendRawFile(Bytes* out, const Bytes& nameBytes, int32_t unpacked, uint32_t packed,
                   uint64_t fileTime, const Bytes& stream) {
    AppendNameLength(out, static_cast<uint16_t>(nameBytes.size()));
    out->insert(out->end(), nameBytes.begin(), nameBytes.end());
    AppendU32(out, static_cast<uint32_t>(unpacked));
    AppendU32(out, packed);
    uint8_t raw[8];
    StoreU64(raw, fileTime);
    out->insert(out->end(), raw, raw + 8);
    out->insert(out->end(), stream.begin(), stream.end());
}

void AppendFile(Bytes* out, const std::string& name, const Bytes& content, uint64_t fileTime) {
    Bytes nameBytes(name.begin(), name.end());
    nameBytes.push_back(0);
    Bytes stream = Deflate(content);
    AppendRawFile(out, nameBytes, static_cast<int32_t>(content.size()), static_cast<uint32_t>(stream.size()),
                  fileTime, stream);
}

void AppendEnd(Bytes* out) { AppendNameLength(out, 0); }

Bytes MakeProgramFile(const Bytes& image, const Bytes& entries) {
    Bytes out = image;
    out.insert(out.end(), entries.begin(), entries.end());
    AppendEnd(&out);
    out.push_back(0);
    out.push_back(0);
    AppendU32(&out, static_cast<uint32_t>(image.size()));
    return out;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    FILE* f = PlatformOpenFile(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFileBytes(const std::string& path, Bytes* bytes) {
    FILE* f = PlatformOpenFile(path.c_str(), "rb");
    if (f == nullptr) return false;
    bytes->clear();
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
    fclose(f);
    return true;
}
