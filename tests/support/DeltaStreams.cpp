#include "tests/support/DeltaStreams.h"

#include <cstdlib>
#include <cstring>
#include <random>

#include "package/VcdiffDecoder.h"
#include "package/VcdiffEncoder.h"
#include "package/VcdiffFormat.h"

namespace {

struct Memory {
    const Bytes* delta;
    size_t at;
    size_t chunk;
    const Bytes* source;
    DecodeOutcome* outcome;
};

int ReadDelta(void* context, uint8_t* out, size_t capacity, size_t* got) {
    Memory* m = static_cast<Memory*>(context);
    size_t n = m->delta->size() - m->at;
    if (n > capacity) n = capacity;
    if (n > m->chunk) n = m->chunk;
    if (n > 0) memcpy(out, m->delta->data() + m->at, n);
    m->at += n;
    *got = n;
    return 0;
}

int ReadSource(void* context, uint64_t position, uint8_t* out, size_t size) {
    Memory* m = static_cast<Memory*>(context);
    if (position > m->source->size() || size > m->source->size() - position) {
        m->outcome->readOutside = true;
        return 1;
    }
    memcpy(out, m->source->data() + position, size);
    return 0;
}

int WriteTarget(void* context, const uint8_t* data, size_t size) {
    Memory* m = static_cast<Memory*>(context);
    m->outcome->target.insert(m->outcome->target.end(), data, data + size);
    return 0;
}

}  // namespace

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

DecodeOutcome DecodeInMemory(const Bytes& delta, const Bytes& source, uint64_t targetSize, size_t chunk) {
    DecodeOutcome outcome{0, {}, false};
    Memory m{&delta, 0, chunk, &source, &outcome};
    VcdiffStreams streams{&m, ReadDelta, ReadSource, WriteTarget};
    outcome.result = DecodeVcdiff(&streams, source.size(), targetSize);
    return outcome;
}

namespace {

struct EncodeMemory {
    const Bytes* target;
    size_t at;
    size_t chunk;
    Bytes* delta;
};

int ReadTarget(void* context, uint8_t* out, size_t capacity, size_t* got) {
    EncodeMemory* m = static_cast<EncodeMemory*>(context);
    size_t n = m->target->size() - m->at;
    if (n > capacity) n = capacity;
    if (n > m->chunk) n = m->chunk;
    if (n > 0) memcpy(out, m->target->data() + m->at, n);
    m->at += n;
    *got = n;
    return 0;
}

int WriteDelta(void* context, const uint8_t* data, size_t size) {
    EncodeMemory* m = static_cast<EncodeMemory*>(context);
    m->delta->insert(m->delta->end(), data, data + size);
    return 0;
}

}  // namespace

int EncodeInMemory(const Bytes& source, const Bytes& target, Bytes* delta, size_t chunk) {
    delta->clear();
    EncodeMemory m{&target, 0, chunk, delta};
    VcdiffEncodeStreams streams{&m, ReadTarget, WriteDelta};
    return EncodeVcdiff(source.data(), source.size(), &streams);
}

DeltaFields DeltaFieldsOf(const Bytes& source, const Bytes& target) {
    DeltaFields fields{};
    fields.sourceSize = static_cast<uint32_t>(source.size());
    fields.targetSize = static_cast<uint32_t>(target.size());
    PlatformSha256(source.data(), source.size(), fields.sourceHash);
    PlatformSha256(target.data(), target.size(), fields.targetHash);
    return fields;
}

void AppendDeltaEntry(Bytes* out, const std::string& name, const DeltaFields& fields, const Bytes& stream) {
    Bytes nameBytes(name.begin(), name.end());
    nameBytes.push_back(0);
    Bytes body(kDeltaFieldsSize);
    StoreDeltaFields(fields, body.data());
    body.insert(body.end(), stream.begin(), stream.end());
    AppendRawFile(out, nameBytes, kDeltaEntrySize, static_cast<uint32_t>(stream.size()), kTestFileTime, body);
}

Bytes VcdiffHeader() { return Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x00}; }

Bytes VcdiffInteger(uint64_t value) {
    uint8_t bytes[kMaxVcdiffIntegerBytes + 1];
    size_t n = StoreVcdiffInteger(bytes, value);
    return Bytes(bytes, bytes + n);
}

void AppendWindow(Bytes* out, const HandWindow& w) {
    auto append = [](Bytes* to, const Bytes& more) { to->insert(to->end(), more.begin(), more.end()); };
    out->push_back(w.indicator);
    if ((w.indicator & kVcdWindowSource) != 0) {
        append(out, VcdiffInteger(w.segmentSize));
        append(out, VcdiffInteger(w.segmentPosition));
    }
    Bytes encoding = VcdiffInteger(w.targetLength);
    encoding.push_back(0);
    append(&encoding, VcdiffInteger(w.data.size()));
    append(&encoding, VcdiffInteger(w.instructions.size()));
    append(&encoding, VcdiffInteger(w.addresses.size()));
    if ((w.indicator & kVcdWindowAdler32) != 0)
        for (int shift = 24; shift >= 0; shift -= 8) encoding.push_back(static_cast<uint8_t>(w.adler32 >> shift));
    append(&encoding, w.data);
    append(&encoding, w.instructions);
    append(&encoding, w.addresses);
    append(out, VcdiffInteger(static_cast<uint64_t>(static_cast<int64_t>(encoding.size()) + w.deltaLengthChange)));
    append(out, encoding);
}

#ifndef _WIN32
bool RunXdelta3(const std::string& options, const std::string& source, const std::string& in,
                const std::string& out) {
    auto native = [](std::string path) {
        for (char& c : path)
            if (c == '\\') c = '/';
        return "'" + path + "'";
    };
    std::string command =
        "xdelta3 " + options + " -s " + native(source) + " " + native(in) + " " + native(out) + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}
#endif
