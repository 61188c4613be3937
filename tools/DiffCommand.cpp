#include "tools/DiffCommand.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "package/PackageFormat.h"
#include "services/Platform.h"
#include "settings/SettingsFile.h"
#include "tools/CheckCommand.h"
#include "tools/DeleteRules.h"
#include "tools/ExcludePatterns.h"
#include "tools/DeltaFiles.h"
#include "tools/FolderScan.h"
#include "tools/PackageCursor.h"
#include "tools/ProgressLine.h"
#include "tools/RctCommand.h"
#include "tools/SettingsMerge.h"
#include "tools/ToolFiles.h"
#include "tools/ToolText.h"
#include "tools/WriteFailureText.h"

namespace {

// Files are read and written in the blocks the updater itself uses.
constexpr size_t kDiffBlock = kTransferBlock;
// Notes name at most this many folders; the rest are counted.
constexpr size_t kNamedFolders = 5;

const char* const kOldTree = "the released game (OLD)";
const char* const kNewTree = "the new version (NEW)";

// One tree, each name also found without letter case.
struct Side {
    const char* what;
    std::string root;
    std::vector<ScannedEntry> entries;
    std::map<std::string, size_t> byFolded;
};

// A file of NEW and what becomes of it.
struct NewFile {
    std::string name;       // Shift-JIS, NEW's spelling
    int64_t size;
    const std::string* oldName;  // the file of OLD with the same name, or null
    int64_t oldSize;
    bool inPatch;
};

struct DiffState {
    const DiffRequest* request;
    DiffReport* report;
    Side oldSide;
    Side newSide;
    std::vector<NewFile> files;          // every file of NEW
    std::vector<std::string> created;    // what was made under OUT, to undo on failure
};

DiffRefusal Refuse(DiffReport* report, DiffRefusal refusal, const std::string& sjis, const std::string& detail = "") {
    report->refusal = refusal;
    report->entry = PrintableName(sjis.c_str());
    report->detail = detail;
    return refusal;
}

std::string PathIn(const std::string& root, const std::string& name) { return root + "\\" + name; }

// A failed write of name at path, with the cause the system gave.
DiffRefusal RefuseWrite(DiffReport* report, const std::string& name, const std::string& path) {
    return Refuse(report, kDiffCannotWrite, name, DescribeWriteFailure(WriteFailureAt(path.c_str())));
}

// The size of the file at path, or -1 when it cannot be read.
int64_t FileSize(const std::string& path) {
    FileHolder file(PlatformOpenFile(path.c_str(), "rb"));
    if (!file || PlatformSeek(file.get(), 0, SEEK_END) != 0) return -1;
    return PlatformTell(file.get());
}

// Drops the entries a pattern leaves out, noting each name once.
void LeaveOut(Side* side, const std::vector<std::string>& patterns, DiffReport* report) {
    std::vector<ScannedEntry> kept;
    for (ScannedEntry& e : side->entries) {
        if (!IsExcluded(patterns, e.name)) {
            kept.push_back(std::move(e));
            continue;
        }
        bool noted = false;
        for (const std::string& name : report->excludedNames) noted = noted || FoldedName(name) == FoldedName(e.name);
        if (!noted) report->excludedNames.push_back(e.name);
    }
    side->entries.swap(kept);
}

DiffRefusal ReadSide(Side* side, const std::vector<std::string>& patterns, DiffReport* report) {
    uint32_t attributes = 0;
    if (PlatformGetAttributes(side->root.c_str(), &attributes) != 0 || (attributes & kAttrFolder) == 0)
        return Refuse(report, kDiffCannotRead, side->root, side->what);
    std::string where;
    FolderScanResult scan = ScanTree(side->root, &side->entries, &where);
    if (scan != kScanOk) {
        report->refusal = scan == kScanNoShiftJis ? kDiffNoShiftJis : kDiffCannotRead;
        report->entry = where;
        report->detail = side->what;
        return report->refusal;
    }
    LeaveOut(side, patterns, report);
    for (size_t i = 0; i < side->entries.size(); ++i) {
        auto inserted = side->byFolded.emplace(FoldedName(side->entries[i].name), i);
        if (inserted.second) continue;
        Refuse(report, kDiffCaseClash, side->entries[inserted.first->second].name, side->what);
        report->other = PrintableName(side->entries[i].name.c_str());
        return kDiffCaseClash;
    }
    return kDiffDone;
}

const ScannedEntry* Find(const Side& side, const std::string& name) {
    auto found = side.byFolded.find(FoldedName(name));
    return found == side.byFolded.end() ? nullptr : &side.entries[found->second];
}

// A name as a package entry or an installed file must be one the updater takes.
DiffRefusal CheckName(DiffReport* report, const ScannedEntry& e, const char* tree) {
    std::string entryName = e.isFolder ? e.name + "\\" : e.name;
    const char* why = ExplainBadName(entryName.c_str(), e.isFolder);
    if (why == nullptr) return kDiffDone;
    return Refuse(report, kDiffBadName, entryName, std::string(tree) + ": " + why);
}

// Notes a refused name; the first becomes the run's refusal.
void NoteBadName(DiffState* s, const DiffReport& one) {
    if (s->report->badNames.empty()) {
        s->report->refusal = one.refusal;
        s->report->entry = one.entry;
        s->report->detail = one.detail;
    }
    s->report->badNames.push_back(DescribeDiffReport(one));
}

// Every name of either tree that the patch cannot carry or list, so that one
// run names them all and the maker need not run again for each.
DiffRefusal CheckEveryName(DiffState* s) {
    for (const ScannedEntry& e : s->newSide.entries) {
        DiffReport one;
        if (CheckName(&one, e, kNewTree) != kDiffDone) NoteBadName(s, one);
        const ScannedEntry* old = Find(s->oldSide, e.name);
        if (old != nullptr && old->isFolder != e.isFolder) {
            Refuse(&one, kDiffKindChanged, e.name,
                   e.isFolder ? "a file in the released game, a folder in the new version"
                              : "a folder in the released game, a file in the new version");
            NoteBadName(s, one);
        }
    }
    for (const ScannedEntry& e : s->oldSide.entries) {
        if (e.isFolder || Find(s->newSide, e.name) != nullptr) continue;
        DiffReport one;
        if (CheckName(&one, e, kOldTree) != kDiffDone) {
            NoteBadName(s, one);
            continue;
        }
        const char* why = WhyNotListable(e.name.c_str());
        std::string folded = FoldedName(e.name);
        if (why != nullptr && folded != kSettingsFileName && folded != kStartupPictureName) {
            Refuse(&one, kDiffNotListable, e.name, why);
            NoteBadName(s, one);
        }
    }
    return s->report->badNames.empty() ? kDiffDone : s->report->refusal;
}

// Pairs the two trees: every NEW name against OLD, and what OLD has that NEW lacks.
DiffRefusal MatchTrees(DiffState* s) {
    DiffRefusal names = CheckEveryName(s);
    if (names != kDiffDone) return names;
    for (const ScannedEntry& e : s->newSide.entries) {
        DiffRefusal result = CheckName(s->report, e, kNewTree);
        if (result != kDiffDone) return result;
        const ScannedEntry* old = Find(s->oldSide, e.name);
        if (old != nullptr && old->isFolder != e.isFolder)
            return Refuse(s->report, kDiffKindChanged, e.name,
                          e.isFolder ? "a file in the released game, a folder in the new version"
                                     : "a folder in the released game, a file in the new version");
        if (e.isFolder) continue;
        int64_t size = FileSize(PathIn(s->newSide.root, e.name));
        if (size < 0) return Refuse(s->report, kDiffCannotRead, e.name, kNewTree);
        if (size > kMaxPackageValue) return Refuse(s->report, kDiffFileTooLarge, e.name);
        int64_t oldSize = -1;
        if (old != nullptr && (oldSize = FileSize(PathIn(s->oldSide.root, old->name))) < 0)
            return Refuse(s->report, kDiffCannotRead, old->name, kOldTree);
        s->files.push_back(NewFile{e.name, size, old != nullptr ? &old->name : nullptr, oldSize, old == nullptr});
    }
    for (const ScannedEntry& e : s->oldSide.entries) {
        if (e.isFolder || Find(s->newSide, e.name) != nullptr) continue;
        DiffRefusal result = CheckName(s->report, e, kOldTree);
        if (result != kDiffDone) return result;
        // Every patch brings its own settings file and background picture and
        // the updater writes them into the game folder: listing the released
        // game's one would delete the patch's.
        std::string folded = FoldedName(e.name);
        if (folded == kSettingsFileName || folded == kStartupPictureName) {
            s->report->notes.push_back("\"" + PrintableName(e.name.c_str()) +
                                       "\" is gone from the new version but not listed in [delfiles_afterinst]: the "
                                       "patch brings its own, which the updater writes into the game folder, where "
                                       "it stays");
            continue;
        }
        const char* why = WhyNotListable(e.name.c_str());
        if (why != nullptr) return Refuse(s->report, kDiffNotListable, e.name, why);
        s->report->removedNames.push_back(e.name);
    }
    std::sort(s->report->removedNames.begin(), s->report->removedNames.end(),
              [](const std::string& a, const std::string& b) { return FoldedName(a) < FoldedName(b); });
    s->report->removed = static_cast<int>(s->report->removedNames.size());
    return kDiffDone;
}

enum ByteComparison {
    kBytesEqual,
    kBytesDiffer,
    kBytesUnreadable,  // one of the two cannot be read
};

// Compares two files of the same size block by block.
ByteComparison CompareBytes(const std::string& a, const std::string& b, ProgressLine* line, int64_t filesDone,
                            int64_t bytesDone) {
    FileHolder x(PlatformOpenFile(a.c_str(), "rb"));
    FileHolder y(PlatformOpenFile(b.c_str(), "rb"));
    if (!x || !y) return kBytesUnreadable;
    std::vector<uint8_t> bx(kDiffBlock), by(kDiffBlock);
    for (int64_t done = 0;;) {
        size_t gx = fread(bx.data(), 1, bx.size(), x.get());
        size_t gy = fread(by.data(), 1, by.size(), y.get());
        if (ferror(x.get()) || ferror(y.get())) return kBytesUnreadable;
        if (gx != gy || memcmp(bx.data(), by.data(), gx) != 0) return kBytesDiffer;
        if (gx == 0) return kBytesEqual;
        done += static_cast<int64_t>(gx);
        SetProgress(line, filesDone, bytesDone + done);
    }
}

DiffRefusal CompareTrees(DiffState* s) {
    int64_t bytes = 0;
    for (const NewFile& f : s->files)
        if (f.oldName != nullptr && f.size == f.oldSize) bytes += f.size;
    ProgressLine line;
    BeginProgress(&line, s->request->progress, "comparing", static_cast<int64_t>(s->files.size()), bytes);
    DiffRefusal result = kDiffDone;
    int64_t filesDone = 0, bytesDone = 0;
    for (NewFile& f : s->files) {
        if (f.oldName != nullptr && f.size == f.oldSize) {
            ByteComparison same = CompareBytes(PathIn(s->oldSide.root, *f.oldName), PathIn(s->newSide.root, f.name),
                                               &line, filesDone, bytesDone);
            if (same == kBytesUnreadable) {
                result = Refuse(s->report, kDiffCannotRead, f.name, "comparing the two versions");
                break;
            }
            f.inPatch = same == kBytesDiffer;
            bytesDone += f.size;
        } else if (f.oldName != nullptr) {
            f.inPatch = true;
        }
        SetProgress(&line, ++filesDone, bytesDone);
    }
    EndProgress(&line);
    return result;
}

// The checks on what the patch carries, once it is known which files those are.
DiffRefusal CheckPatchFiles(DiffState* s) {
    DiffReport* r = s->report;
    for (const ScannedEntry& e : s->newSide.entries)
        if (e.isFolder && Find(s->oldSide, e.name) == nullptr) ++r->newFolders;
    for (const NewFile& f : s->files) {
        if (!f.inPatch) {
            ++r->unchanged;
            // The installed file keeps the old spelling; Windows does not mind.
            if (f.oldName != nullptr && *f.oldName != f.name)
                r->notes.push_back("\"" + PrintableName(f.oldName->c_str()) + "\" is \"" + PrintableName(f.name.c_str()) +
                                   "\" in the new version, with the same bytes: one name to Windows, so it is not in "
                                   "the patch and keeps its old spelling");
            continue;
        }
        bool top = ParentOf(f.name).empty();
        if (!top && IsStartupFile(f.name.c_str()))
            return Refuse(r, kDiffStartupInFolder, f.name);
        if (top && FoldedName(f.name) == kSettingsFileName) return Refuse(r, kDiffGameInstallEnv, f.name);
        if (IsDeltaFileName(f.name))
            return Refuse(r, kDiffBadName, f.name, "the new version (NEW): pack takes a file of this ending for a delta");
        if (f.oldName == nullptr) {
            ++r->added;
            r->addedBytes += f.size;
            r->addedNames.push_back(f.name);
        } else {
            ++r->changed;
            r->changedBytes += f.size;
            r->changedNames.push_back(f.name);
        }
    }
    return kDiffDone;
}

// The folders OUT gets, NEW's spelling, each before what it holds: every new
// folder, empty ones too, and the folders above each file of the patch.
std::vector<std::string> PatchFolders(const DiffState* s) {
    std::set<std::string> folders;
    for (const ScannedEntry& e : s->newSide.entries)
        if (e.isFolder && Find(s->oldSide, e.name) == nullptr) folders.insert(e.name);
    for (const NewFile& f : s->files) {
        if (!f.inPatch) continue;
        for (std::string p = ParentOf(f.name); !p.empty(); p = ParentOf(p)) folders.insert(p);
    }
    // A folder is a prefix of what it holds, so it sorts before it.
    return std::vector<std::string>(folders.begin(), folders.end());
}

std::string FirstPart(const std::string& name) {
    std::string part = name;
    for (std::string p = ParentOf(name); !p.empty(); p = ParentOf(p)) part = p;
    return part;
}

std::string NamedFolders(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamedFolders; ++i)
        text += (i == 0 ? "\"" : ", \"") + PrintableName(names[i].c_str()) + "\"";
    if (names.size() > kNamedFolders) text += " and " + std::to_string(names.size() - kNamedFolders) + " more";
    return text;
}

