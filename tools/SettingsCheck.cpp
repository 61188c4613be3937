#include "tools/SettingsCheck.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "services/Platform.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "base/SjisText.h"
#include "tools/DeleteRules.h"
#include "tools/FolderScan.h"
#include "tools/ToolFiles.h"
#include "tools/ToolText.h"
#include "update/InstallFolder.h"
#include "update/UpdateRules.h"

namespace {

// Text mode on Windows ends the stream at this byte.
constexpr char kCtrlZ = 0x1A;
// fgets fills the line buffer to one byte short of its size.
constexpr size_t kPieceBytes = kSettingsLineBuffer - 1;
// A misspelling within this many edits of a known key is taken for it.
constexpr size_t kSuggestDistance = 2;
// An install.env is a few KiB; the tool will not pull a huge file into memory.
constexpr int64_t kMaxCheckedBytes = 64 * 1024 * 1024;
// One message line; quoted text is cut to kQuotedValueBytes, so it never comes near this.
constexpr size_t kMessageBuffer = 4096;
// A value quoted in a message is shortened to this many bytes, so the line stays readable.
constexpr size_t kQuotedValueBytes = 40;
// The key/value pass's end marker, read only in the first column.
constexpr const char* kEndMarker = "[EOF]";
// Compared over its length, as LoadSettingsTable compares it: "[EOF]x" ends the pass too.
constexpr size_t kEndMarkerLength = 5;
// The mark an editor may put in front of UTF-8 text.
constexpr const char* kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kUtf8ByteOrderMarkLength = 3;
// Half-width katakana, one byte each in Shift-JIS; UTF-8's continuation
// bytes 0xA1-0xBF fall here, so UTF-8 read as Shift-JIS is full of them.
constexpr uint8_t kHalfWidthKanaFirst = 0xA1;
constexpr uint8_t kHalfWidthKanaLast = 0xDF;

enum KeyType {
    kTextKey,      // a 128-byte accessor with a default text
    kNullableKey,  // a 128-byte accessor that gives null when unset
    kIntegerKey,   // SettingInt with default 0
};

struct KnownKey {
    const char* key;
    KeyType type;
    const char* defaultText;
    bool alsoReadWhole;   // some places read it into a 512-byte buffer
    const char* meaning;  // for the comments of a starting install.env
};

// The keys the updater reads, with the accessor each goes through and its default.
const KnownKey kKnownKeys[] = {
    {"REG_GLOBAL", kTextKey, kDefaultDash, false,
     "first name of the game's registry key, HKEY_CURRENT_USER\\Software\\REG_GLOBAL\\REG_LOCAL; - writes no [reg] lines"},
    {"REG_LOCAL", kTextKey, kDefaultDash, false, "second name of the game's registry key"},
    {"INI_FILE", kTextKey, kDefaultDash, false, "the INI file the [ini] lines are written to"},
    {"INI_SECTION", kTextKey, kDefaultDash, false, "the section of that INI file"},
    {"TITLEBAR", kTextKey, kDefaultTitleBar, false, "the game's name, in the updater's title and messages"},
    {"INSTTO", kTextKey, kDefaultInstTo, false, "the game's folder, last part of the default install folder"},
    {"INSTFOL", kNullableKey, "", false,
     "a folder between Program Files and INSTTO in the default install folder; unset: none"},
    {"EXENAME", kTextKey, kDefaultExeName, false, "the game's program, started after the update"},
    {"INSTMAKEFOL", kIntegerKey, "0", false, "1: a folder chosen by hand gets INSTFOL and INSTTO added"},
    {"KEYFILE", kNullableKey, "", false, "a file that must be in a folder for it to be the game's; unset: none"},
    {"CHKREG", kNullableKey, "", false, "the registry value holding the installed version; unset: no version check"},
    {"CHKREGVER", kIntegerKey, "0", false, "the lowest installed version this patch updates"},
    {"CHKREGVERHIGH", kIntegerKey, "0", false, "the highest installed version this patch updates"},
    {"INSTREADME", kTextKey, kDefaultReadmeLabel, true, "the readme button's label; - offers no readme"},
    {"INSTREADMEFL", kTextKey, kDefaultReadmeFile, true, "the readme, a file at the top of the patch"},
};
constexpr int kKnownKeyCount = static_cast<int>(sizeof(kKnownKeys) / sizeof(kKnownKeys[0]));

// One fgets result: what either pass sees as a line.
struct Piece {
    std::string text;   // at most 511 bytes, the LF included when it fits
    int line;           // physical line
    bool continuation;  // not the start of its physical line
};

// What the section pass made of a piece.
enum PieceRole {
    kRoleOutside,     // no section open, not a marker: only the key/value pass cares
    kRoleComment,     // empty, "//" or ';'
    kRoleHeader,
    kRoleTerminator,  // starts with '-'
    kRoleEntry,       // kept in the open section's list
    kRoleSectionEof,  // "EOF": the section pass stops
    kRoleUnread,      // after "EOF"
};

struct PieceInfo {
    PieceRole role;
    int section;  // the open section for an entry, the section of a header
};

// A line that sets a known key in the key/value pass.
struct Definition {
    int line;
    std::string value;   // '|' already a blank
    std::string origin;  // "" for a key line, else what the line really is
};

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Printf(const char* format, ...) {
    char buffer[kMessageBuffer];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

bool IsSeparator(char c) { return static_cast<uint8_t>(c) <= 0x20; }


// A value for a message, cut at a character boundary with "..." when long.
std::string Quoted(const std::string& sjis) {
    if (sjis.size() <= kQuotedValueBytes) return ShownSjis(sjis);
    return ShownSjis(sjis.substr(0, CharBoundaryLength(sjis.c_str(), kQuotedValueBytes))) + "...";
}

// As the settings table stores a value: '|' becomes a blank, except as the
// second byte of a character (0x7C in ポ).
std::string BarsToBlanks(const char* text) {
    std::string out = text;
    ReplaceSjisByte(&out[0], out.size(), '|', ' ');
    return out;
}

int FindKnownKey(const std::string& token) {
    for (int k = 0; k < kKnownKeyCount; ++k)
        if (token == kKnownKeys[k].key) return k;
    return -1;
}

// Edit distance with swapped neighbours counted once; gives up (returns
// limit + 1) when the lengths alone differ by more than limit.
size_t EditDistance(const std::string& a, const std::string& b, size_t limit) {
    size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
    if (gap > limit) return limit + 1;
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The known key a token most likely means: equal without letter case, else
// the nearest within kSuggestDistance edits (the first in table order on a tie).
// Both are folded as names are, so the second byte of a double-byte character
// stays what it is.
int SuggestKnownKey(const std::string& token, bool* caseOnly) {
    std::string folded = FoldedName(token);
    int best = -1;
    size_t bestDistance = kSuggestDistance + 1;
    for (int k = 0; k < kKnownKeyCount; ++k) {
        size_t distance = EditDistance(folded, FoldedName(kKnownKeys[k].key), kSuggestDistance);
        if (distance < bestDistance) {
            best = k;
            bestDistance = distance;
        }
    }
    *caseOnly = best >= 0 && bestDistance == 0;
    return best;
}

// The first token of a line buffer from offset: bytes up to a separator.
std::string TokenAt(const char* line, size_t offset) {
    size_t end = offset;
    while (end < kSettingsLineBuffer && !IsSeparator(line[end])) ++end;
    return std::string(line + offset, end - offset);
}

size_t LeadingSeparators(const char* line) {
    size_t n = 0;
    while (n < kSettingsLineBuffer && line[n] != '\0' && IsSeparator(line[n])) ++n;
    return n;
}

void Add(SettingsCheck* check, int line, CheckSeverity severity, CheckKind kind, const std::string& text) {
    check->findings.push_back(CheckFinding{line, severity, kind, text});
}

void Warn(SettingsCheck* check, int line, CheckKind kind, const std::string& text) {
    Add(check, line, kCheckWarning, kind, text);
}

// What the updater's text-mode stream delivers: CR LF as LF, nothing from
// the first Ctrl-Z on. Reports where the Ctrl-Z was (npos: none).
std::string TextModeBytes(const std::string& bytes, size_t* ctrlZ) {
    std::string out;
    out.reserve(bytes.size());
    *ctrlZ = std::string::npos;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == kCtrlZ) {
            *ctrlZ = i;
            break;
        }
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        out += bytes[i];
    }
    return out;
}

// Cuts the stream as fgets with a 512-byte buffer does.
std::vector<Piece> SplitIntoPieces(const std::string& text) {
    std::vector<Piece> pieces;
    int line = 1;
    bool continuation = false;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = begin;
        while (end < text.size() && end - begin < kPieceBytes) {
            if (text[end++] == '\n') break;
        }
        pieces.push_back(Piece{text.substr(begin, end - begin), line, continuation});
        bool lineEnds = text[end - 1] == '\n';
        if (lineEnds) ++line;
        continuation = !lineEnds;
        begin = end;
    }
    return pieces;
}

