#include "tools/PackCommand.h"

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "package/ProgramImage.h"
#include "picture/RctFormat.h"
#include "services/Platform.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "base/SjisText.h"
#include "tools/CheckCommand.h"
#include "tools/DeltaFiles.h"
#include "tools/FolderScan.h"
#include "tools/Interrupt.h"
#include "tools/PackageCursor.h"
#include "tools/ProgressLine.h"
#include "tools/RctCommand.h"
#include "tools/ToolFiles.h"
#include "tools/ToolText.h"
#include "tools/UpdaterImage.h"
#include "tools/WriteFailureText.h"

namespace {

// Suffix of the output while it is being written.
constexpr const char* kPartialSuffix = ".partial";
// The image is copied in the same blocks the updater reads in.
constexpr size_t kCopyBlock = kTransferBlock;
// The end marker and filler that follow the last entry.
constexpr int64_t kPackageTail = kNameLengthSize + kPackageFillerSize;
// zlib at level 0 stores a file in blocks of at most 65535 bytes, each with
// a 5-byte header, inside its own 2-byte header and 4-byte checksum; levels 1
// to 9 fall back to such blocks where the data does not compress.
constexpr int64_t kStoredBlockBytes = 65535;
constexpr int64_t kStoredBlockHeader = 5;
constexpr int64_t kZlibWrapperBytes = 6;
// The main window shows the picture in a square whose side is its client
// height: 179 dialog units, about 290 pixels at 96 DPI. A picture more than
// twice that is mostly never seen, yet every player downloads it.
constexpr int32_t kShownPictureSide = 290;
constexpr int32_t kOversizeFactor = 2;
// Picture formats a maker may reach for that the updater does not read.
const char* const kUnreadPictureNames[] = {"insttscr.jpg", "insttscr.jpeg", "insttscr.gif"};
// A UTF-8 list file may begin with a byte-order mark.
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

struct PackItem {
    std::string name;  // Shift-JIS, '\' separated, a folder without its final '\'
    bool isFolder;
    uint64_t fileTime;
    std::vector<uint8_t> converted;  // packed instead of the file: a background picture made RCT
    int64_t size;                    // bytes read into the package, as measured before writing
    std::string deltaFile;           // a delta entry: the delta file it comes from (tools/DeltaFiles.h)
};

// How far the writing is, for the progress line.
struct PackProgress {
    ProgressLine line;
    int64_t filesDone;
    int64_t bytesDone;  // bytes of the files finished
};

void ShowFileBytes(void* context, int64_t fileBytes) {
    PackProgress* p = static_cast<PackProgress*>(context);
    SetProgress(&p->line, p->filesDone, p->bytesDone + fileBytes);
}

struct Collection {
    const PackRequest* request;
    std::map<std::string, PackItem> items;  // by exact name, so a path listed twice packs once
    PackReport* report;
};

PackRefusal Refuse(PackReport* report, PackRefusal refusal, const std::string& sjisEntry, const char* detail = "") {
    report->refusal = refusal;
    report->entry = PrintableName(sjisEntry.c_str());
    report->detail = detail;
    return refusal;
}

// A failed write or creation of path, with the cause the system gave.
PackRefusal RefuseWrite(PackReport* report, const std::string& path) {
    return Refuse(report, kPackCannotWrite, path, DescribeWriteFailure(WriteFailureAt(path.c_str())));
}

std::string SourcePath(const PackRequest& request, const std::string& name) {
    return name.empty() ? request.source : request.source + "\\" + name;
}

// The name's components, split at each '\' that is not the second byte of a character.
std::vector<std::string> Components(const std::string& name) {
    std::vector<std::string> parts;
    for (size_t begin = 0;;) {
        size_t end = FindSjisSeparator(name.data(), name.size(), begin, "\\");
        parts.push_back(name.substr(begin, end - begin));
        if (end == name.size()) return parts;
        begin = end + 1;
    }
}

bool IsTopLevel(const std::string& name) { return Components(name).size() == 1; }

bool IsTopStartupFile(const PackItem& item) {
    return !item.isFolder && IsTopLevel(item.name) && IsStartupFile(item.name.c_str());
}

// Where an entry goes, in this order. A Boot walk reads only the start-up
// files and ends at the first nested folder, so with the folders ahead of the
// files it stops without passing over a single stream, however large the
// package.
enum EntryGroup {
    kGroupStartup,  // the top-level start-up files
    kGroupFolder,   // every folder
    kGroupFile,     // every other file
};

EntryGroup Group(const PackItem& item) {
    if (IsTopStartupFile(item)) return kGroupStartup;
    return item.isFolder ? kGroupFolder : kGroupFile;
}

// Within a group, folder order: component by component without letter case,
// then by bytes, so that a folder (a prefix) sorts before what it holds.
bool ComesBefore(const PackItem& a, const PackItem& b) {
    if (Group(a) != Group(b)) return Group(a) < Group(b);
    std::vector<std::string> x = Components(a.name), y = Components(b.name);
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        std::string fx = FoldedName(x[i]), fy = FoldedName(y[i]);
        if (fx != fy) return fx < fy;
        if (x[i] != y[i]) return x[i] < y[i];
    }
    return x.size() < y.size();
}

