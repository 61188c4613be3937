#include "update/HelperHandshake.h"

#include <cstring>
#include <vector>

#include "base/ByteReader.h"

namespace {

constexpr uint8_t kMagic[4] = {'V', 'H', 'L', 'P'};
constexpr const char16_t* kMappingPrefix = u"Local\\VornelUpdaterHelper-";
// The most decimal digits a 32-bit process id takes.
constexpr size_t kMaxIdDigits = 10;
constexpr const char16_t* kHexDigits = u"0123456789abcdef";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Decimal(uint32_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::u16string Hex(const uint8_t* bytes, size_t count) {
    std::u16string text;
    for (size_t i = 0; i < count; ++i) {
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool ParseId(const std::u16string& text, uint32_t* id) {
    if (text.empty() || text.size() > kMaxIdDigits) return false;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + (c - u'0');
    }
    if (value == 0 || value > UINT32_MAX) return false;
    *id = static_cast<uint32_t>(value);
    return true;
}

bool ParseNonce(const std::u16string& text, uint8_t* nonce) {
    if (text.size() != kNonceBytes * 2) return false;
    uint8_t bytes[kNonceBytes];
    for (size_t i = 0; i < kNonceBytes; ++i) {
        int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    memcpy(nonce, bytes, kNonceBytes);
    return true;
}

// Quotes one argument so that the system's rules read it back as it is:
// backslashes count only before a quote, where they are doubled.
std::u16string QuoteArgument(const std::u16string& text) {
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (char16_t c : text) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, u'\\');
    quoted += u'"';
    return quoted;
}

// Splits the arguments after the program's name by the system's rules: 2n
// backslashes and a quote give n backslashes and open or close a quoted
// stretch, 2n+1 give n and a literal quote; other backslashes are themselves.
std::vector<std::u16string> SplitArguments(const char16_t* line) {
    std::vector<std::u16string> arguments;
    const char16_t* p = line;
    // The program's name: up to the next quote when it starts with one,
    // else up to a blank; backslashes mean nothing in it.
    if (*p == u'"') {
        ++p;
        while (*p != 0 && *p != u'"') ++p;
        if (*p == u'"') ++p;
    } else {
        while (*p != 0 && !IsBlank(*p)) ++p;
    }
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (*p == 0) return arguments;
        std::u16string argument;
        bool quoted = false;
        while (*p != 0 && (quoted || !IsBlank(*p))) {
            size_t backslashes = 0;
            while (*p == u'\\') {
                ++backslashes;
                ++p;
            }
            if (*p == u'"') {
                argument.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) argument += u'"';
                else quoted = !quoted;
                ++p;
            } else {
                argument.append(backslashes, u'\\');
                if (*p != 0 && (quoted || !IsBlank(*p))) argument += *p++;
            }
        }
        arguments.push_back(argument);
    }
}

bool FolderFits(const std::u16string& folder) { return !folder.empty() && folder.size() <= kMaxHandshakeFolder; }

bool ReadFolder(ByteReader* reader, std::u16string* folder) {
    uint16_t units = 0;
    if (!ReadU16(reader, &units) || units == 0 || units > kMaxHandshakeFolder) return false;
    if (RemainingBytes(reader) < static_cast<size_t>(units) * 2) return false;
    std::u16string text(units, u'\0');
    for (uint16_t i = 0; i < units; ++i) {
        uint16_t unit = 0;
        // A NUL would end the folder early wherever the system reads it.
        if (!ReadU16(reader, &unit) || unit == 0) return false;
        text[i] = static_cast<char16_t>(unit);
    }
    *folder = text;
    return true;
}

void StoreFolder(uint8_t* out, size_t* at, const std::u16string& folder) {
    StoreU16(out + *at, static_cast<uint16_t>(folder.size()));
    *at += 2;
    for (char16_t c : folder) {
        StoreU16(out + *at, static_cast<uint16_t>(c));
        *at += 2;
    }
}

}  // namespace

std::u16string HandshakeMappingName(uint32_t parentId, const uint8_t* nonce) {
    return kMappingPrefix + Decimal(parentId) + u"-" + Hex(nonce, kNonceBytes);
}

std::u16string FormatHelperArguments(const HelperRequest& request) {
    return std::u16string(kHelperSwitch) + u" " + Decimal(request.parentId) + u" " + Hex(request.nonce, kNonceBytes) +
           u" " + QuoteArgument(request.folder);
}

HelperCommand ParseHelperCommandLine(const char16_t* commandLine, HelperRequest* request) {
    std::vector<std::u16string> arguments = SplitArguments(commandLine);
    if (arguments.empty() || arguments[0] != kHelperSwitch) return kNotHelper;
    HelperRequest read;
    if (arguments.size() != 4 || !ParseId(arguments[1], &read.parentId) || !ParseNonce(arguments[2], read.nonce) ||
        !FolderFits(arguments[3]))
        return kHelperMalformed;
    read.folder = arguments[3];
    *request = read;
    return kHelperAsked;
}

size_t WriteHandshakeBlock(const HandshakeBlock& block, uint8_t* out, size_t capacity) {
    if (!FolderFits(block.installFolder) || !FolderFits(block.workingFolder)) return 0;
    size_t size = sizeof(kMagic) + 4 + 4 + kNonceBytes + 2 + block.installFolder.size() * 2 + 2 +
                  block.workingFolder.size() * 2;
    if (size > capacity) return 0;
    size_t at = 0;
    memcpy(out, kMagic, sizeof(kMagic));
    at += sizeof(kMagic);
    StoreU32(out + at, kHandshakeVersion);
    at += 4;
    StoreU32(out + at, block.parentId);
    at += 4;
    memcpy(out + at, block.nonce, kNonceBytes);
    at += kNonceBytes;
    StoreFolder(out, &at, block.installFolder);
    StoreFolder(out, &at, block.workingFolder);
    return at;
}

bool ReadHandshakeBlock(const uint8_t* data, size_t size, HandshakeBlock* block) {
    ByteReader reader;
    InitReader(&reader, data, size);
    uint8_t magic[sizeof(kMagic)];
    uint32_t version = 0;
    HandshakeBlock read;
    if (!ReadBytes(&reader, magic, sizeof(magic)) || memcmp(magic, kMagic, sizeof(kMagic)) != 0) return false;
    if (!ReadU32(&reader, &version) || version != kHandshakeVersion) return false;
    if (!ReadU32(&reader, &read.parentId) || !ReadBytes(&reader, read.nonce, kNonceBytes)) return false;
    if (!ReadFolder(&reader, &read.installFolder) || !ReadFolder(&reader, &read.workingFolder)) return false;
    *block = read;
    return true;
}

bool AcceptHelperRequest(const HelperRequest& request, const HandshakeBlock& block) {
    return request.parentId == block.parentId && memcmp(request.nonce, block.nonce, kNonceBytes) == 0 &&
           !request.folder.empty() && request.folder == block.installFolder;
}