// The section pass, piece by piece, as LoadSectionLists runs it.
void RunSectionPass(const std::vector<Piece>& pieces, std::vector<PieceInfo>* info, SettingsCheck* check) {
    int open = -1;
    int openLine = 0;
    int eofLine = 0;
    for (const Piece& piece : pieces) {
        char line[kSettingsLineBuffer] = {};
        memcpy(line, piece.text.data(), piece.text.size());
        PieceInfo here{kRoleOutside, -1};
        size_t length = StripTrailingSeparators(line);
        if (eofLine != 0) {
            here.role = kRoleUnread;
            int header = length > 0 ? MatchSectionHeader(line) : -1;
            if (header >= 0)
                Warn(check, piece.line, kCheckAfterSectionEof,
                     Printf("%s comes after EOF on line %d, where the updater stops reading sections; "
                            "this section is never read",
                            SectionHeader(header), eofLine));
        } else if (length == 0 || strncmp(line, "//", 2) == 0 || line[0] == ';') {
            here.role = kRoleComment;
        } else if (strncmp(line, "EOF", 3) == 0) {
            here.role = kRoleSectionEof;
            eofLine = piece.line;
            check->sectionEofLine = piece.line;
        } else if (line[0] == '-') {
            here.role = kRoleTerminator;
            if (open >= 0) check->sectionEndLine[open] = piece.line;
            open = -1;
        } else if (MatchSectionHeader(line) >= 0) {
            int header = MatchSectionHeader(line);
            here = PieceInfo{kRoleHeader, header};
            std::vector<std::string>& list = check->sections[header];
            if (!list.empty())
                Warn(check, piece.line, kCheckSectionReopened,
                     Printf("%s appears again: the %u entries after line %d are dropped and only what follows "
                            "here is kept",
                            SectionHeader(header), static_cast<unsigned>(list.size()),
                            check->sectionHeaderLine[header]));
            list.clear();
            check->sectionLines[header].clear();
            // A header ends the open section as a "-" line would.
            if (open >= 0) check->sectionEndLine[open] = piece.line;
            check->sectionHeaderLine[header] = piece.line;
            check->sectionEndLine[header] = 0;
            open = header;
            openLine = piece.line;
        } else if (open >= 0) {
            here = PieceInfo{kRoleEntry, open};
            check->sections[open].push_back(line);
            check->sectionLines[open].push_back(piece.line);
        } else if (check->endMarkerLine == 0 && memcmp(line, kEndMarker, kEndMarkerLength) == 0) {
            check->endMarkerLine = piece.line;
        }
        info->push_back(here);
    }
    if (open >= 0) {
        std::string where = eofLine != 0 ? Printf("EOF on line %d", eofLine) : std::string("the end of the file");
        Add(check, openLine, kCheckError, kCheckUnterminated,
            Printf("%s is not closed by a line starting with \"-\" before %s; the updater will refuse to start",
                   SectionHeader(open), where.c_str()));
    }
}