// Follows the updater's deletes over the folders: after each entry it removes
// the entry's first folder when that leaves it empty, and never another one.
// Notes the folders that then differ from the new version.
void NoteFoldersAfterDeletes(DiffState* s) {
    std::set<std::string> folders, files;
    std::map<std::string, std::string> shown;
    for (const Side* side : {&s->oldSide, &s->newSide})
        for (const ScannedEntry& e : side->entries) {
            (e.isFolder ? folders : files).insert(FoldedName(e.name));
            shown.emplace(FoldedName(e.name), e.name);
        }
    for (const std::string& removed : s->report->removedNames) {
        files.erase(FoldedName(removed));
        if (ParentOf(removed).empty()) continue;
        std::string top = FoldedName(FirstPart(removed));
        std::string inside = top + "\\";
        bool empty = true;
        for (const std::set<std::string>* set : {&folders, &files}) {
            auto next = set->lower_bound(inside);
            if (next != set->end() && next->compare(0, inside.size(), inside) == 0) empty = false;
        }
        if (empty) folders.erase(top);
    }
    std::vector<std::string> left, lost;
    for (const std::string& f : folders)
        if (Find(s->newSide, f) == nullptr) left.push_back(shown[f]);
    for (const ScannedEntry& e : s->newSide.entries)
        if (e.isFolder && folders.count(FoldedName(e.name)) == 0) lost.push_back(e.name);
    bool one = left.size() == 1;
    if (!left.empty())
        s->report->notes.push_back(std::string(one ? "the folder " : "the folders ") + NamedFolders(left) +
                                   (one ? " stays" : " stay") +
                                   " behind, empty: the updater removes only the first folder of a deleted file, "
                                   "and only when that leaves it empty");
    one = lost.size() == 1;
    if (!lost.empty())
        s->report->notes.push_back(std::string(one ? "the folder " : "the folders ") + NamedFolders(lost) +
                                   ", empty in the new version, " + (one ? "is" : "are") +
                                   " removed by the updater: it removes the first folder of a deleted file when that "
                                   "leaves it empty");
}

