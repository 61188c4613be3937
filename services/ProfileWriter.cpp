#include "services/ProfileWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "services/Platform.h"
#include "base/PathRules.h"
#include "base/SjisText.h"

namespace {

// Settings files are a few KiB; a file this large is not one, and is left alone.
constexpr size_t kMaxProfileBytes = 16 * 1024 * 1024;
// The new text is written under the file's name and this suffix, then swapped in.
constexpr const char* kNewFileSuffix = "~new";
// Room for any entry text once converted: a key or value is at most 511 bytes.
constexpr size_t kConvertedUnits = 1024;
// Units above the Unicode range carry bytes of a UTF-8 file that are not
// UTF-8, so that they are written back exactly as they were read.
constexpr uint32_t kRawByteUnit = 0x110000;

const uint8_t kBomUtf8[] = {0xEF, 0xBB, 0xBF};
const uint8_t kBomUtf16Le[] = {0xFF, 0xFE};
const uint8_t kBomUtf16Be[] = {0xFE, 0xFF};

enum Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// Text as characters: a Shift-JIS character (one byte, or lead byte << 8 |
// trail byte), a UTF-16 code unit, or a Unicode code point.
using Units = std::vector<uint32_t>;

struct Line {
    size_t begin;  // first unit
    size_t end;    // the unit after the text, where the line break begins
    size_t next;   // the unit after the line break
};

bool IsBlank(uint32_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

bool StartsWith(const std::vector<uint8_t>& bytes, const uint8_t* bom, size_t length) {
    return bytes.size() >= length && memcmp(bytes.data(), bom, length) == 0;
}

// A lead byte whose next byte cannot complete a character stands alone, so
// that a line break after it stays a line break.
void DecodeAnsi(const uint8_t* p, size_t n, Units* out) {
    const char* text = reinterpret_cast<const char*>(p);
    for (size_t i = 0, next = 0; i < n; i = next) {
        next = NextCharIndex(text, n, i);
        if (next == i + 2 && !IsTrailByte(p[i + 1])) next = i + 1;
        out->push_back(next == i + 2 ? static_cast<uint32_t>(p[i]) << 8 | p[i + 1] : p[i]);
    }
}

// One UTF-8 sequence at p (n bytes left) as a code point; 0 bytes when it is
// not a well-formed sequence.
size_t DecodeUtf8Char(const uint8_t* p, size_t n, uint32_t* c) {
    static const uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    size_t length = p[0] < 0x80 ? 1 : p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
                                 : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : 0;
    if (length == 0 || length > n) return 0;
    uint32_t v = length == 1 ? p[0] : p[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = v << 6 | (p[i] & 0x3F);
    }
    if (v < kMinimum[length] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *c = v;
    return length;
}

void DecodeUtf8(const uint8_t* p, size_t n, Units* out) {
    for (size_t i = 0; i < n;) {
        uint32_t c = 0;
        size_t length = DecodeUtf8Char(p + i, n - i, &c);
        if (length == 0) {
            out->push_back(kRawByteUnit + p[i]);
            ++i;
        } else {
            out->push_back(c);
            i += length;
        }
    }
}

void EncodeUnit(uint32_t c, Encoding encoding, std::vector<uint8_t>* out) {
    switch (encoding) {
        case kAnsi:
            if (c > 0xFF) out->push_back(static_cast<uint8_t>(c >> 8));
            out->push_back(static_cast<uint8_t>(c));
            break;
        case kUtf16Le:
            out->push_back(static_cast<uint8_t>(c));
            out->push_back(static_cast<uint8_t>(c >> 8));
            break;
        case kUtf16Be:
            out->push_back(static_cast<uint8_t>(c >> 8));
            out->push_back(static_cast<uint8_t>(c));
            break;
        case kUtf8:
            if (c >= kRawByteUnit) {
                out->push_back(static_cast<uint8_t>(c - kRawByteUnit));
            } else if (c < 0x80) {
                out->push_back(static_cast<uint8_t>(c));
            } else if (c < 0x800) {
                out->push_back(static_cast<uint8_t>(0xC0 | c >> 6));
                out->push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
            } else if (c < 0x10000) {
                out->push_back(static_cast<uint8_t>(0xE0 | c >> 12));
                out->push_back(static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F)));
                out->push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
            } else {
                out->push_back(static_cast<uint8_t>(0xF0 | c >> 18));
                out->push_back(static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F)));
                out->push_back(static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F)));
                out->push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
            }
            break;
    }
}