// Markers a maker may have meant but the passes do not see: "[EOF]", a header
// or "-" after a blank, and "[eof]" or "[INI]" in another case. Returns true
// when it reported the line.
bool CheckMarkers(const Piece& piece, const char* line, const PieceInfo& info, bool reading, SettingsCheck* check) {
    size_t lead = LeadingSeparators(line);
    const char* text = line + lead;
    std::string inSection = info.role == kRoleEntry
                                ? Printf("it is kept as an entry of %s", SectionHeader(info.section))
                                : std::string("the line is ignored");
    if (lead > 0 && text[0] != '\0') {
        if (reading && strncmp(text, kEndMarker, kEndMarkerLength) == 0) {
            Warn(check, piece.line, kCheckNotFirstColumn,
                 "[EOF] after a blank ends nothing: the updater reads the lines after it");
            return true;
        }
        char stripped[kSettingsLineBuffer] = {};
        memcpy(stripped, text, strnlen(text, kSettingsLineBuffer - 1));
        StripTrailingSeparators(stripped);
        int header = MatchSectionHeader(stripped);
        if (header >= 0 && info.role != kRoleUnread) {
            Warn(check, piece.line, kCheckNotFirstColumn,
                 Printf("%s after a blank is not a section header; %s", SectionHeader(header), inSection.c_str()));
            return true;
        }
        if (text[0] == '-' && info.role == kRoleEntry) {
            Warn(check, piece.line, kCheckNotFirstColumn,
                 Printf("\"-\" after a blank does not close %s; %s", SectionHeader(info.section), inSection.c_str()));
            return true;
        }
        return false;
    }
    if (line[0] != '[' || info.role == kRoleHeader || info.role == kRoleUnread) return false;
    std::string folded = FoldedName(TokenAt(line, 0));
    if (reading && folded.compare(0, kEndMarkerLength, "[eof]") == 0) {
        Warn(check, piece.line, kCheckMarkerCase,
             Printf("\"%s\" is not the end marker, which is \"[EOF]\" in capitals; the updater reads on",
                    Quoted(TokenAt(line, 0)).c_str()));
        return true;
    }
    int header = MatchSectionHeader(folded.c_str());
    if (header >= 0) {
        Warn(check, piece.line, kCheckMarkerCase,
             Printf("\"%s\" is not a section header, which is \"%s\" in lower case; %s",
                    Quoted(TokenAt(line, 0)).c_str(), SectionHeader(header), inSection.c_str()));
        return true;
    }
    return false;
}