// The stream zlib stores a file of size bytes in at level 0, at most.
int64_t StoredStreamBytes(int64_t size) {
    return size + kStoredBlockHeader * (size / kStoredBlockBytes + 1) + kZlibWrapperBytes;
}

// A file under the limit whose stream passes it: said with the stream's
// size and the way out.
PackRefusal RefuseStream(PackReport* report, const std::string& name, int64_t size, int level) {
    char detail[256];
    if (level == 0)
        snprintf(detail, sizeof(detail),
                 "the file is %" PRId64 " bytes, but level 0 stores it as a stream of %" PRId64
                 " bytes, past the limit; --level 1 or above fits it unless the data does not compress at all",
                 size, StoredStreamBytes(size));
    else
        snprintf(detail, sizeof(detail),
                 "the file is %" PRId64 " bytes, but its data does not compress and the stream grows past the "
                 "limit at every level; split the file",
                 size);
    return Refuse(report, kPackStreamTooLarge, name, detail);
}

// Checks a name as it is found, so that a bad one stops the walk before it
// goes any deeper.
PackRefusal AddItem(Collection* c, const std::string& name, bool isFolder) {
    std::string entryName = isFolder ? name + "\\" : name;
    if (ExplainEntryName(entryName.c_str(), entryName.size() + 1, isFolder) == kNameStaging)
        return Refuse(c->report, kPackReservedName, name);
    const char* why = ExplainBadName(entryName.c_str(), isFolder);
    if (why != nullptr) return Refuse(c->report, kPackBadName, entryName, why);
    c->items[name] = PackItem{name, isFolder, 0, {}, 0, ""};
    return kPackDone;
}

// Adds every folder above name that is not there yet.
PackRefusal AddParents(Collection* c, const std::string& name) {
    std::vector<std::string> parts = Components(name);
    std::string prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix += (i == 0 ? "" : "\\") + parts[i];
        if (c->items.count(prefix) == 0) {
            PackRefusal result = AddItem(c, prefix, true);
            if (result != kPackDone) return result;
        }
    }
    return kPackDone;
}

// Adds what the folder holds (name "" for the source folder itself), depth first.
PackRefusal CollectFolder(Collection* c, const std::string& name) {
    std::string folder = SourcePath(*c->request, name);
    std::vector<PlatformFindData> entries;
    std::string unconvertible;
    FolderScanResult scan = ReadFolderLevel(folder, &entries, &unconvertible);
    if (scan == kScanNoShiftJis) {
        Refuse(c->report, kPackNoShiftJis, name);
        c->report->entry = (name.empty() ? "" : c->report->entry + "\\") + unconvertible;
        return kPackNoShiftJis;
    }
    if (scan != kScanOk) return Refuse(c->report, kPackCannotReadSource, folder);
    for (const PlatformFindData& e : entries) {
        std::string child = name.empty() ? e.name : name + "\\" + e.name;
        bool isFolder = (e.attributes & kAttrFolder) != 0;
        PackRefusal result = AddItem(c, child, isFolder);
        if (result == kPackDone && isFolder) result = CollectFolder(c, child);
        if (result != kPackDone) return result;
    }
    return kPackDone;
}