// The install.env the patch carries, checked against the patch's files.
DiffRefusal MakeSettings(DiffState* s, const std::string& makerBytes, const SettingsCheck& makerCheck,
                         std::string* text) {
    DiffReport* r = s->report;
    if (s->request->settings.empty()) {
        *text = StartingSettingsText(r->removedNames);
        r->entriesAdded = r->removed;
    } else {
        *text = MergeDeleteEntries(makerBytes, makerCheck, r->removedNames, &r->entriesAdded);
        r->settingsMerged = true;
    }
    std::vector<std::string> patchFiles = {kSettingsFileName};
    for (const NewFile& f : s->files)
        if (f.inPatch) patchFiles.push_back(f.name);
    SettingsCheck check;
    CheckSettingsText(*text, &patchFiles, &check);
    r->settingsFindings = check.findings;
    for (const CheckFinding& f : check.findings) {
        if (f.severity != kCheckError) continue;
        Refuse(r, kDiffSettingsError, kSettingsFileName, "line " + std::to_string(f.line) + ": " + f.text);
        return kDiffSettingsError;
    }
    return kDiffDone;
}

// The maker's install.env must be one the updater starts with before any
// work is done on it.
DiffRefusal ReadMakerSettings(DiffState* s, std::string* bytes, SettingsCheck* check) {
    if (s->request->settings.empty()) return kDiffDone;
    if (!ReadSettingsBytes(s->request->settings.c_str(), bytes))
        return Refuse(s->report, kDiffCannotRead, s->request->settings, "the settings file");
    CheckSettingsText(*bytes, nullptr, check);
    for (const CheckFinding& f : check->findings) {
        if (f.severity != kCheckError) continue;
        return Refuse(s->report, kDiffSettingsError, s->request->settings,
                      "line " + std::to_string(f.line) + ": " + f.text);
    }
    return kDiffDone;
}