// The file's bytes after its byte-order mark as units. False for a UTF-16
// file with half a code unit at its end.
bool DecodeFile(const std::vector<uint8_t>& bytes, Encoding encoding, size_t bomLength, Units* out) {
    const uint8_t* p = bytes.data() + bomLength;
    size_t n = bytes.size() - bomLength;
    if (encoding == kAnsi) {
        DecodeAnsi(p, n, out);
    } else if (encoding == kUtf8) {
        DecodeUtf8(p, n, out);
    } else {
        if (n % 2 != 0) return false;
        for (size_t i = 0; i < n; i += 2)
            out->push_back(encoding == kUtf16Le ? (p[i] | p[i + 1] << 8) : (p[i] << 8 | p[i + 1]));
    }
    return true;
}

// A lead byte without the byte that completes it: half a character, with no
// form in any encoding. Written into a Shift-JIS file it would take the byte
// after it (the "]" of a section header) as its second byte, so that the
// entry could never be found again and every write would add it anew.
bool HasHalfCharacter(const char* text) {
    size_t n = strlen(text);
    for (size_t i = 0; i < n; ++i) {
        if (!IsLeadByte(static_cast<uint8_t>(text[i]))) continue;
        if (i + 1 >= n || !IsTrailByte(static_cast<uint8_t>(text[i + 1]))) return true;
        ++i;
    }
    return false;
}

// Program text (Shift-JIS) as units of the file's encoding. False for text
// that has no form in it.
bool ToUnits(const char* text, Encoding encoding, Units* out) {
    out->clear();
    if (HasHalfCharacter(text)) return false;
    if (encoding == kAnsi) {
        DecodeAnsi(reinterpret_cast<const uint8_t*>(text), strlen(text), out);
        return true;
    }
    uint16_t wide[kConvertedUnits];
    size_t count = 0;
    if (PlatformSjisToUtf16(text, wide, kConvertedUnits, &count) != 0) return false;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = wide[i];
        if (encoding == kUtf8 && c >= 0xD800 && c <= 0xDBFF && i + 1 < count && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        out->push_back(c);
    }
    return true;
}

void Trim(const Units& text, size_t* begin, size_t* end) {
    while (*begin < *end && IsBlank(text[*begin])) ++*begin;
    while (*end > *begin && IsBlank(text[*end - 1])) --*end;
}

Units Trimmed(const Units& text) {
    size_t begin = 0, end = text.size();
    Trim(text, &begin, &end);
    return Units(text.begin() + static_cast<long>(begin), text.begin() + static_cast<long>(end));
}

std::vector<Line> SplitLines(const Units& text) {
    std::vector<Line> lines;
    size_t i = 0;
    while (i < text.size()) {
        Line line{i, i, i};
        while (line.end < text.size() && text[line.end] != '\r' && text[line.end] != '\n') ++line.end;
        line.next = line.end;
        if (line.next < text.size() && text[line.next] == '\r') ++line.next;
        if (line.next < text.size() && text[line.next] == '\n' && (line.next == line.end || text[line.end] == '\r'))
            ++line.next;
        lines.push_back(line);
        i = line.next;
    }
    return lines;
}

bool IsBlankLine(const Units& text, const Line& line) {
    size_t begin = line.begin, end = line.end;
    Trim(text, &begin, &end);
    return begin == end;
}

// For a header line ("[name]" after trimming, up to its last "]"), the
// trimmed name's range.
bool HeaderName(const Units& text, const Line& line, size_t* nameBegin, size_t* nameEnd) {
    size_t begin = line.begin, end = line.end;
    Trim(text, &begin, &end);
    if (begin == end || text[begin] != '[') return false;
    size_t close = end - 1;
    while (close > begin && text[close] != ']') --close;
    if (close == begin) return false;
    *nameBegin = begin + 1;
    *nameEnd = close;
    Trim(text, nameBegin, nameEnd);
    return true;
}