// Reads the list file: one path under the source folder a line, UTF-8, '/'
// or '\' between folders. A listed folder brings everything in it.
PackRefusal CollectList(Collection* c) {
    FileHolder list(PlatformOpenFile(c->request->listFile.c_str(), "rb"));
    if (!list) return Refuse(c->report, kPackCannotReadSource, c->request->listFile);
    std::string text;
    char block[4096];
    for (size_t got; (got = fread(block, 1, sizeof(block), list.get())) > 0;) text.append(block, got);
    if (ferror(list.get())) return Refuse(c->report, kPackCannotReadSource, c->request->listFile);
    if (text.compare(0, 3, kUtf8Bom) == 0) text.erase(0, 3);
    size_t lineNumber = 0;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        // Separators are swapped while the text is UTF-8, where no byte of a
        // character can be mistaken for one.
        std::replace(line.begin(), line.end(), '/', '\\');
        while (line.size() > 1 && line.back() == '\\') line.pop_back();
        char where[32];
        snprintf(where, sizeof(where), "line %u: ", static_cast<unsigned>(lineNumber));
        std::string name;
        if (line.find('\0') != std::string::npos || !Utf8ToSjis(line.c_str(), &name)) {
            c->report->refusal = kPackBadListLine;
            c->report->entry = std::string(where) + line;
            c->report->detail = "not UTF-8, or no Shift-JIS form";
            return kPackBadListLine;
        }
        if (FindFolderEscape(name.c_str()) != kStaysInFolder) {
            c->report->refusal = kPackBadListLine;
            c->report->entry = std::string(where) + line;
            c->report->detail = "a path outside the source folder; list paths relative to it";
            return kPackBadListLine;
        }
        uint32_t attributes = 0;
        if (PlatformGetAttributes(SourcePath(*c->request, name).c_str(), &attributes) != 0) {
            c->report->refusal = kPackBadListLine;
            c->report->entry = std::string(where) + line;
            c->report->detail = "no such file or folder under the source folder";
            return kPackBadListLine;
        }
        bool isFolder = (attributes & kAttrFolder) != 0;
        PackRefusal result = AddParents(c, name);
        if (result == kPackDone) result = AddItem(c, name, isFolder);
        if (result == kPackDone && isFolder) result = CollectFolder(c, name);
        if (result != kPackDone) return result;
    }
    return kPackDone;
}

// Reads install.env as the updater will, against the files the package will
// carry; an error there would stop the updater at start.
PackRefusal CheckInstallEnv(Collection* c, const std::string& name) {
    std::vector<std::string> packageFiles;
    for (const auto& pair : c->items)
        if (!pair.second.isFolder) packageFiles.push_back(pair.first);
    SettingsCheck check;
    if (!CheckSettingsFile(SourcePath(*c->request, name).c_str(), &packageFiles, &check))
        return Refuse(c->report, kPackCannotReadSource, name);
    c->report->settingsFindings = check.findings;
    for (const CheckFinding& f : check.findings) {
        if (f.severity != kCheckError) continue;
        char where[32];
        snprintf(where, sizeof(where), "line %d: ", f.line);
        Refuse(c->report, kPackSettingsError, name);
        c->report->detail = where + f.text;
        return kPackSettingsError;
    }
    return kPackDone;
}

// Warns about a background picture the updater would not read, and about
// one far larger than the window shows.
void WarnAboutPicture(Collection* c) {
    for (const auto& pair : c->items) {
        if (pair.second.isFolder || !IsTopLevel(pair.first)) continue;
        std::string folded = FoldedName(pair.first);
        for (const char* unread : kUnreadPictureNames)
            if (folded == unread)
                c->report->warnings.push_back("\"" + PrintableName(pair.first.c_str()) +
                                              "\" is not a picture the updater reads and is packed as a plain file; "
                                              "give insttscr.png, .bmp or .ppm instead");
    }
    const PackItem* picture = nullptr;
    for (const auto& pair : c->items)
        if (!pair.second.isFolder && FoldedName(pair.first) == kStartupPictureName) picture = &pair.second;
    if (picture == nullptr) return;
    std::vector<uint8_t> head = picture->converted;
    if (head.empty()) {
        FileHolder file(PlatformOpenFile(SourcePath(*c->request, picture->name).c_str(), "rb"));
        head.resize(kRctHeaderSize + 2);
        head.resize(file ? fread(head.data(), 1, head.size(), file.get()) : 0);
    }
    RctHeader header;
    if (ParseRctHeader(head.data(), head.size(), &header) != kRctOk) return;
    if (header.width <= kOversizeFactor * kShownPictureSide && header.height <= kOversizeFactor * kShownPictureSide)
        return;
    char text[256];
    snprintf(text, sizeof(text),
             "the background picture is %d x %d pixels; the window shows about %d x %d at 100%% scale, so most of "
             "it is never seen but every player downloads it",
             header.width, header.height, kShownPictureSide, kShownPictureSide);
    c->report->warnings.push_back(text);
}

// A supplied insttscr.rct must show: a short one would stop every start of
// the updater in its read-error box, an undecodable one shows nothing.
PackRefusal CheckSuppliedPicture(Collection* c, const std::vector<std::string>& topFiles) {
    for (const std::string& name : topFiles) {
        if (FoldedName(name) != kStartupPictureName) continue;
        std::string problem;
        if (!CheckRctPictureFile(SourcePath(*c->request, name), &problem))
            return Refuse(c->report, kPackBadPicture, name, problem.c_str());
        return kPackDone;
    }
    // The updater reads its background picture at every start and stops when it is missing.
    return Refuse(c->report, kPackNoPicture, kStartupPictureName);
}