DiffRefusal CheckOutput(DiffState* s) {
    const std::string& out = s->request->output;
    uint32_t attributes = 0;
    if (PlatformGetAttributes(out.c_str(), &attributes) != 0) return kDiffDone;
    std::vector<PlatformFindData> entries;
    std::string unconvertible;
    if ((attributes & kAttrFolder) == 0 || ReadFolderLevel(out, &entries, &unconvertible) != kScanOk || !entries.empty())
        return Refuse(s->report, kDiffOutputExists, out);
    return kDiffDone;
}

bool CopyFileWithTime(const std::string& from, const std::string& to, ProgressLine* line, int64_t filesDone,
                      int64_t bytesDone) {
    uint64_t time = 0;
    if (PlatformGetFileTime(from.c_str(), &time) != 0) return false;
    FileHolder in(PlatformOpenFile(from.c_str(), "rb"));
    FileHolder out(PlatformOpenFile(to.c_str(), "wb"));
    if (!in || !out) return false;
    std::vector<uint8_t> block(kDiffBlock);
    int64_t done = 0;
    for (size_t got; (got = fread(block.data(), 1, block.size(), in.get())) > 0;) {
        if (fwrite(block.data(), 1, got, out.get()) != got) return false;
        done += static_cast<int64_t>(got);
        SetProgress(line, filesDone, bytesDone + done);
    }
    if (ferror(in.get()) || !CloseWrittenFile(&out)) return false;
    return PlatformSetFileTime(to.c_str(), time) == 0;
}