// A key the updater never asks for. A lone word that resembles no key makes
// no entry and is passed over, as the updater passes over it.
void WarnUnknownKey(const Piece& piece, const std::string& token, bool hasValue, SettingsCheck* check) {
    std::string shown = Quoted(token);
    size_t equals = token.find('=');
    if (equals != std::string::npos) {
        bool caseOnly = false;
        int meant = FindKnownKey(token.substr(0, equals));
        if (meant < 0) meant = SuggestKnownKey(token.substr(0, equals), &caseOnly);
        if (meant >= 0)
            Warn(check, piece.line, kCheckUnknownKey,
                 Printf("\"%s\" is not a key: '=' does not separate, so %s is not set; write %s, blanks, then the "
                        "value",
                        shown.c_str(), kKnownKeys[meant].key, kKnownKeys[meant].key));
        else
            Warn(check, piece.line, kCheckUnknownKey,
                 Printf("\"%s\" is not a key the updater reads, and '=' does not separate a key from its value",
                        shown.c_str()));
        return;
    }
    bool caseOnly = false;
    int meant = SuggestKnownKey(token, &caseOnly);
    if (meant < 0 && !hasValue) return;
    if (meant < 0)
        Warn(check, piece.line, kCheckUnknownKey, Printf("unknown key \"%s\" is ignored", shown.c_str()));
    else if (caseOnly)
        Warn(check, piece.line, kCheckUnknownKey,
             Printf("unknown key \"%s\" is ignored: keys are case-sensitive; did you mean %s?", shown.c_str(),
                    kKnownKeys[meant].key));
    else
        Warn(check, piece.line, kCheckUnknownKey,
             Printf("unknown key \"%s\" is ignored; did you mean %s?", shown.c_str(), kKnownKeys[meant].key));
}

// What follows the value on the line, from the unsplit line buffer, or "".
std::string WordsAfterValue(const char* line, const char* split, const char* value) {
    size_t from = static_cast<size_t>(value - split) + strlen(value);
    for (size_t i = from; i < kSettingsLineBuffer; ++i) {
        if (split[i] != '\0') {
            char rest[kSettingsLineBuffer] = {};
            memcpy(rest, line + i, strnlen(line + i, kSettingsLineBuffer - i));
            StripTrailingSeparators(rest);
            return rest;
        }
    }
    return "";
}

// What a line that is not meant as a key line is, for messages.
std::string DescribeRole(const Piece& piece, const PieceInfo& info) {
    if (piece.continuation) return "the rest of a long line";
    switch (info.role) {
        case kRoleHeader: return Printf("the header of %s", SectionHeader(info.section));
        case kRoleTerminator: return "a line closing a section";
        case kRoleEntry: return Printf("an entry of %s", SectionHeader(info.section));
        case kRoleSectionEof: return "the EOF line of the section pass";
        default: return "a comment of the section pass";
    }
}