// A background picture given as insttscr.png, .bmp or .ppm goes into the
// package as insttscr.rct, converted now so that a picture the updater could
// not show stops the pack before anything is written.
PackRefusal ConvertStartupPicture(Collection* c) {
    std::vector<std::string> topFiles;
    for (const auto& pair : c->items)
        if (!pair.second.isFolder && IsTopLevel(pair.first)) topFiles.push_back(pair.first);
    std::string picture, other;
    StartupPictureResult found = FindStartupPicture(topFiles, &picture, &other);
    if (found == kNoStartupPicture) return CheckSuppliedPicture(c, topFiles);
    if (found == kStartupPictureClash) {
        Refuse(c->report, kPackPictureClash, picture);
        c->report->other = PrintableName(other.c_str());
        return kPackPictureClash;
    }
    PackItem item{kStartupPictureName, false, 0, {}, 0, ""};
    std::string path = SourcePath(*c->request, picture), problem;
    if (!ConvertPictureToRct(path, &item.converted, &problem))
        return Refuse(c->report, kPackBadPicture, picture, problem.c_str());
    item.size = static_cast<int64_t>(item.converted.size());
    if (PlatformGetFileTime(path.c_str(), &item.fileTime) != 0) return Refuse(c->report, kPackCannotReadSource, picture);
    c->items.erase(picture);
    c->items[item.name] = std::move(item);
    return kPackDone;
}

// Delta files become delta entries named without their suffix, each checked
// as verify checks a delta entry; a start-up file is never a delta, and a
// name is never packed both whole and as a delta.
PackRefusal TakeDeltaFiles(Collection* c) {
    std::map<std::string, PackItem> deltas;
    for (auto it = c->items.begin(); it != c->items.end();) {
        if (it->second.isFolder || !IsDeltaFileName(it->first)) {
            ++it;
            continue;
        }
        PackItem item = it->second;
        std::string target = DeltaTargetName(item.name);
        DeltaFields fields;
        std::vector<uint8_t> vcdiff;
        DeltaFileProblem problem = ReadDeltaFile(SourcePath(*c->request, item.name), &fields, &vcdiff);
        if (problem != kDeltaFileOk)
            return Refuse(c->report, kPackBadDelta, item.name, DescribeDeltaFileProblem(problem));
        if (IsStartupFile(target.c_str()))
            return Refuse(c->report, kPackBadDelta, item.name, "a start-up file never ships as a delta");
        if (c->items.count(target) != 0)
            return Refuse(c->report, kPackBadDelta, item.name, "the folder holds this file whole as well");
        item.deltaFile = item.name;
        item.name = target;
        deltas[target] = item;
        it = c->items.erase(it);
    }
    c->items.insert(deltas.begin(), deltas.end());
    return kPackDone;
}

// The checks that need every entry: letter case, start-up files, install.env
// and what it says, then each file's size and time.
PackRefusal CheckCollection(Collection* c, std::vector<PackItem>* ordered) {
    std::map<std::string, std::string> folded;
    std::string installEnv;
    PackRefusal deltas = TakeDeltaFiles(c);
    if (deltas != kPackDone) return deltas;
    for (const auto& pair : c->items) {
        const PackItem& item = pair.second;
        auto inserted = folded.emplace(FoldedName(item.name), item.name);
        if (!inserted.second) {
            Refuse(c->report, kPackCaseClash, inserted.first->second);
            c->report->other = PrintableName(item.name.c_str());
            return kPackCaseClash;
        }
        if (!item.isFolder && !IsTopLevel(item.name) && IsStartupFile(item.name.c_str()))
            return Refuse(c->report, kPackStartupInFolder, item.name);
        if (!item.isFolder && FoldedName(item.name) == kSettingsFileName) installEnv = item.name;
    }
    PackRefusal picture = ConvertStartupPicture(c);
    if (picture != kPackDone) return picture;
    WarnAboutPicture(c);
    if (installEnv.empty())
        return Refuse(c->report, kPackNoInstallEnv, kSettingsFileName,
                      c->request->listFile.empty() ? "" : "the list file does not name it");
    PackRefusal settings = CheckInstallEnv(c, installEnv);
    if (settings != kPackDone) return settings;
    for (auto& pair : c->items) {
        PackItem& item = pair.second;
        if (item.isFolder || !item.converted.empty()) continue;
        std::string path = SourcePath(*c->request, item.deltaFile.empty() ? item.name : item.deltaFile);
        FileHolder file(PlatformOpenFile(path.c_str(), "rb"));
        int64_t size = file && PlatformSeek(file.get(), 0, SEEK_END) == 0 ? PlatformTell(file.get()) : -1;
        file.reset();
        if (size < 0 || PlatformGetFileTime(path.c_str(), &item.fileTime) != 0)
            return Refuse(c->report, kPackCannotReadSource, item.name);
        if (size > c->request->packageLimit) return Refuse(c->report, kPackFileTooLarge, item.name);
        // A patch inside the source would ship inside the new one: a second
        // run into the same folder packs the first run's output.
        int64_t imageLength = 0;
        int carried = 0;
        if (FindCarriedPackage(path.c_str(), &imageLength, &carried))
            return Refuse(c->report, kPackSourceHoldsPatch, item.name);
        if (c->request->level == 0 && StoredStreamBytes(size) > c->request->packageLimit)
            return RefuseStream(c->report, item.name, size, 0);
        item.size = size;
    }
    for (const auto& pair : c->items) ordered->push_back(pair.second);
    std::sort(ordered->begin(), ordered->end(), ComesBefore);
    return kPackDone;
}