bool WriteText(const std::string& path, const std::string& text) {
    FileHolder out(PlatformOpenFile(path.c_str(), "wb"));
    if (!out) return false;
    bool ok = fwrite(text.data(), 1, text.size(), out.get()) == text.size();
    return CloseWrittenFile(&out) && ok;
}

// A changed file goes as a delta file when the rule says so
// (tools/DeltaFiles.h); true when it did, or when making it failed.
bool ShippedAsDelta(DiffState* s, const NewFile& f, const std::string& path, DiffRefusal* refusal) {
    *refusal = kDiffDone;
    if (f.oldName == nullptr) return false;
    std::string printable = PrintableName(f.name.c_str());
    if (!s->request->deltas || f.size < kMinDeltaFile || IsStartupFile(f.name.c_str())) {
        s->report->shipped.push_back(DescribeShipping(printable, f.size, nullptr));
        return false;
    }
    std::string from = PathIn(s->newSide.root, f.name), deltaPath = path + kDeltaFileSuffix;
    uint64_t time = 0;
    DeltaChoice choice;
    bool readFailed = true;
    s->created.push_back(deltaPath);
    if (PlatformGetFileTime(from.c_str(), &time) != 0 ||
        !MakeDeltaFile(PathIn(s->oldSide.root, *f.oldName), from, deltaPath, time, &choice, &readFailed)) {
        *refusal = Refuse(s->report, readFailed ? kDiffCannotRead : kDiffCannotWrite, f.name);
        return true;
    }
    s->report->shipped.push_back(DescribeShipping(printable, f.size, &choice));
    return choice.asDelta;
}

