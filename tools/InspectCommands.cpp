#include "tools/InspectCommands.h"

#include <zlib.h>

#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "package/VcdiffDecoder.h"
#include "services/Platform.h"
#include "settings/SettingsFile.h"
#include "tools/DeltaFiles.h"
#include "tools/FolderScan.h"
#include "tools/PackageCursor.h"
#include "tools/ProgressLine.h"
#include "tools/RctCommand.h"
#include "tools/ToolText.h"
#include "tools/WriteFailureText.h"

namespace {

// A Windows file time counts 100 ns ticks.
constexpr int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01, where file times start, to 1970-01-01, where days are counted from.
constexpr int64_t kEpochDifference = 11644473600LL;
// UTC has no leap seconds in file times.
constexpr int64_t kSecondsPerDay = 86400;
// One message line: a name of 259 Shift-JIS bytes is at most 390 bytes of UTF-8.
constexpr size_t kLineBuffer = 1024;

// What list, verify and extract say about a file the updater would not open.
constexpr const char* kNoPackage = "no package: the file cannot be read or its trailer points outside it";

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Printf(const char* format, ...) {
    char buffer[kLineBuffer];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

// Gregorian date of a day count from 1970-01-01 (valid far beyond any file time).
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// Explains a header the updater would refuse.
std::string DescribeHeaderProblem(int result, const CursorEntry& entry) {
    if (result == kPackageBadName) {
        const char* why = entry.name.empty() ? nullptr : ExplainBadName(entry.name.c_str(), entry.header.isFolder);
        return why != nullptr ? Printf("bad name: %s", why) : std::string("bad name: unterminated or too long");
    }
    if (result == kPackageBadSize)
        return Printf("bad size: unpacked %" PRId32 ", packed %" PRIu32, entry.header.unpackedSize,
                      entry.header.packedSize);
    if (result == kPackageTruncated) return "the entry runs past the end of the package";
    return DescribePackageResult(result);
}

// A delta entry's inflated delta must be sound and make its target's size.
std::string CheckDeltaEntryShape(const CursorEntry& entry, const std::vector<uint8_t>* delta) {
    int result = CheckDeltaShape(delta->data(), delta->size(), entry.delta);
    return result == kVcdiffOk ? "" : Printf("the delta: %s", DescribeVcdiffResult(result));
}

// Inflates the stream that follows the file entry just read, counting its
// output and keeping it in keep when keep is not null. Returns "" when it ends
// exactly at its packed size with exactly the unpacked size; otherwise the
// reason.
std::string CheckStream(PackageCursor* cursor, const CursorEntry& entry, int64_t* produced,
                        std::vector<uint8_t>* keep, PlatformSha256Hash* hash = nullptr) {
    std::vector<uint8_t> input(kTransferBlock), output(kTransferBlock);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return "out of memory";
    uint32_t remaining = entry.header.packedSize;
    *produced = 0;
    std::string problem;
    for (;;) {
        if (z.avail_in == 0 && remaining > 0) {
            uint32_t chunk = remaining < kTransferBlock ? remaining : kTransferBlock;
            size_t got = ReadPackageBytes(&cursor->stream, input.data(), chunk);
            remaining -= static_cast<uint32_t>(got);
            if (got != chunk) {
                problem = "the package ends inside the stream";
                break;
            }
            z.next_in = input.data();
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        int code = inflate(&z, Z_NO_FLUSH);
        size_t made = output.size() - z.avail_out;
        *produced += static_cast<int64_t>(made);
        if (keep != nullptr) keep->insert(keep->end(), output.data(), output.data() + made);
        if (hash != nullptr && made > 0 && PlatformSha256Add(hash, output.data(), made) != 0) {
            problem = "the hash cannot be computed";
            break;
        }
        if (code == Z_STREAM_END) {
            if (z.avail_in != 0 || remaining != 0)
                problem = Printf("the stream ends %" PRIu32 " bytes before its packed size of %" PRIu32,
                                 z.avail_in + remaining, entry.header.packedSize);
            break;
        }
        if (code == Z_BUF_ERROR && z.avail_in == 0 && remaining == 0) {
            problem = Printf("the stream does not end within its packed size of %" PRIu32, entry.header.packedSize);
            break;
        }
        if (code != Z_OK && code != Z_BUF_ERROR) {
            problem = Printf("the stream is corrupt (zlib: %s)", z.msg != nullptr ? z.msg : "error");
            break;
        }
    }
    inflateEnd(&z);
    if (problem.empty() && entry.header.isDelta) problem = CheckDeltaEntryShape(entry, keep);
    else if (problem.empty() && *produced != entry.header.unpackedSize)
        problem = Printf("the stream inflates to %" PRId64 " bytes, the entry says %" PRId32, *produced,
                         entry.header.unpackedSize);
    return problem;
}

// The updater's start as it walks the package in Boot mode: start-up files
// at the top are written into the working folder, a top-level folder is
// passed over, and the first nested folder ends the walk.
struct BootWalk {
    std::string endedAt;  // the nested folder where the walk ends, or ""
    bool installEnv;      // install.env was reached
    std::string picture;  // the last insttscr.rct reached, or ""
};

// Follows the Boot walk over one entry. Returns "" or why the updater's
// start goes wrong at it.
std::string FollowBootWalk(BootWalk* boot, const CursorEntry& entry) {
    const char* name = entry.name.c_str();
    if (entry.header.isFolder) {
        if (boot->endedAt.empty() && IsNestedFolderName(name)) boot->endedAt = entry.name;
        return "";
    }
    if (!IsStartupFile(name)) return "";
    bool top = ParentOf(entry.name).empty();
    if (!boot->endedAt.empty()) {
        if (!top) return "";
        return Printf("a start-up file after the nested folder \"%s\", where the updater's start stops reading: "
                      "the updater never reaches it",
                      PrintableName(boot->endedAt.c_str()).c_str());
    }
    if (!top)
        return "a start-up file inside a folder: the updater's start creates no folders, cannot write it and "
               "stops with the damaged-package message";
    std::string folded = FoldedName(entry.name);
    if (folded == kSettingsFileName) boot->installEnv = true;
    if (folded == kStartupPictureName) boot->picture = entry.name;
    return "";
}

// The walk's progress as the progress line counts it.
struct ExtractProgress {
    ProgressLine line;
    int64_t files;        // files begun
    int64_t bytesBefore;  // unpacked bytes of the files before the current one
    int64_t current;      // unpacked size of the current file
};

void BeginExtractedFile(void* context, const char*, int32_t unpackedSize) {
    ExtractProgress* p = static_cast<ExtractProgress*>(context);
    p->bytesBefore += p->current;
    p->current = unpackedSize;
    ++p->files;
    SetProgress(&p->line, p->files, p->bytesBefore);
}

void ShowExtractedBytes(void* context, int64_t fileBytes, int64_t) {
    ExtractProgress* p = static_cast<ExtractProgress*>(context);
    SetProgress(&p->line, p->files, p->bytesBefore + fileBytes);
}

}  // namespace

bool ReadListing(const char* path, std::vector<ListedEntry>* entries, std::string* problem) {
    entries->clear();
    PackageCursor cursor;
    if (!OpenCursor(&cursor, path)) {
        *problem = kNoPackage;
        return false;
    }
    bool sound = true;
    for (;;) {
        CursorEntry entry;
        bool end = false;
        int result = NextEntry(&cursor, &entry, &end);
        if (result == kPackageOk && end) break;
        if (result == kPackageOk) result = SkipStream(&cursor, &entry);
        if (result != kPackageOk) {
            *problem = Printf("entry %d \"%s\": %s", cursor.entries + 1, PrintableName(entry.name.c_str()).c_str(),
                              DescribeHeaderProblem(result, entry).c_str());
            sound = false;
            break;
        }
        entries->push_back(ListedEntry{entry.name, entry.header.isFolder, entry.header.unpackedSize,
                                       entry.header.packedSize, entry.fileTime, entry.header.isDelta, entry.delta});
    }
    CloseCursor(&cursor);
    return sound;
}

std::string FormatFileTime(uint64_t fileTime) {
    int64_t seconds = static_cast<int64_t>(fileTime / kTicksPerSecond) - kEpochDifference;
    int64_t days = seconds >= 0 ? seconds / kSecondsPerDay : -((-seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    int64_t secondOfDay = seconds - days * kSecondsPerDay;
    int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    return Printf("%04" PRId64 "-%02d-%02d %02d:%02d:%02d", year, month, day, static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
}

static std::string HexHash(const uint8_t* hash) {
    std::string text;
    for (size_t i = 0; i < kSha256Bytes; ++i) text += Printf("%02x", hash[i]);
    return text;
}

std::string FormatListLine(const ListedEntry& entry) {
    std::string name = PrintableName(entry.name.c_str());
    if (entry.isFolder) return Printf("dir  %12s %12s  %-19s  ", "-", "-", "-") + name;
    if (entry.isDelta)
        return Printf("delta %11" PRIu32 " %12" PRIu32 "  %s  ", entry.delta.targetSize, entry.packedSize,
                      FormatFileTime(entry.fileTime).c_str()) +
               name + Printf("  (from %" PRIu32 " bytes sha256 ", entry.delta.sourceSize) +
               HexHash(entry.delta.sourceHash) + ", to sha256 " + HexHash(entry.delta.targetHash) + ")";
    return Printf("file %12" PRId32 " %12" PRIu32 "  %s  ", entry.unpackedSize, entry.packedSize,
                  FormatFileTime(entry.fileTime).c_str()) +
           name;
}

bool VerifyPackage(const char* path, VerifyReport* report) {
    report->entries = 0;
    report->bytes = 0;
    report->entry.clear();
    report->reason.clear();
    PackageCursor cursor;
    if (!OpenCursor(&cursor, path)) {
        report->reason = kNoPackage;
        return false;
    }
    BootWalk boot{"", false, ""};
    std::vector<uint8_t> picture;
    for (;;) {
        CursorEntry entry;
        bool end = false;
        int result = NextEntry(&cursor, &entry, &end);
        if (result == kPackageOk && end) break;
        ++report->entries;
        report->entry = entry.name;
        if (result != kPackageOk) {
            report->reason = DescribeHeaderProblem(result, entry);
            break;
        }
        std::string bootProblem = FollowBootWalk(&boot, entry);
        if (entry.header.isFolder) continue;
        bool isPicture = !boot.picture.empty() && boot.picture == entry.name && bootProblem.empty();
        if (isPicture) picture.clear();
        int64_t produced = 0;
        std::vector<uint8_t> delta;
        report->reason = CheckStream(&cursor, entry, &produced,
                                     entry.header.isDelta ? &delta : isPicture ? &picture : nullptr);
        if (entry.header.isDelta) produced = entry.delta.targetSize;
        if (report->reason.empty()) report->reason = bootProblem;
        if (!report->reason.empty()) break;
        report->bytes += produced;
    }
    CloseCursor(&cursor);
    std::string problem;
    if (report->reason.empty() && !boot.installEnv) {
        report->entry.clear();
        report->reason = "no install.env at the top of the package, before any nested folder: the updater cannot start";
    } else if (report->reason.empty() && boot.picture.empty()) {
        report->entry.clear();
        report->reason = Printf("no %s at the top of the package, before any nested folder: the updater stops at "
                                "every start when it cannot read its background picture",
                                kStartupPictureName);
    } else if (report->reason.empty() && !boot.picture.empty() && !CheckRctPicture(picture, &problem)) {
        report->entry = boot.picture;
        report->reason = "the background picture: " + problem;
    }
    if (!report->reason.empty()) return false;
    report->entry.clear();
    return true;
}

int ListCommand(const char* path, FILE* out, FILE* err) {
    std::vector<ListedEntry> entries;
    std::string problem;
    bool sound = ReadListing(path, &entries, &problem);
    for (const ListedEntry& entry : entries) fprintf(out, "%s\n", FormatListLine(entry).c_str());
    if (sound) return 0;
    fprintf(err, "patchtool: %s: %s\n", PrintableName(path).c_str(), problem.c_str());
    return 1;
}

int VerifyCommand(const char* path, FILE* out, FILE* err) {
    VerifyReport report;
    if (VerifyPackage(path, &report)) {
        fprintf(out, "ok: %d entries, %" PRId64 " bytes\n", report.entries, report.bytes);
        return 0;
    }
    if (report.entries == 0 || report.entry.empty())
        fprintf(err, "patchtool: %s: %s\n", PrintableName(path).c_str(), report.reason.c_str());
    else
        fprintf(err, "patchtool: %s: entry %d \"%s\": %s\n", PrintableName(path).c_str(), report.entries,
                PrintableName(report.entry.c_str()).c_str(), report.reason.c_str());
    return 1;
}

int ExtractCommand(const char* path, const char* destination, FILE* out, FILE* err, FILE* progress) {
    uint32_t attributes = 0;
    if (PlatformGetAttributes(destination, &attributes) != 0 && PlatformCreateFolder(destination) != 0) {
        fprintf(err, "patchtool: cannot create the folder %s\n", PrintableName(destination).c_str());
        return 1;
    }
    PackageStream package;
    if (OpenPackageStream(path, &package) != kPackageOk) {
        fprintf(err, "patchtool: %s: %s\n", PrintableName(path).c_str(), kNoPackage);
        return 1;
    }
    // The totals come from the headers; a package they cannot be read from
    // fails in the walk, which names the entry.
    std::vector<ListedEntry> listing;
    std::string problem;
    ReadListing(path, &listing, &problem);
    ExtractProgress shown{{}, 0, 0, 0};
    int64_t files = 0, bytes = 0;
    for (const ListedEntry& e : listing) {
        files += e.isFolder ? 0 : 1;
        bytes += e.isFolder ? 0 : e.isDelta ? e.delta.targetSize : e.unpackedSize;
    }
    BeginProgress(&shown.line, progress, "extracting", files, bytes);
    const ProgressSink sink{BeginExtractedFile, ShowExtractedBytes, &shown};
    int result = WalkPackage(&package, destination, kFullMode, &sink);
    EndProgress(&shown.line);
    ClosePackageStream(&package);
    const WriteFailure* failure = LastWriteFailure();
    bool writeFailed = result == kPackageCannotWrite || result == kPackageCannotReplace;
    if (writeFailed && failure->path[0] != '\0') {
        fprintf(err, "patchtool: extraction failed: cannot write %s: %s\n", PrintableName(failure->path).c_str(),
                DescribeWriteFailure(failure->reason));
        return 1;
    }
    if (result == kPackageSourceMismatch) {
        fprintf(err,
                "patchtool: extraction refused: %s in %s is not the released file its delta applies to (missing, "
                "changed, or another version); nothing was written\n",
                PrintableName(LastFailedEntry()).c_str(), PrintableName(destination).c_str());
        return 1;
    }
    if (result != kPackageOk) {
        const char* entry = LastFailedEntry();
        if (entry[0] != '\0')
            fprintf(err, "patchtool: extraction failed at \"%s\": %s\n", PrintableName(entry).c_str(),
                    DescribePackageResult(result));
        else
            fprintf(err, "patchtool: extraction failed: %s\n", DescribePackageResult(result));
        return 1;
    }
    fprintf(out, "ok: extracted into %s\n", PrintableName(destination).c_str());
    return 0;
}

namespace {

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        uint8_t b = static_cast<uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            out += Printf("\\u%04x", b);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// "2021-03-04T05:06:07", UTC.
std::string IsoTime(uint64_t fileTime) {
    std::string text = FormatFileTime(fileTime);
    text[10] = 'T';
    return text;
}

std::string Hex(const uint8_t* bytes, size_t size) {
    std::string out;
    for (size_t i = 0; i < size; ++i) out += Printf("%02x", bytes[i]);
    return out;
}

}  // namespace

int ListJsonCommand(const char* path, FILE* out, FILE* err) {
    PackageCursor cursor;
    if (!OpenCursor(&cursor, path)) {
        fprintf(err, "patchtool: %s: %s\n", PrintableName(path).c_str(), kNoPackage);
        return 1;
    }
    std::string problem;
    fputs("[", out);
    int number = 0;
    for (bool first = true;; first = false) {
        ++number;
        CursorEntry entry;
        bool end = false;
        int result = NextEntry(&cursor, &entry, &end);
        if (result == kPackageOk && end) break;
        std::string digest = "null";
        if (result == kPackageOk && !entry.header.isFolder) {
            PlatformSha256Hash* hash = PlatformSha256Begin();
            int64_t produced = 0;
            problem = hash == nullptr ? "the hash cannot be computed" : CheckStream(&cursor, entry, &produced, nullptr, hash);
            uint8_t sum[kSha256Bytes];
            if (hash != nullptr && PlatformSha256End(hash, sum) != 0 && problem.empty())
                problem = "the hash cannot be computed";
            if (problem.empty()) digest = "\"" + Hex(sum, sizeof(sum)) + "\"";
        } else if (result != kPackageOk) {
            problem = DescribeHeaderProblem(result, entry);
        }
        if (!problem.empty()) {
            problem = Printf("entry %d \"%s\": %s", number, PrintableName(entry.name.c_str()).c_str(),
                             problem.c_str());
            break;
        }
        std::string utf8;
        std::string name = SjisToUtf8(entry.name.c_str(), &utf8) ? JsonString(utf8) : "null";
        const uint8_t* raw = reinterpret_cast<const uint8_t*>(entry.name.data());
        if (entry.header.isFolder)
            fprintf(out, "%s\n{\"kind\": \"folder\", \"name\": %s, \"nameBytes\": \"%s\"}", first ? "" : ",",
                    name.c_str(), Hex(raw, entry.name.size()).c_str());
        else
            fprintf(out,
                    "%s\n{\"kind\": \"file\", \"size\": %" PRId32 ", \"packedSize\": %" PRIu32
                    ", \"time\": \"%sZ\", \"fileTime\": %" PRIu64 ", \"name\": %s, \"nameBytes\": \"%s\", "
                    "\"sha256\": %s}",
                    first ? "" : ",", entry.header.unpackedSize, entry.header.packedSize,
                    IsoTime(entry.fileTime).c_str(), entry.fileTime, name.c_str(),
                    Hex(raw, entry.name.size()).c_str(), digest.c_str());
    }
    fputs("\n]\n", out);
    CloseCursor(&cursor);
    if (problem.empty()) return 0;
    fprintf(err, "patchtool: %s: %s\n", PrintableName(path).c_str(), problem.c_str());
    return 1;
}