// The key/value pass, as LoadSettingsTable runs it, collecting every
// definition of a known key and reporting lines it reads differently than
// they look.
void RunKeyPass(const std::vector<Piece>& pieces, const std::vector<PieceInfo>& info, SettingsCheck* check,
                std::vector<Definition>* definitions) {
    int eofLine = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        const PieceInfo& role = info[i];
        bool reading = i < static_cast<size_t>(kMaxSettingsLines) && eofLine == 0;
        if (reading) check->linesRead = piece.line;
        // One byte more than a piece can fill, as the updater's buffer.
        char line[kSettingsLineBuffer + 1] = {};
        memcpy(line, piece.text.data(), piece.text.size());
        if (reading && memcmp(line, kEndMarker, kEndMarkerLength) == 0) {
            eofLine = piece.line;
            check->keyEofLine = piece.line;
            continue;
        }
        bool reported = CheckMarkers(piece, line, role, reading, check);
        bool keyLine = (role.role == kRoleOutside || role.role == kRoleUnread) && !piece.continuation;
        if (IsSeparator(line[0]) || line[0] == '/') {
            if (line[0] == '/' || reported || !reading || !keyLine) continue;
            int known = FindKnownKey(TokenAt(line, LeadingSeparators(line)));
            if (known >= 0)
                Warn(check, piece.line, kCheckIndentedKey,
                     Printf("the line starts with a blank, so the updater skips it and %s is not set here",
                            kKnownKeys[known].key));
            continue;
        }
        std::string token = TokenAt(line, 0);
        int known = FindKnownKey(token);
        char split[kSettingsLineBuffer + 1];
        memcpy(split, line, sizeof(split));
        const char* key = nullptr;
        const char* value = nullptr;
        bool hasValue = SplitSettingsLine(split, &key, &value);
        if (!reading) {
            if (keyLine && !reported && (hasValue || known >= 0)) {
                std::string why = eofLine != 0
                                      ? Printf("it comes after [EOF] on line %d", eofLine)
                                      : Printf("the updater reads only the first %d lines, which end at line %d",
                                               kMaxSettingsLines, check->linesRead);
                Warn(check, piece.line, eofLine != 0 ? kCheckAfterEof : kCheckPastLineLimit,
                     Printf("%s \"%s\" is ignored: %s", known >= 0 ? "key" : "unknown key", Quoted(token).c_str(),
                            why.c_str()));
            }
            continue;
        }
        if (!keyLine || line[0] == ';') {
            if (hasValue && known >= 0)
                definitions[known].push_back(Definition{piece.line, BarsToBlanks(value), DescribeRole(piece, role)});
            continue;
        }
        if (reported) continue;
        if (known < 0) {
            WarnUnknownKey(piece, token, hasValue, check);
            continue;
        }
        if (!hasValue) {
            bool far = false;
            for (size_t j = token.size(); j < kSettingsLineBuffer && !far; ++j) far = !IsSeparator(line[j]);
            if (far)
                Warn(check, piece.line, kCheckValueTooFar,
                     Printf("the value of %s starts more than %u blanks after the key, so the updater finds no "
                            "value and %s keeps its default",
                            token.c_str(), static_cast<unsigned>(kValueSearchSpan - 1), token.c_str()));
            else
                Warn(check, piece.line, kCheckNoValue,
                     Printf("%s has no value, so it keeps its default", token.c_str()));
            continue;
        }
        definitions[known].push_back(Definition{piece.line, BarsToBlanks(value), ""});
        std::string rest = WordsAfterValue(line, split, value);
        if (!rest.empty() && rest[0] != '/' && rest[0] != ';')
            Warn(check, piece.line, kCheckExtraWords,
                 Printf("only \"%s\" is read as %s; \"%s\" after it is ignored (write '|' for a blank)",
                        Quoted(value).c_str(), token.c_str(), Quoted(rest).c_str()));
    }
}