DiffRefusal WriteOutput(DiffState* s, const std::string& settings) {
    const std::string& root = s->request->output;
    uint32_t attributes = 0;
    if (PlatformGetAttributes(root.c_str(), &attributes) != 0) {
        if (PlatformCreateFolder(root.c_str()) != 0) return RefuseWrite(s->report, root, root);
        s->created.push_back(root);
    }
    for (const std::string& folder : PatchFolders(s)) {
        std::string path = PathIn(root, folder);
        if (PlatformCreateFolder(path.c_str()) != 0) return RefuseWrite(s->report, folder, path);
        s->created.push_back(path);
    }
    ProgressLine line;
    BeginProgress(&line, s->request->progress, "copying", s->report->added + s->report->changed,
                  s->report->addedBytes + s->report->changedBytes);
    int64_t filesDone = 0, bytesDone = 0;
    DiffRefusal result = kDiffDone;
    for (const NewFile& f : s->files) {
        if (!f.inPatch) continue;
        std::string path = PathIn(root, f.name);
        if (ShippedAsDelta(s, f, path, &result)) {
            if (result != kDiffDone) break;
            bytesDone += f.size;
            SetProgress(&line, ++filesDone, bytesDone);
            continue;
        }
        s->created.push_back(path);
        if (!CopyFileWithTime(PathIn(s->newSide.root, f.name), path, &line, filesDone, bytesDone)) {
            result = RefuseWrite(s->report, f.name, path);
            break;
        }
        bytesDone += f.size;
        SetProgress(&line, ++filesDone, bytesDone);
    }
    EndProgress(&line);
    if (result != kDiffDone) return result;
    std::string path = PathIn(root, kSettingsFileName);
    s->created.push_back(path);
    if (!WriteText(path, settings)) return RefuseWrite(s->report, kSettingsFileName, path);
    return kDiffDone;
}