// Copies the image (without a package it already carries) to out. A signed
// image loses its certificate table, which covers only what was signed, and
// the directory entry that points at it: the output is signed anew.
PackRefusal CopyImage(const PackRequest& request, FILE* out, PackReport* report) {
    int64_t imageLength = 0;
    int carried = 0;
    if (FindCarriedPackage(request.updater.c_str(), &imageLength, &carried)) report->replacedEntries = carried;
    FileHolder image(PlatformOpenFile(request.updater.c_str(), "rb"));
    if (!image) return Refuse(report, kPackCannotReadImage, request.updater);
    if (PlatformSeek(image.get(), 0, SEEK_END) != 0) return Refuse(report, kPackCannotReadImage, request.updater);
    int64_t fileSize = PlatformTell(image.get());
    ImageLayout layout;
    bool hasLayout = ReadImageLayout(image.get(), fileSize, &layout);
    if (report->replacedEntries < 0)
        imageLength = hasLayout && IsSignedToTheEnd(layout, fileSize) ? layout.certificateOffset : fileSize;
    if (PlatformSeek(image.get(), 0, SEEK_SET) != 0) return Refuse(report, kPackCannotReadImage, request.updater);
    if (imageLength > kPackLimit) return Refuse(report, kPackPackageTooLarge, request.updater, "the image itself");
    std::vector<char> block(kCopyBlock);
    for (int64_t left = imageLength; left > 0;) {
        size_t want = left < static_cast<int64_t>(block.size()) ? static_cast<size_t>(left) : block.size();
        if (fread(block.data(), 1, want, image.get()) != want)
            return Refuse(report, kPackCannotReadImage, request.updater);
        if (fwrite(block.data(), 1, want, out) != want) return RefuseWrite(report, request.output + kPartialSuffix);
        left -= static_cast<int64_t>(want);
    }
    if (hasLayout && layout.certificateSize != 0 && layout.securityEntry >= 0 &&
        layout.securityEntry + kSecurityEntrySize <= imageLength) {
        const uint8_t cleared[kSecurityEntrySize] = {};
        if (PlatformSeek(out, layout.securityEntry, SEEK_SET) != 0 ||
            fwrite(cleared, 1, sizeof(cleared), out) != sizeof(cleared) || PlatformSeek(out, 0, SEEK_END) != 0)
            return RefuseWrite(report, request.output + kPartialSuffix);
        report->droppedSignature = true;
    }
    report->imageBytes = imageLength;
    return kPackDone;
}

// Files up to this size are compressed ahead by the worker threads into
// memory; larger ones by the writing thread itself, straight into the output.
constexpr int64_t kCompressAheadLimit = 8 << 20;
// Source bytes that the workers may hold compressed ahead of the writer.
constexpr int64_t kCompressAheadBudget = 64 << 20;
// Compressing threads at the most, whatever the machine.
constexpr unsigned kMaxPackWorkers = 8;

// A file compressed ahead of its turn by a worker thread.
struct Compressed {
    bool done = false;
    bool opened = false;
    int result = kPackageOk;
    int64_t unpacked = 0;
    std::vector<uint8_t> packed;
};

bool IsCompressedAhead(const PackItem& item) {
    return !item.isFolder && item.converted.empty() && item.deltaFile.empty() && item.size <= kCompressAheadLimit;
}

// The worker threads of one pack, compressing the small files in package
// order while the writer writes every entry in that same order. Its threads
// are stopped and joined when it goes.
struct CompressAhead {
    const PackRequest* request;
    const std::vector<PackItem>* items;
    std::vector<size_t> order;        // items compressed ahead, in package order
    std::map<size_t, size_t> slotOf;  // item index to its place in order
    std::vector<Compressed> slots;
    size_t next = 0;
    int64_t held = 0;  // source bytes taken and not yet written
    bool stop = false;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::thread> threads;