// strtoll's reading of a value, clamped to int as SettingInt does; false
// when the text is not wholly an optionally signed decimal number in range.
bool ReadInteger(const std::string& text, int* number) {
    long long v = strtoll(text.c_str(), nullptr, 10);
    *number = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
    size_t digits = text[0] == '+' || text[0] == '-' ? 1 : 0;
    if (digits == text.size()) return false;
    for (size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return v >= INT_MIN && v <= INT_MAX;
}

void ResolveDefinitions(const std::vector<Definition>* definitions, SettingsCheck* check) {
    for (int k = 0; k < kKnownKeyCount; ++k) {
        const KnownKey& known = kKnownKeys[k];
        const std::vector<Definition>& defs = definitions[k];
        EffectiveSetting setting{known.key, known.type == kIntegerKey, defs.empty(), known.type == kNullableKey, 0,
                                 "", "", 0};
        if (defs.empty()) {
            setting.value = setting.fullValue = known.defaultText;
            check->settings.push_back(setting);
            continue;
        }
        const Definition& winner = defs[0];
        setting.line = winner.line;
        setting.fullValue = winner.value;
        setting.value = winner.value.substr(0, kSettingBuffer - 1);
        for (size_t d = 1; d < defs.size(); ++d) {
            if (!defs[d].origin.empty()) continue;
            if (!winner.origin.empty())
                Warn(check, defs[d].line, kCheckSectionLineKey,
                     Printf("%s here is ignored: line %d, %s, already set it to \"%s\" in the key/value pass",
                            known.key, winner.line, winner.origin.c_str(), Quoted(winner.value).c_str()));
            else
                Warn(check, defs[d].line, kCheckDuplicateKey,
                     Printf("%s is set again and ignored here; line %d wins with \"%s\"", known.key, winner.line,
                            Quoted(winner.value).c_str()));
        }
        bool laterKeyLine = false;
        for (const Definition& d : defs) laterKeyLine = laterKeyLine || d.origin.empty();
        if (!winner.origin.empty() && !laterKeyLine)
            Warn(check, winner.line, kCheckSectionLineKey,
                 Printf("this line is %s, but the key/value pass reads it too and sets %s to \"%s\"",
                        winner.origin.c_str(), known.key, Quoted(winner.value).c_str()));
        if (setting.isInteger) {
            if (!ReadInteger(winner.value, &setting.number))
                Warn(check, winner.line, kCheckNotDecimal,
                     Printf("%s \"%s\" is not a whole decimal number; the updater reads it as %d", known.key,
                            Quoted(winner.value).c_str(), setting.number));
            setting.value = Printf("%d", setting.number);
        } else if (winner.value.size() > kSettingBuffer - 1) {
            size_t keep = kSettingBuffer - 1;
            bool splitsCharacter = CharBoundaryLength(winner.value.c_str(), keep) < keep;
            std::string dropped = winner.value.substr(splitsCharacter ? keep + 1 : keep);
            std::string drops = dropped.empty() ? "" : " and drops \"" + Quoted(dropped) + "\"";
            Warn(check, winner.line, kCheckValueCut,
                 Printf("the value of %s is %u bytes; the updater keeps the first %u%s%s%s", known.key,
                        static_cast<unsigned>(winner.value.size()), static_cast<unsigned>(keep),
                        splitsCharacter ? ", cutting a double-byte character in two" : "", drops.c_str(),
                        known.alsoReadWhole ? " (where it is read whole it stays whole, so the two differ)" : ""));
        }
        check->settings.push_back(setting);
    }
}

// True when text holds a multi-byte UTF-8 character and nothing that is not UTF-8.
bool IsMultiByteUtf8(const std::string& text) {
    bool multiByte = false;
    for (size_t i = 0; i < text.size();) {
        uint8_t c = static_cast<uint8_t>(text[i]);
        size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || (length == 2 && c < 0xC2) || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
        multiByte = multiByte || length > 1;
        i += length;
    }
    return multiByte;
}

// Shift-JIS a maker would write: every character converts, and none is a
// half-width katakana, which install.env texts never need.
bool IsSensibleSjis(const std::string& text) {
    std::string utf8;
    if (text.find('\0') != std::string::npos || !SjisToUtf8(text.c_str(), &utf8)) return false;
    for (size_t i = 0, next = 0; i < text.size(); i = next) {
        next = NextCharIndex(text.data(), text.size(), i);
        uint8_t c = static_cast<uint8_t>(text[i]);
        if (next == i + 1 && c >= kHalfWidthKanaFirst && c <= kHalfWidthKanaLast) return false;
    }
    return true;
}

// The updater reads Shift-JIS and nothing else: a byte-order mark becomes part
// of the first key, and UTF-8 text a garbled title and garbled paths.
void CheckEncoding(const std::string& text, SettingsCheck* check) {
    if (text.compare(0, kUtf8ByteOrderMarkLength, kUtf8ByteOrderMark) == 0) {
        Add(check, 1, kCheckError, kCheckWrongEncoding,
            "the file begins with a UTF-8 byte-order mark, which the updater reads as part of the first line; "
            "save it as Shift-JIS without one");
        return;
    }
    if (!IsMultiByteUtf8(text) || IsSensibleSjis(text)) return;
    int line = 1;
    for (size_t i = 0; i < text.size() && static_cast<uint8_t>(text[i]) < 0x80; ++i) line += text[i] == '\n';
    Add(check, line, kCheckError, kCheckWrongEncoding,
        "the file is UTF-8 (from this line on), but the updater reads Shift-JIS: its texts would come out "
        "garbled; save it as Shift-JIS");
}

const EffectiveSetting& SettingOf(const SettingsCheck& check, const char* key) {
    return check.settings[static_cast<size_t>(FindKnownKey(key))];
}

// Works out, by the updater's own gate, which installed versions a patch
// with a version check lets through.
void CheckVersionRange(SettingsCheck* check) {
    const EffectiveSetting& name = SettingOf(*check, "CHKREG");
    const EffectiveSetting& low = SettingOf(*check, "CHKREGVER");
    const EffectiveSetting& high = SettingOf(*check, "CHKREGVERHIGH");
    if (name.isDefault) {
        if (!low.isDefault || !high.isDefault)
            Warn(check, !low.isDefault ? low.line : high.line, kCheckVersionCheckOff,
                 Printf("%s is set but CHKREG is not, so the updater checks no installed version at all",
                        !low.isDefault ? "CHKREGVER" : "CHKREGVERHIGH"));
        return;
    }
    // The lowest version the gate could pass is CHKREGVER itself; the rule
    // rises no further, so none passes when that one does not.
    if (JudgeInstalledVersion(low.number, low.number, high.number) == kVersionAccepted) return;
    std::string highText = high.isDefault ? std::string("CHKREGVERHIGH, not set, counts as 0")
                                          : Printf("CHKREGVERHIGH is %d", high.number);
    Add(check, !high.isDefault ? high.line : !low.isDefault ? low.line : name.line, kCheckError,
        kCheckNoVersionPasses,
        Printf("no installed version passes the version check: the updater refuses every version below "
               "CHKREGVER (%d) and every one above CHKREGVERHIGH, and %s; every player would be refused",
               low.number, highText.c_str()));
}

// The [ini] and [reg] lines go through the updater's own split, which skips
// what it cannot read without a word; and a section whose target is not set
// goes nowhere the maker meant.
void CheckIniAndRegLines(SettingsCheck* check) {
    char first[kExpandBuffer], second[kExpandBuffer];
    const std::vector<std::string>& ini = check->sections[kSectionIni];
    for (size_t i = 0; i < ini.size(); ++i) {
        if (SplitIniLine(ini[i].c_str(), first, sizeof(first), second, sizeof(second)) == kSplitOk) continue;
        bool noEquals = FindSjis(ini[i].c_str(), 0, "=") == nullptr;
        Warn(check, check->sectionLines[kSectionIni][i], kCheckSkippedLine,
             Printf("[ini] \"%s\" %s: the updater skips it", Quoted(ini[i]).c_str(),
                    noEquals ? "has no \"=\" between key and value" : "is too long once its tokens are expanded"));
    }
    if (!ini.empty() && SettingOf(*check, "INI_FILE").isDefault)
        Warn(check, check->sectionHeaderLine[kSectionIni], kCheckSectionUnused,
             "[ini] has lines but INI_FILE is not set: the updater writes them to a file named \"-\", not the "
             "game's INI file");
    const std::vector<std::string>& reg = check->sections[kSectionReg];
    for (size_t i = 0; i < reg.size(); ++i) {
        if (SplitRegLine(reg[i].c_str(), first, sizeof(first), second, sizeof(second)) == kSplitOk) continue;
        Warn(check, check->sectionLines[kSectionReg][i], kCheckSkippedLine,
             Printf("[reg] \"%s\" is not \"name\"=\"data\" as the registry editor writes it: the updater skips it",
                    Quoted(reg[i]).c_str()));
    }
    const EffectiveSetting& regGlobal = SettingOf(*check, "REG_GLOBAL");
    if (!reg.empty() && (regGlobal.fullValue.empty() || regGlobal.fullValue[0] == '-'))
        Warn(check, check->sectionHeaderLine[kSectionReg], kCheckSectionUnused,
             "[reg] has lines but REG_GLOBAL is not set: the updater writes none of them");
}

// INSTREADME shows a readme after the update: the file INSTREADMEFL names
// must be at the top of the package.
void CheckReadme(const std::vector<std::string>& packageFiles, SettingsCheck* check) {
    const EffectiveSetting& label = check->settings[FindKnownKey("INSTREADME")];
    const EffectiveSetting& file = check->settings[FindKnownKey("INSTREADMEFL")];
    if (label.isDefault || label.fullValue.empty() || label.fullValue[0] == '-') return;
    for (const std::string& name : packageFiles)
        if (ParentOf(name).empty() && EqualsFoldedSjis(name.c_str(), file.fullValue.c_str())) return;
    Warn(check, file.isDefault ? label.line : file.line, kCheckReadmeMissing,
         Printf("INSTREADME is set, but the package carries no \"%s\"%s at its top for the updater to show",
                Quoted(file.fullValue).c_str(), file.isDefault ? " (the default of INSTREADMEFL)" : ""));
}

// The updater deletes the [delfiles_afterinst] entries after it has written
// the package: an entry must stay inside the install folder and must not
// find a file the patch has just brought.
void CheckDeleteEntries(const std::vector<std::string>* packageFiles, SettingsCheck* check) {
    const std::vector<std::string>& entries = check->sections[kSectionDelfilesAfterinst];
    const std::vector<int>& lines = check->sectionLines[kSectionDelfilesAfterinst];
    for (size_t i = 0; i < entries.size(); ++i) {
        const char* entry = entries[i].c_str();
        const char* outside = ReachesOutside(entry);
        if (outside != nullptr)
            Add(check, lines[i], kCheckError, kCheckDeleteOutside,
                Printf("[delfiles_afterinst] \"%s\" leaves the install folder (%s): the section lists files in "
                       "the install folder, and the updater skips this line",
                       Quoted(entries[i]).c_str(), outside));
        if (packageFiles == nullptr) continue;
        std::vector<const std::string*> found;
        for (const std::string& name : *packageFiles)
            if (EntryMatchesFile(entry, name.c_str())) found.push_back(&name);
        if (found.empty()) continue;
        std::string more = found.size() > 1 ? Printf(" and %u more", static_cast<unsigned>(found.size() - 1)) : "";
        Warn(check, lines[i], kCheckDeletesPatchFile,
             Printf("[delfiles_afterinst] \"%s\" finds \"%s\"%s, which this patch brings: the updater deletes after "
                    "it has written the package, so the new file is deleted",
                    Quoted(entries[i]).c_str(), ShownSjis(*found[0]).c_str(), more.c_str()));
    }
}

}  // namespace