// Removes what WriteOutput made, the deepest first.
void UndoOutput(DiffState* s) {
    for (auto it = s->created.rbegin(); it != s->created.rend(); ++it) {
        uint32_t attributes = 0;
        if (PlatformGetAttributes(it->c_str(), &attributes) != 0) continue;
        if (attributes & kAttrFolder) PlatformRemoveFolder(it->c_str());
        else PlatformDeleteFile(it->c_str());
    }
}

}  // namespace

DiffRefusal DiffTrees(const DiffRequest& request, DiffReport* report) {
    *report = DiffReport{kDiffDone, "", "", "", 0, 0, 0, 0, 0, 0, 0, {}, {}, {}, {}, false, 0, {}, {}, {}, {}};
    DiffState s{&request, report, Side{kOldTree, request.oldFolder, {}, {}}, Side{kNewTree, request.newFolder, {}, {}},
                {}, {}};
    std::string makerBytes, settings;
    SettingsCheck makerCheck;
    DiffRefusal result = CheckOutput(&s);
    std::vector<std::string> patterns = DefaultExcludes();
    patterns.insert(patterns.end(), request.excludes.begin(), request.excludes.end());
    if (result == kDiffDone) result = ReadSide(&s.oldSide, patterns, report);
    if (result == kDiffDone) result = ReadSide(&s.newSide, patterns, report);
    if (result == kDiffDone) result = MatchTrees(&s);
    if (result == kDiffDone) result = ReadMakerSettings(&s, &makerBytes, &makerCheck);
    if (result == kDiffDone) result = CompareTrees(&s);
    if (result == kDiffDone) result = CheckPatchFiles(&s);
    if (result == kDiffDone) result = MakeSettings(&s, makerBytes, makerCheck, &settings);
    if (result != kDiffDone) return result;
    NoteFoldersAfterDeletes(&s);
    result = WriteOutput(&s, settings);
    if (result != kDiffDone) UndoOutput(&s);
    return result;
}

std::string DescribeDiffReport(const DiffReport& r) {
    char text[1024];
    const char* e = r.entry.c_str();
    const char* d = r.detail.c_str();
    switch (r.refusal) {
        case kDiffDone:
            snprintf(text, sizeof(text),
                     "patch folder made: %d files added, %d changed, %d removed, %d unchanged; it holds %d files of "
                     "the game (%" PRId64 " bytes) and install.env",
                     r.added, r.changed, r.removed, r.unchanged, r.added + r.changed, r.addedBytes + r.changedBytes);
            break;
        case kDiffCannotRead: snprintf(text, sizeof(text), "cannot read %s (%s)", e, d); break;
        case kDiffNoShiftJis:
            snprintf(text, sizeof(text), "\"%s\" in %s: the name has no Shift-JIS form, the updater cannot name it", e, d);
            break;
        case kDiffBadName: snprintf(text, sizeof(text), "\"%s\": the updater refuses this name, in %s", e, d); break;
        case kDiffCaseClash:
            snprintf(text, sizeof(text), "\"%s\" and \"%s\" in %s differ only in letter case; Windows sees one name", e,
                     r.other.c_str(), d);
            break;
        case kDiffKindChanged:
            snprintf(text, sizeof(text),
                     "\"%s\" is %s: the updater writes the package before it deletes anything, so the old one stands "
                     "in the way; give the new one another name",
                     e, d);
            break;
        case kDiffStartupInFolder:
            snprintf(text, sizeof(text),
                     "\"%s\": a name with insttscr.rct, install.env or .txt inside a folder makes the updater fail at "
                     "start",
                     e);
            break;
        case kDiffNotListable:
            snprintf(text, sizeof(text), "\"%s\" is removed but cannot be listed in [delfiles_afterinst]: %s", e, d);
            break;
        case kDiffGameInstallEnv:
            snprintf(text, sizeof(text),
                     "\"%s\" is new or changed in the new version, but a patch's install.env is the updater's own "
                     "settings",
                     e);
            break;
        case kDiffFileTooLarge: snprintf(text, sizeof(text), "\"%s\": the file is 2 GiB or more", e); break;
        case kDiffSettingsError: snprintf(text, sizeof(text), "%s, %s", e, d); break;
        case kDiffOutputExists:
            snprintf(text, sizeof(text), "%s exists and is not an empty folder; name a new one", e);
            break;
        case kDiffCannotWrite:
            snprintf(text, sizeof(text), "cannot write %s: %s; nothing is left in the patch folder", e,
                     d);
            break;
        default: snprintf(text, sizeof(text), "unknown failure"); break;
    }
    return text;
}