    ~CompressAhead() {
        {
            std::lock_guard<std::mutex> hold(lock);
            stop = true;
        }
        changed.notify_all();
        for (std::thread& t : threads) t.join();
    }
};

void CompressFilesAhead(CompressAhead* a) {
    for (;;) {
        size_t n;
        {
            std::unique_lock<std::mutex> hold(a->lock);
            // The next file in order is always taken, so the writer never waits for the budget.
            a->changed.wait(hold, [a] {
                return a->stop || a->next >= a->order.size() || a->held == 0 ||
                       a->held + (*a->items)[a->order[a->next]].size <= kCompressAheadBudget;
            });
            if (a->stop || a->next >= a->order.size()) return;
            n = a->next++;
            a->held += (*a->items)[a->order[n]].size;
        }
        Compressed result;
        std::string path = SourcePath(*a->request, (*a->items)[a->order[n]].name);
        FileHolder in(PlatformOpenFile(path.c_str(), "rb"));
        result.opened = static_cast<bool>(in);
        if (in) result.result = CompressStream(in.get(), a->request->level, &result.packed, &result.unpacked);
        std::lock_guard<std::mutex> hold(a->lock);
        result.done = true;
        a->slots[n] = std::move(result);
        a->changed.notify_all();
    }
}

void StartCompressingAhead(CompressAhead* a, const PackRequest& request, const std::vector<PackItem>& items,
                           unsigned workers) {
    a->request = &request;
    a->items = &items;
    for (size_t i = 0; i < items.size(); ++i)
        if (IsCompressedAhead(items[i])) {
            a->slotOf[i] = a->order.size();
            a->order.push_back(i);
        }
    a->slots.resize(a->order.size());
    for (unsigned w = 0; w < workers && !a->order.empty(); ++w) a->threads.emplace_back(CompressFilesAhead, a);
}

// Waits for item i's stream; the caller writes it and then releases it.
Compressed* WaitForCompressed(CompressAhead* a, size_t i) {
    std::unique_lock<std::mutex> hold(a->lock);
    Compressed* slot = &a->slots[a->slotOf[i]];
    a->changed.wait(hold, [slot] { return slot->done; });
    return slot;
}

void ReleaseCompressed(CompressAhead* a, size_t i) {
    std::lock_guard<std::mutex> hold(a->lock);
    std::vector<uint8_t>().swap(a->slots[a->slotOf[i]].packed);
    a->held -= (*a->items)[i].size;
    a->changed.notify_all();
}

// Writes every entry in order, telling the progress line after each file.
// Small files come compressed from the worker threads when there are any; the
// bytes are the same either way, as every stream is made by the same deflate.
PackRefusal WriteEachEntry(const PackRequest& request, const std::vector<PackItem>& items, PackageWriter* writer,
                   PackProgress* progress, PackReport* report) {
    unsigned workers = request.workers != 0 ? request.workers : std::thread::hardware_concurrency();
    if (workers > kMaxPackWorkers) workers = kMaxPackWorkers;
    std::unique_ptr<CompressAhead> ahead;
    if (workers > 1) {
        ahead.reset(new CompressAhead);
        StartCompressingAhead(ahead.get(), request, items, workers);
    }
    for (size_t i = 0; i < items.size(); ++i) {
        const PackItem& item = items[i];
        int result = kPackageOk;
        if (item.isFolder) {
            result = AddFolderEntry(writer, item.name.c_str());
            ++report->folders;
        } else if (!item.converted.empty()) {
            result = AddFileEntry(writer, item.name.c_str(), item.converted.data(), item.converted.size(), item.fileTime);
            ++report->files;
        } else if (!item.deltaFile.empty()) {
            result = AddDeltaFileEntry(writer, item.name.c_str(), SourcePath(request, item.deltaFile), item.fileTime);
            ++report->files;
        } else if (ahead && IsCompressedAhead(item)) {
            Compressed* c = WaitForCompressed(ahead.get(), i);
            if (!c->opened) return Refuse(report, kPackCannotReadSource, item.name);
            result = c->result;
            if (result == kPackageOk)
                result = AddCompressedFileEntry(writer, item.name.c_str(), c->unpacked, c->packed.data(),
                                                c->packed.size(), item.fileTime);
            ReleaseCompressed(ahead.get(), i);
            ++report->files;
        } else {
            std::string path = SourcePath(request, item.name);
            FileHolder in(PlatformOpenFile(path.c_str(), "rb"));
            if (!in) return Refuse(report, kPackCannotReadSource, item.name);
            result = AddFileEntryFromStream(writer, item.name.c_str(), in.get(), item.fileTime);
            ++report->files;
        }
        // The file may have grown since it was measured; else its stream passed the limit.
        if (result == kPackageBadSize)
            return item.size > request.packageLimit ? Refuse(report, kPackFileTooLarge, item.name)
                                                    : RefuseStream(report, item.name, item.size, request.level);
        if (result == kPackageTruncated) return Refuse(report, kPackCannotReadSource, item.name);
        if (result == kPackageCannotWrite) return RefuseWrite(report, request.output + kPartialSuffix);
        if (result != kPackageOk) return Refuse(report, kPackCannotWrite, request.output, DescribePackageResult(result));
        if (PlatformTell(writer->out) - writer->start + kPackageTail > request.packageLimit)
            return Refuse(report, kPackPackageTooLarge, item.name);
        if (item.isFolder) continue;
        ++progress->filesDone;
        progress->bytesDone += item.size;
        SetProgress(&progress->line, progress->filesDone, progress->bytesDone);
    }
    return kPackDone;
}