std::string ShownSjis(const std::string& sjis) {
    std::string utf8;
    if (sjis.find('\0') == std::string::npos && SjisToUtf8(sjis.c_str(), &utf8)) return utf8;
    std::string shown;
    for (size_t i = 0, next = 0; i < sjis.size(); i = next) {
        next = NextCharIndex(sjis.data(), sjis.size(), i);
        std::string unit = sjis.substr(i, next - i);
        std::string converted;
        if (unit[0] != '\0' && SjisToUtf8(unit.c_str(), &converted)) {
            shown += converted;
        } else {
            for (char c : unit) shown += Printf("\\x%02X", static_cast<uint8_t>(c));
        }
    }
    return shown;
}

int KnownSettingCount() { return kKnownKeyCount; }

const char* KnownSettingKey(int index) { return kKnownKeys[index].key; }

const char* KnownSettingDefault(int index) { return kKnownKeys[index].defaultText; }

const char* KnownSettingMeaning(int index) { return kKnownKeys[index].meaning; }

void CheckSettingsText(const std::string& bytes, const std::vector<std::string>* packageFiles, SettingsCheck* check) {
    *check = SettingsCheck{};
    size_t ctrlZ = std::string::npos;
    std::string text = TextModeBytes(bytes, &ctrlZ);
    CheckEncoding(text, check);
    std::vector<Piece> pieces = SplitIntoPieces(text);
    check->physicalLines = pieces.empty() ? 0 : pieces.back().line;
    if (ctrlZ != std::string::npos) {
        bool more = false;
        for (size_t i = ctrlZ + 1; i < bytes.size() && !more; ++i) more = !IsSeparator(bytes[i]) && bytes[i] != kCtrlZ;
        if (more)
            Warn(check, static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1, kCheckCtrlZ,
                 "a Ctrl-Z byte (0x1A) ends the file for the updater; nothing after it is read");
    }
    for (size_t i = 0; i < pieces.size();) {
        size_t end = i, length = 0;
        while (end < pieces.size() && pieces[end].line == pieces[i].line) length += pieces[end++].text.size();
        if (pieces[end - 1].text.back() == '\n') --length;
        if (end - i > 1)
            Warn(check, pieces[i].line, kCheckLongLine,
                 Printf("the line is %u bytes; the updater reads it as %u lines of at most %u bytes with the line "
                        "end, and every line after the first stands on its own",
                        static_cast<unsigned>(length), static_cast<unsigned>(end - i),
                        static_cast<unsigned>(kPieceBytes)));
        i = end;
    }
    std::vector<PieceInfo> info;
    RunSectionPass(pieces, &info, check);
    std::vector<Definition> definitions[kKnownKeyCount];
    RunKeyPass(pieces, info, check, definitions);
    ResolveDefinitions(definitions, check);
    CheckVersionRange(check);
    CheckIniAndRegLines(check);
    if (packageFiles != nullptr) CheckReadme(*packageFiles, check);
    CheckDeleteEntries(packageFiles, check);
    std::stable_sort(check->findings.begin(), check->findings.end(),
                     [](const CheckFinding& a, const CheckFinding& b) { return a.line < b.line; });
    for (const CheckFinding& f : check->findings) (f.severity == kCheckError ? check->errors : check->warnings)++;
}