int DiffCommand(const DiffRequest& request, FILE* out, FILE* err) {
    DiffReport r;
    DiffRefusal result = DiffTrees(request, &r);
    PrintFindings(r.settingsFindings, kSettingsFileName, err);
    if (result != kDiffDone) {
        if (r.badNames.size() > 1) {
            fprintf(err, "patchtool: refused: %u names the patch cannot carry or list:\n",
                    static_cast<unsigned>(r.badNames.size()));
            for (const std::string& bad : r.badNames) fprintf(err, "  %s\n", bad.c_str());
            return 1;
        }
        fprintf(err, "patchtool: refused: %s\n", DescribeDiffReport(r).c_str());
        return 1;
    }
    fprintf(out, "added      %d %s, %" PRId64 " bytes\n", r.added, r.added == 1 ? "file" : "files", r.addedBytes);
    fprintf(out, "changed    %d %s, %" PRId64 " bytes\n", r.changed, r.changed == 1 ? "file" : "files", r.changedBytes);
    fprintf(out, "removed    %d %s, listed in [delfiles_afterinst]\n", r.removed, r.removed == 1 ? "file" : "files");
    fprintf(out, "unchanged  %d %s\n", r.unchanged, r.unchanged == 1 ? "file" : "files");
    std::string said = "Thumbs.db, desktop.ini and .DS_Store by default";
    for (const std::string& pattern : request.excludes) said += ", " + PrintableName(pattern.c_str());
    fprintf(out, "left out   %d %s (%s)\n", static_cast<int>(r.excludedNames.size()),
            r.excludedNames.size() == 1 ? "name" : "names", said.c_str());
    for (const std::string& name : r.excludedNames) fprintf(out, "  left out %s\n", PrintableName(name.c_str()).c_str());
    for (const std::string& name : r.addedNames) fprintf(out, "  added    %s\n", PrintableName(name.c_str()).c_str());
    for (const std::string& name : r.changedNames) fprintf(out, "  changed  %s\n", PrintableName(name.c_str()).c_str());
    for (const std::string& name : r.removedNames) fprintf(out, "  removed  %s\n", PrintableName(name.c_str()).c_str());
    fprintf(out, "new folders %d\n", r.newFolders);
    if (r.settingsMerged)
        fprintf(out, "install.env: a copy of %s with %d %s added to [delfiles_afterinst]\n",
                PrintableName(request.settings.c_str()).c_str(), r.entriesAdded, r.entriesAdded == 1 ? "entry" : "entries");
    else
        fprintf(out,
                "install.env: a starting file with every key commented out; set at least TITLEBAR, REG_GLOBAL, "
                "REG_LOCAL, INSTTO and EXENAME before pack\n");
    if (request.deltas) fprintf(out, "deltas: %s\n", kDeltaRuleText);
    for (const std::string& line : r.shipped) fprintf(out, "  %s\n", line.c_str());
    for (const std::string& note : r.notes) fprintf(out, "note: %s\n", note.c_str());
    fprintf(out, "%s\n", DescribeDiffReport(r).c_str());
    return 0;
}