PackRefusal WriteEntries(const PackRequest& request, const std::vector<PackItem>& items, FILE* out,
                         PackReport* report) {
    PackageWriter writer;
    if (BeginPackage(&writer, out, request.level) != kPackageOk) return RefuseWrite(report, request.output + kPartialSuffix);
    PackProgress progress{{}, 0, 0};
    int64_t files = 0, bytes = 0;
    for (const PackItem& item : items) {
        files += item.isFolder ? 0 : 1;
        bytes += item.size;
    }
    BeginProgress(&progress.line, request.progress, "packing", files, bytes);
    writer.progress = ShowFileBytes;
    writer.progressContext = &progress;
    PackRefusal result = WriteEachEntry(request, items, &writer, &progress, report);
    EndProgress(&progress.line);
    if (result != kPackDone) return result;
    if (FinishPackage(&writer) != kPackageOk) return RefuseWrite(report, request.output + kPartialSuffix);
    report->packageBytes = PlatformTell(out) - writer.start;
    return kPackDone;
}

}  // namespace

PackRefusal PackUpdater(const PackRequest& request, PackReport* report) {
    *report = PackReport{kPackDone, "", "", "", 0, 0, 0, 0, -1, false, {}, {}};
    Collection collection{&request, {}, report};
    UpdaterImageCheck image = CheckUpdaterImage(request.updater.c_str());
    if (image == kImageUnreadable) return Refuse(report, kPackCannotReadImage, request.updater);
    if (image != kImageIsUpdater)
        return Refuse(report, kPackNotTheUpdater, request.updater, DescribeUpdaterImageCheck(image));
    uint32_t attributes = 0;
    if (PlatformGetAttributes(request.source.c_str(), &attributes) != 0 || (attributes & kAttrFolder) == 0)
        return Refuse(report, kPackCannotReadSource, request.source);
    PackRefusal result = request.listFile.empty() ? CollectFolder(&collection, "") : CollectList(&collection);
    std::vector<PackItem> ordered;
    if (result == kPackDone) result = CheckCollection(&collection, &ordered);
    if (result != kPackDone) return result;

    std::string partial = request.output + kPartialSuffix;
    // Watched before it exists: Ctrl-C just after the open must find it named.
    WatchPartialFile(partial.c_str());
    FileHolder out(PlatformOpenFile(partial.c_str(), "w+b"));
    if (out == nullptr) {
        WatchPartialFile(nullptr);
        return RefuseWrite(report, partial);
    }
    result = CopyImage(request, out.get(), report);
    if (result == kPackDone) result = WriteEntries(request, ordered, out.get(), report);
    if (!CloseWrittenFile(&out) && result == kPackDone) result = RefuseWrite(report, partial);
    if (result == kPackDone && PlatformGetAttributes(request.output.c_str(), &attributes) == 0 &&
        PlatformDeleteFile(request.output.c_str()) != 0)
        result = Refuse(report, kPackCannotWrite, request.output, "the existing file cannot be replaced");
    if (result != kPackDone) {
        PlatformDeleteFile(partial.c_str());
        WatchPartialFile(nullptr);
        return result;
    }
    // The old output is gone by now; a finished package is not thrown away too.
    int moved = PlatformMoveFile(partial.c_str(), request.output.c_str());
    WatchPartialFile(nullptr);
    if (moved != 0)
        return Refuse(report, kPackCannotWrite, request.output, "the finished file is left with .partial added");
    return kPackDone;
}