size_t SettingsReadEnd(const std::string& bytes) {
    size_t end = bytes.find(kCtrlZ);
    return end == std::string::npos ? bytes.size() : end;
}

bool ReadSettingsBytes(const char* path, std::string* bytes) {
    bytes->clear();
    FileHolder file(PlatformOpenFile(path, "rb"));
    if (!file) return false;
    if (PlatformSeek(file.get(), 0, SEEK_END) != 0) return false;
    int64_t size = PlatformTell(file.get());
    if (size < 0 || size > kMaxCheckedBytes || PlatformSeek(file.get(), 0, SEEK_SET) != 0) return false;
    bytes->assign(static_cast<size_t>(size), '\0');
    return size == 0 || fread(&(*bytes)[0], 1, bytes->size(), file.get()) == bytes->size();
}

bool CheckSettingsFile(const char* path, const std::vector<std::string>* packageFiles, SettingsCheck* check) {
    *check = SettingsCheck{};
    std::string bytes;
    if (!ReadSettingsBytes(path, &bytes)) return false;
    CheckSettingsText(bytes, packageFiles, check);
    return true;
}

bool ListPackageFiles(const char* folder, std::vector<std::string>* names) {
    names->clear();
    std::vector<ScannedEntry> entries;
    std::string where;
    if (ScanTree(folder, &entries, &where) == kScanCannotRead) return false;
    for (const ScannedEntry& e : entries)
        if (!e.isFolder) names->push_back(e.name);
    return true;
}
