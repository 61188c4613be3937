#include "package/VcdiffDecoder.h"

#include <zlib.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "base/ByteReader.h"
#include "package/VcdiffFormat.h"

namespace {

// The delta is read through a buffer of this size.
constexpr size_t kDeltaInputBuffer = 64 * 1024;

// The delta read in order through a buffer.
struct DeltaInput {
    const VcdiffStreams* streams;
    uint8_t buffer[kDeltaInputBuffer];
    size_t position;
    size_t length;
    bool failed;
};

enum Take { kTaken, kAtEnd, kFailed };

Take Fill(DeltaInput* in) {
    if (in->position < in->length) return kTaken;
    size_t got = 0;
    if (in->streams->readDelta(in->streams->context, in->buffer, sizeof(in->buffer), &got) != 0 ||
        got > sizeof(in->buffer)) {
        in->failed = true;
        return kFailed;
    }
    in->position = 0;
    in->length = got;
    return got == 0 ? kAtEnd : kTaken;
}

Take NextByte(DeltaInput* in, uint8_t* byte) {
    Take t = Fill(in);
    if (t == kTaken) *byte = in->buffer[in->position++];
    return t;
}

Take TakeBytes(DeltaInput* in, uint8_t* out, size_t count) {
    while (count > 0) {
        Take t = Fill(in);
        if (t != kTaken) return t;
        size_t n = in->length - in->position < count ? in->length - in->position : count;
        memcpy(out, in->buffer + in->position, n);
        in->position += n;
        out += n;
        count -= n;
    }
    return kTaken;
}

// One VCDIFF integer from the delta's header fields.
int TakeInteger(DeltaInput* in, uint64_t* value) {
    uint64_t v = 0;
    for (size_t i = 0; i < kMaxVcdiffIntegerBytes; ++i) {
        uint8_t byte;
        Take t = NextByte(in, &byte);
        if (t == kFailed) return kVcdiffCannotReadDelta;
        if (t == kAtEnd) return kVcdiffDamaged;
        v = (v << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            *value = v;
            return kVcdiffOk;
        }
    }
    return kVcdiffDamaged;
}

// One VCDIFF integer from a window's sections; false when cut short or
// wider than 63 bits.
bool ReadInteger(ByteReader* reader, uint64_t* value) {
    uint64_t v = 0;
    for (size_t i = 0; i < kMaxVcdiffIntegerBytes; ++i) {
        uint8_t byte;
        if (!ReadBytes(reader, &byte, 1)) return false;
        v = (v << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            *value = v;
            return true;
        }
    }
    return false;
}

// A buffer that grows to what a window needs, never past its bound.
struct WindowBuffer {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
};

bool Reserve(WindowBuffer* buffer, size_t size) {
    if (size == 0) size = 1;  // an empty window still has somewhere to point
    if (size <= buffer->capacity) return true;
    buffer->bytes.reset(new (std::nothrow) uint8_t[size]);
    buffer->capacity = buffer->bytes ? size : 0;
    return buffer->bytes != nullptr;
}

// What one window says about itself before its instructions run.
struct Window {
    uint64_t segmentSize;
    uint64_t segmentPosition;
    uint64_t targetLength;
    ByteReader data;
    ByteReader instructions;
    ByteReader addresses;
    bool hasChecksum;
    uint32_t checksum;
};

// The address of a copy, from its mode, checked to lie before here.
bool DecodeAddress(Window* w, VcdiffAddressCache* cache, uint8_t mode, uint64_t here, uint64_t* address) {
    uint64_t a = 0;
    if (mode >= kVcdiffModeFirstSame) {
        uint8_t byte;
        if (mode >= kVcdiffModes || !ReadBytes(&w->addresses, &byte, 1)) return false;
        a = cache->same[(mode - kVcdiffModeFirstSame) * 256 + byte];
    } else {
        uint64_t v;
        if (!ReadInteger(&w->addresses, &v)) return false;
        if (mode == kVcdiffModeSelf) {
            a = v;
        } else if (mode == kVcdiffModeHere) {
            if (v > here) return false;
            a = here - v;
        } else {
            uint64_t base = cache->near[mode - kVcdiffModeFirstNear];
            if (v > kMaxVcdiffInteger - base) return false;
            a = base + v;
        }
    }
    if (a >= here) return false;
    UpdateAddressCache(cache, a);
    *address = a;
    return true;
}

// Runs one half of an instruction into target, at *made of the window.
int Execute(const VcdiffStreams* streams, Window* w, VcdiffAddressCache* cache, const VcdiffHalf& half,
            uint8_t* target, uint64_t* made) {
    uint64_t size = half.size;
    if (size == 0 && !ReadInteger(&w->instructions, &size)) return kVcdiffDamaged;
    uint64_t room = w->targetLength - *made;
    if (size > room) return kVcdiffDamaged;
    uint8_t* out = target + *made;
    if (half.type == kVcdAdd) {
        if (!ReadBytes(&w->data, out, static_cast<size_t>(size))) return kVcdiffDamaged;
    } else if (half.type == kVcdRun) {
        uint8_t byte;
        if (!ReadBytes(&w->data, &byte, 1)) return kVcdiffDamaged;
        memset(out, byte, static_cast<size_t>(size));
    } else {
        uint64_t here = w->segmentSize + *made;
        uint64_t address;
        if (!DecodeAddress(w, cache, half.mode, here, &address)) return kVcdiffDamaged;
        if (address < w->segmentSize) {
            // A copy from the source stays inside its segment, which the
            // window's header kept inside the source.
            if (size > w->segmentSize - address) return kVcdiffDamaged;
            if (size > 0 && streams->readSource(streams->context, w->segmentPosition + address, out,
                                                static_cast<size_t>(size)) != 0)
                return kVcdiffCannotReadSource;
        } else {
            // From the window's own target, byte by byte: a copy may overlap
            // what it makes, repeating a pattern.
            const uint8_t* from = target + (address - w->segmentSize);
            for (uint64_t i = 0; i < size; ++i) out[i] = from[i];
        }
    }
    *made += size;
    return kVcdiffOk;
}

// Reads a window's header and delta encoding into encoding. Returns kVcdiffOk
// with *ended set when the delta ends before the window begins.
int ReadWindow(DeltaInput* in, uint64_t sourceSize, uint64_t targetLeft, WindowBuffer* encoding, Window* w,
               bool* ended) {
    uint8_t indicator = 0;
    Take t = NextByte(in, &indicator);
    if (t == kFailed) return kVcdiffCannotReadDelta;
    *ended = t == kAtEnd;
    if (*ended) return kVcdiffOk;
    if ((indicator & ~(kVcdWindowSource | kVcdWindowTarget | kVcdWindowAdler32)) != 0) return kVcdiffDamaged;
    if ((indicator & kVcdWindowTarget) != 0) return kVcdiffUnsupported;
    w->segmentSize = 0;
    w->segmentPosition = 0;
    int r;
    if ((indicator & kVcdWindowSource) != 0) {
        if ((r = TakeInteger(in, &w->segmentSize)) != kVcdiffOk) return r;
        if ((r = TakeInteger(in, &w->segmentPosition)) != kVcdiffOk) return r;
        if (w->segmentPosition > sourceSize || w->segmentSize > sourceSize - w->segmentPosition)
            return kVcdiffDamaged;
    }
    uint64_t deltaLength;
    if ((r = TakeInteger(in, &deltaLength)) != kVcdiffOk) return r;
    if (deltaLength > kMaxVcdiffWindowDelta) return kVcdiffDamaged;
    if (!Reserve(encoding, static_cast<size_t>(deltaLength))) return kVcdiffNoMemory;
    t = TakeBytes(in, encoding->bytes.get(), static_cast<size_t>(deltaLength));
    if (t != kTaken) return t == kFailed ? kVcdiffCannotReadDelta : kVcdiffDamaged;

    ByteReader reader;
    InitReader(&reader, encoding->bytes.get(), static_cast<size_t>(deltaLength));
    uint8_t compressed;
    uint64_t dataLength, instructionsLength, addressesLength;
    if (!ReadInteger(&reader, &w->targetLength) || !ReadBytes(&reader, &compressed, 1) ||
        !ReadInteger(&reader, &dataLength) || !ReadInteger(&reader, &instructionsLength) ||
        !ReadInteger(&reader, &addressesLength))
        return kVcdiffDamaged;
    if (w->targetLength > kMaxVcdiffWindow || w->targetLength > targetLeft) return kVcdiffDamaged;
    if (compressed != 0) return compressed < 8 ? kVcdiffUnsupported : kVcdiffDamaged;
    w->hasChecksum = (indicator & kVcdWindowAdler32) != 0;
    w->checksum = 0;
    if (w->hasChecksum) {
        uint8_t b[4];
        if (!ReadBytes(&reader, b, sizeof(b))) return kVcdiffDamaged;
        w->checksum = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                      static_cast<uint32_t>(b[2]) << 8 | b[3];
    }
    // The sections fill the rest of the window exactly.
    uint64_t rest = RemainingBytes(&reader);
    if (dataLength > rest || instructionsLength > rest - dataLength ||
        addressesLength != rest - dataLength - instructionsLength)
        return kVcdiffDamaged;
    const uint8_t* at = reader.data + reader.position;
    InitReader(&w->data, at, static_cast<size_t>(dataLength));
    InitReader(&w->instructions, at + dataLength, static_cast<size_t>(instructionsLength));
    InitReader(&w->addresses, at + dataLength + instructionsLength, static_cast<size_t>(addressesLength));
    return kVcdiffOk;
}

int ReadHeader(DeltaInput* in) {
    uint8_t header[sizeof(kVcdiffMagic) + 1];
    Take t = TakeBytes(in, header, sizeof(header));
    if (t != kTaken) return t == kFailed ? kVcdiffCannotReadDelta : kVcdiffDamaged;
    if (memcmp(header, kVcdiffMagic, sizeof(kVcdiffMagic)) != 0) return kVcdiffDamaged;
    uint8_t indicator = header[sizeof(kVcdiffMagic)];
    if ((indicator & ~(kVcdHeaderCompressor | kVcdHeaderCodeTable | kVcdHeaderAppHeader)) != 0)
        return kVcdiffDamaged;
    if ((indicator & (kVcdHeaderCompressor | kVcdHeaderCodeTable)) != 0) return kVcdiffUnsupported;
    if ((indicator & kVcdHeaderAppHeader) != 0) {
        // Data of the application that wrote the delta: skipped, never used.
        uint64_t length;
        int r = TakeInteger(in, &length);
        if (r != kVcdiffOk) return r;
        uint8_t skipped[256];
        while (length > 0) {
            size_t n = length < sizeof(skipped) ? static_cast<size_t>(length) : sizeof(skipped);
            t = TakeBytes(in, skipped, n);
            if (t != kTaken) return t == kFailed ? kVcdiffCannotReadDelta : kVcdiffDamaged;
            length -= n;
        }
    }
    return kVcdiffOk;
}

}  // namespace