std::string DescribePackReport(const PackReport& report) {
    char text[1024];
    const char* e = report.entry.c_str();
    switch (report.refusal) {
        case kPackDone:
            snprintf(text, sizeof(text),
                     "packed %d files and %d folders: image %" PRId64 " bytes, package %" PRId64 " bytes%s%s",
                     report.files, report.folders, report.imageBytes, report.packageBytes,
                     report.replacedEntries >= 0 ? " (the package the image carried was replaced)" : "",
                     report.droppedSignature ? " (the image's signature was dropped: sign the output)" : "");
            break;
        case kPackCannotReadImage: snprintf(text, sizeof(text), "cannot read the updater image %s", e); break;
        case kPackNotTheUpdater:
            snprintf(text, sizeof(text), "the updater image %s: %s; give the updater.exe this tool came with", e,
                     report.detail.c_str());
            break;
        case kPackSourceHoldsPatch:
            snprintf(text, sizeof(text),
                     "\"%s\" carries a package: an earlier output or another patch would ship inside this one; "
                     "move it out of the source folder",
                     e);
            break;
        case kPackNoPicture:
            snprintf(text, sizeof(text),
                     "no background picture at the top of the source folder (insttscr.rct, or insttscr.png, .bmp "
                     "or .ppm to convert): the updater stops at every start when it cannot read %s",
                     e);
            break;
        case kPackCannotReadSource: snprintf(text, sizeof(text), "cannot read %s", e); break;
        case kPackBadListLine: snprintf(text, sizeof(text), "list file, %s: %s", e, report.detail.c_str()); break;
        case kPackBadName:
            snprintf(text, sizeof(text), "\"%s\": the updater refuses this name: %s", e, report.detail.c_str());
            break;
        case kPackNoShiftJis:
            snprintf(text, sizeof(text), "\"%s\": the name has no Shift-JIS form, the updater cannot name it", e);
            break;
        case kPackReservedName:
            snprintf(text, sizeof(text), "\"%s\": names beginning with %s are the updater's own staging folders", e,
                     kStagingFolderName);
            break;
        case kPackCaseClash:
            snprintf(text, sizeof(text), "\"%s\" and \"%s\" differ only in letter case; Windows sees one name", e,
                     report.other.c_str());
            break;
        case kPackStartupInFolder:
            snprintf(text, sizeof(text),
                     "\"%s\": a name with insttscr.rct, install.env or .txt inside a folder makes the updater fail at start",
                     e);
            break;
        case kPackNoInstallEnv:
            snprintf(text, sizeof(text), "no install.env at the top of the %s; the updater cannot start without it",
                     report.detail.empty() ? "source folder" : "package: the list file does not name it");
            break;
        case kPackSettingsError:
            snprintf(text, sizeof(text), "%s, %s", e, report.detail.c_str());
            break;
        case kPackFileTooLarge: snprintf(text, sizeof(text), "\"%s\": the file is 2 GiB or more", e); break;
        case kPackStreamTooLarge:
            snprintf(text, sizeof(text), "\"%s\": its stream in the package would pass the 2 GiB the updater reads: %s",
                     e, report.detail.c_str());
            break;
        case kPackPackageTooLarge:
            snprintf(text, sizeof(text), "\"%s\": %s reaches 2 GiB, beyond what the updater reads", e,
                     report.detail.empty() ? "the package" : report.detail.c_str());
            break;
        case kPackCannotWrite:
            snprintf(text, sizeof(text), "cannot write %s%s%s", e, report.detail.empty() ? "" : ": ", report.detail.c_str());
            break;
        case kPackPictureClash:
            snprintf(text, sizeof(text), "\"%s\" and \"%s\" are both the background picture; keep one", e,
                     report.other.c_str());
            break;
        case kPackBadPicture:
            snprintf(text, sizeof(text), "\"%s\": the updater cannot show this background picture: %s", e,
                     report.detail.c_str());
            break;
        case kPackBadDelta:
            snprintf(text, sizeof(text), "\"%s\": not a delta pack can carry: %s", e, report.detail.c_str());
            break;
        default: snprintf(text, sizeof(text), "unknown failure"); break;
    }
    return text;
}

int PackCommand(const PackRequest& request, FILE* out, FILE* err) {
    PackReport report;
    PackRefusal result = PackUpdater(request, &report);
    PrintFindings(report.settingsFindings, kSettingsFileName, err);
    for (const std::string& warning : report.warnings) fprintf(err, "patchtool: warning: %s\n", warning.c_str());
    fprintf(result == kPackDone ? out : err, "%s%s\n", result == kPackDone ? "" : "patchtool: refused: ",
            DescribePackReport(report).c_str());
    return result == kPackDone ? 0 : 1;
}