// For a key line (not blank, not a header), the trimmed key name's range:
// the text before its first "=", or the whole line.
bool KeyName(const Units& text, const Line& line, size_t* nameBegin, size_t* nameEnd) {
    size_t b = 0, e = 0;
    if (IsBlankLine(text, line) || HeaderName(text, line, &b, &e)) return false;
    size_t begin = line.begin, end = line.end;
    Trim(text, &begin, &end);
    size_t equals = begin;
    while (equals < end && text[equals] != '=') ++equals;
    *nameBegin = begin;
    *nameEnd = equals;
    Trim(text, nameBegin, nameEnd);
    return true;
}

bool SameName(const Units& text, size_t begin, size_t end, const Units& name) {
    if (end - begin != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (FoldAsciiLetter(text[begin + i]) != FoldAsciiLetter(name[i])) return false;
    return true;
}

void AppendLineBreak(Units* out) {
    out->push_back('\r');
    out->push_back('\n');
}

// Inserts a whole line at position at; the line before it, when it lacks a
// line break (the file's last line), gets one first.
void InsertLine(Units* text, size_t at, const Units& line) {
    Units inserted;
    if (at > 0 && (*text)[at - 1] != '\r' && (*text)[at - 1] != '\n') AppendLineBreak(&inserted);
    inserted.insert(inserted.end(), line.begin(), line.end());
    AppendLineBreak(&inserted);
    text->insert(text->begin() + static_cast<long>(at), inserted.begin(), inserted.end());
}

// Applies one entry (already in the file's units, trimmed as the system
// writer trims them) to the text.
void ApplyEntry(Units* text, const Units& section, const Units& key, const Units& value) {
    std::vector<Line> lines = SplitLines(*text);
    size_t first = 0;  // first line of the section's body
    size_t stop = lines.size();
    bool found = section.empty();
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t b = 0, e = 0;
        if (!HeaderName(*text, lines[i], &b, &e)) continue;
        if (found) {
            stop = i;
            break;
        }
        if (SameName(*text, b, e, section)) {
            found = true;
            first = i + 1;
        }
    }
    Units entry;
    if (!found) {
        entry.push_back('[');
        entry.insert(entry.end(), section.begin(), section.end());
        entry.push_back(']');
        InsertLine(text, text->size(), entry);
        entry.clear();
    }
    entry.insert(entry.end(), key.begin(), key.end());
    entry.push_back('=');
    entry.insert(entry.end(), value.begin(), value.end());
    if (!found) {
        InsertLine(text, text->size(), entry);
        return;
    }
    size_t after = first;  // where a new key goes: after the body's last non-blank line
    for (size_t i = first; i < stop; ++i) {
        size_t b = 0, e = 0;
        if (KeyName(*text, lines[i], &b, &e) && SameName(*text, b, e, key)) {
            // The key keeps the file's spelling of its name.
            Units line(text->begin() + static_cast<long>(b), text->begin() + static_cast<long>(e));
            line.push_back('=');
            line.insert(line.end(), value.begin(), value.end());
            text->erase(text->begin() + static_cast<long>(lines[i].begin),
                        text->begin() + static_cast<long>(lines[i].end));
            text->insert(text->begin() + static_cast<long>(lines[i].begin), line.begin(), line.end());
            return;
        }
        if (!IsBlankLine(*text, lines[i])) after = i + 1;
    }
    size_t at = after == 0 ? 0 : lines[after - 1].next;
    InsertLine(text, at, entry);
}

// Reads the whole file. A file that does not exist reads as empty.
int ReadProfile(const char* path, std::vector<uint8_t>* bytes) {
    uint32_t attributes = 0;
    if (PlatformGetAttributes(path, &attributes) != 0) return kProfileOk;
    if ((attributes & kAttrFolder) != 0) return kProfileCannotRead;
    if ((attributes & kAttrReadOnly) != 0) return kProfileReadOnly;
    FILE* in = PlatformOpenFile(path, "rb");
    if (in == nullptr) return kProfileCannotRead;
    uint8_t block[4096];
    int result = kProfileOk;
    for (;;) {
        size_t got = fread(block, 1, sizeof(block), in);
        if (bytes->size() + got > kMaxProfileBytes) {
            result = kProfileTooLarge;
            break;
        }
        bytes->insert(bytes->end(), block, block + got);
        if (got < sizeof(block)) {
            if (ferror(in)) result = kProfileCannotRead;
            break;
        }
    }
    fclose(in);
    return result;
}