const char* DescribeVcdiffResult(int result) {
    switch (result) {
        case kVcdiffOk: return "ok";
        case kVcdiffDamaged: return "the delta is damaged: cut short, inconsistent, or reaching outside its files";
        case kVcdiffUnsupported: return "the delta uses a VCDIFF feature this program does not read";
        case kVcdiffCannotReadDelta: return "the delta could not be read";
        case kVcdiffCannotReadSource: return "the source file could not be read";
        case kVcdiffCannotWrite: return "the target file could not be written";
        case kVcdiffNoMemory: return "out of memory";
        default: return "unknown error";
    }
}

int DecodeVcdiff(const VcdiffStreams* streams, uint64_t sourceSize, uint64_t targetSize) {
    std::unique_ptr<DeltaInput> in(new (std::nothrow) DeltaInput);
    if (!in) return kVcdiffNoMemory;
    in->streams = streams;
    in->position = 0;
    in->length = 0;
    in->failed = false;
    int r = ReadHeader(in.get());
    if (r != kVcdiffOk) return r;
    const VcdiffCode* table = VcdiffDefaultCodeTable();
    WindowBuffer encoding, target;
    VcdiffAddressCache cache;
    uint64_t written = 0;
    for (;;) {
        Window w;
        bool ended = false;
        r = ReadWindow(in.get(), sourceSize, targetSize - written, &encoding, &w, &ended);
        if (r != kVcdiffOk) return r;
        if (ended) break;
        if (!Reserve(&target, static_cast<size_t>(w.targetLength))) return kVcdiffNoMemory;
        ResetAddressCache(&cache);
        uint64_t made = 0;
        while (RemainingBytes(&w.instructions) > 0) {
            uint8_t index;
            ReadBytes(&w.instructions, &index, 1);
            const VcdiffCode& code = table[index];
            for (const VcdiffHalf* half : {&code.first, &code.second}) {
                if (half->type == kVcdNoop) continue;
                r = Execute(streams, &w, &cache, *half, target.bytes.get(), &made);
                if (r != kVcdiffOk) return r;
            }
        }
        if (made != w.targetLength || RemainingBytes(&w.data) != 0 || RemainingBytes(&w.addresses) != 0)
            return kVcdiffDamaged;
        if (w.hasChecksum && !streams->ignoreChecksums &&
            adler32(adler32(0, nullptr, 0), target.bytes.get(), static_cast<uInt>(w.targetLength)) != w.checksum)
            return kVcdiffDamaged;
        if (w.targetLength > 0 &&
            streams->writeTarget(streams->context, target.bytes.get(), static_cast<size_t>(w.targetLength)) != 0)
            return kVcdiffCannotWrite;
        written += w.targetLength;
    }
    return written == targetSize ? kVcdiffOk : kVcdiffDamaged;
}