// Writes bytes beside path and swaps them in.
int ReplaceProfile(const char* path, const std::vector<uint8_t>& bytes) {
    char temporary[kMaxPath];
    if (!CopyText(temporary, sizeof(temporary), path) || !AppendText(temporary, sizeof(temporary), kNewFileSuffix))
        return kProfileCannotWrite;
    // What an interrupted write may have left there is overwritten.
    FILE* out = PlatformOpenFile(temporary, "wb");
    if (out == nullptr) return kProfileCannotWrite;
    bool written = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    written = fflush(out) == 0 && written;
    written = fclose(out) == 0 && written;
    if (written && PlatformReplaceFile(temporary, path) == 0) return kProfileOk;
    PlatformDeleteFile(temporary);
    return kProfileCannotWrite;
}

}  // namespace

bool ResolveProfilePath(const char* file, char* path, size_t capacity) {
    if (FolderPartLength(file) > 0) return CopyText(path, capacity, file);
    char windows[kMaxPath];
    return PlatformGetWindowsFolder(windows, sizeof(windows)) == 0 && JoinPath(path, capacity, windows, file);
}

int WriteProfileEntries(const char* section, const ProfileEntry* entries, size_t count, const char* file) {
    char path[kMaxPath];
    if (!ResolveProfilePath(file, path, sizeof(path))) return kProfileBadPath;
    std::vector<uint8_t> bytes;
    int result = ReadProfile(path, &bytes);
    if (result != kProfileOk) return result;
    Encoding encoding = kAnsi;
    size_t bomLength = 0;
    if (StartsWith(bytes, kBomUtf8, sizeof(kBomUtf8))) {
        encoding = kUtf8;
        bomLength = sizeof(kBomUtf8);
    } else if (StartsWith(bytes, kBomUtf16Le, sizeof(kBomUtf16Le))) {
        encoding = kUtf16Le;
        bomLength = sizeof(kBomUtf16Le);
    } else if (StartsWith(bytes, kBomUtf16Be, sizeof(kBomUtf16Be))) {
        encoding = kUtf16Be;
        bomLength = sizeof(kBomUtf16Be);
    }
    Units text;
    if (!DecodeFile(bytes, encoding, bomLength, &text)) return kProfileBadText;
    Units sectionName, key, value;
    if (!ToUnits(section, encoding, &sectionName)) return kProfileBadText;
    sectionName = Trimmed(sectionName);
    for (size_t i = 0; i < count; ++i) {
        if (!ToUnits(entries[i].key, encoding, &key) || !ToUnits(entries[i].value, encoding, &value))
            return kProfileBadText;
        size_t valueBegin = 0;
        while (valueBegin < value.size() && IsBlank(value[valueBegin])) ++valueBegin;
        value.erase(value.begin(), value.begin() + static_cast<long>(valueBegin));
        ApplyEntry(&text, sectionName, Trimmed(key), value);
    }
    std::vector<uint8_t> updated(bytes.begin(), bytes.begin() + static_cast<long>(bomLength));
    for (uint32_t c : text) EncodeUnit(c, encoding, &updated);
    if (updated == bytes) return kProfileOk;
    // A Shift-JIS file whose new text would begin as a byte-order mark (an
    // entry's first bytes in an empty file) would be read as another encoding.
    if (encoding == kAnsi && (StartsWith(updated, kBomUtf8, sizeof(kBomUtf8)) ||
                              StartsWith(updated, kBomUtf16Le, sizeof(kBomUtf16Le)) ||
                              StartsWith(updated, kBomUtf16Be, sizeof(kBomUtf16Be))))
        return kProfileBadText;
    return ReplaceProfile(path, updated);
}

int WriteProfileEntry(const char* section, const char* key, const char* value, const char* file) {
    ProfileEntry entry{key, value};
    return WriteProfileEntries(section, &entry, 1, file);
}
