#include "tools/TryCommand.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "base/PathRules.h"
#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "services/DataFileOpener.h"
#include "services/Platform.h"
#include "services/ProfileWriter.h"
#include "services/WorkingFolder.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "tools/FolderScan.h"
#include "tools/InspectCommands.h"
#include "tools/SettingsCheck.h"
#include "tools/ToolFiles.h"
#include "tools/ToolText.h"
#include "update/InstallFolder.h"
#include "update/RunUpdate.h"
#include "update/UpdateRules.h"

namespace {

// Two files are compared in blocks of this size.
constexpr size_t kCompareBlock = 64 * 1024;

std::string Shown(const std::string& sjis) { return PrintableName(sjis.c_str()); }

bool Exists(const std::string& path) {
    uint32_t attributes = 0;
    return PlatformGetAttributes(path.c_str(), &attributes) == 0;
}

bool IsFolderAt(const std::string& path) {
    uint32_t attributes = 0;
    return PlatformGetAttributes(path.c_str(), &attributes) == 0 && (attributes & kAttrFolder) != 0;
}

// The updater's start: the Boot walk into its working folder and its two
// passes over the install.env found there. The names of the start-up files
// go into startFiles (folded). Returns 0, or kTryCannotStartExit with the
// cause on err; the working folder is gone and the current folder restored
// either way.
int LoadPackageSettings(const TryRequest& request, std::vector<std::string>* startFiles, FILE* err) {
    PackageStream package;
    if (OpenPackageStream(request.patch.c_str(), &package) != kPackageOk) {
        fprintf(err, "patchtool: %s: no package\n", Shown(request.patch).c_str());
        return kTryCannotStartExit;
    }
    if (CreateWorkingFolder() != 0) {
        ClosePackageStream(&package);
        fprintf(err, "patchtool: no working folder can be made under the temporary folder\n");
        return kTryCannotStartExit;
    }
    int walked = WalkPackage(&package, WorkingFolderPath(), kBootMode, nullptr);
    ClosePackageStream(&package);
    std::string settings = std::string(WorkingFolderPath()) + "\\" + kSettingsFileName;
    std::string bytes;
    SettingsCheck check;
    bool readable = walked == kPackageOk && ReadSettingsBytes(settings.c_str(), &bytes);
    if (readable) CheckSettingsText(bytes, nullptr, &check);
    // The updater ends at the start over a settings file with a section left
    // open; the tool says so rather than end.
    if (!readable || check.errors > 0) {
        fprintf(err, "patchtool: %s: the updater would not start: %s\n", Shown(request.patch).c_str(),
                walked != kPackageOk ? DescribePackageResult(walked)
                : !readable          ? "it carries no readable install.env"
                                     : "its install.env has errors (see patchtool check)");
        RemoveWorkingFolder();
        return kTryCannotStartExit;
    }
    std::vector<PlatformFindData> level;
    std::string unconvertible;
    if (ReadFolderLevel(WorkingFolderPath(), &level, &unconvertible) == kScanOk)
        for (const PlatformFindData& found : level)
            if ((found.attributes & kAttrFolder) == 0) startFiles->push_back(found.name);
    // The updater's own opener, switched on as the updater's start does.
    SetDirectOpenAllowed(1);
    ResetSettingsForTesting();
    LoadSettingsTable(settings.c_str());
    LoadSectionLists(settings.c_str());
    RemoveWorkingFolder();
    return 0;
}

// The version gate as the updater decides it for the installed version.
// Returns 0 when it passes or is off or untried, else kTryRefusedExit.
int RehearseGate(const TryRequest& request, FILE* out, FILE* err) {
    const char* valueName = ChkRegSetting();
    if (valueName == nullptr) {
        fprintf(out, "version gate: off (CHKREG is not set)\n");
        return 0;
    }
    int lowest = ChkRegVerSetting(), highest = ChkRegVerHighSetting();
    if (!request.versionGiven) {
        fprintf(out, "version gate: not tried: CHKREG %s lets versions %d to %d through; give --installed-version N\n",
                Shown(valueName).c_str(), lowest, highest);
        return 0;
    }
    VersionVerdict verdict = JudgeInstalledVersion(request.installedVersion, lowest, highest);
    if (verdict == kVersionAccepted) {
        fprintf(out, "version gate: installed version %d passes (CHKREGVER %d .. CHKREGVERHIGH %d)\n",
                request.installedVersion, lowest, highest);
        return 0;
    }
    fprintf(err, "patchtool: version gate: the updater refuses installed version %d: %s (CHKREGVER %d .. CHKREGVERHIGH %d)\n",
            request.installedVersion,
            verdict == kVersionTooOld ? "too old for this patch" : "already updated", lowest, highest);
    return kTryRefusedExit;
}

void PrintRegLine(const char* name, const char* data, void* context) {
    fprintf(static_cast<FILE*>(context), "[reg] not applied: %s\\%s  \"%s\"=\"%s\"\n", Shown(RegGlobalSetting()).c_str(),
            Shown(RegLocalSetting()).c_str(), Shown(name).c_str(), Shown(data).c_str());
}

// Whether the two files hold the same bytes; false also when one cannot be read.
bool SameBytes(const std::string& left, const std::string& right) {
    FileHolder a(PlatformOpenFile(left.c_str(), "rb"));
    FileHolder b(PlatformOpenFile(right.c_str(), "rb"));
    if (!a || !b) return false;
    std::vector<char> blockA(kCompareBlock), blockB(kCompareBlock);
    for (;;) {
        size_t gotA = fread(blockA.data(), 1, kCompareBlock, a.get());
        size_t gotB = fread(blockB.data(), 1, kCompareBlock, b.get());
        if (gotA != gotB || memcmp(blockA.data(), blockB.data(), gotA) != 0) return false;
        if (gotA < kCompareBlock) return ferror(a.get()) == 0 && ferror(b.get()) == 0;
    }
}

struct ScannedSide {
    std::map<std::string, ScannedEntry> byFolded;
};

bool ScanSide(const std::string& root, ScannedSide* side, FILE* err) {
    std::vector<ScannedEntry> entries;
    std::string where;
    if (ScanTree(root, &entries, &where) != kScanOk) {
        fprintf(err, "patchtool: cannot read %s (at %s)\n", Shown(root).c_str(), where.c_str());
        return false;
    }
    for (const ScannedEntry& e : entries) side->byFolded[FoldedName(e.name)] = e;
    return true;
}

// Compares game with the new release, listing every difference on out. Names
// in leftOut (folded) that the new release does not have are passed over.
// Returns the count of differences, or -1 when a side cannot be read.
int CompareWithRelease(const std::string& game, const std::string& release, const std::set<std::string>& leftOut,
                       FILE* out, FILE* err) {
    ScannedSide have, want;
    if (!ScanSide(game, &have, err) || !ScanSide(release, &want, err)) return -1;
    int differences = 0;
    for (const auto& item : want.byFolded) {
        const ScannedEntry& w = item.second;
        auto found = have.byFolded.find(item.first);
        if (found == have.byFolded.end()) {
            fprintf(out, "  missing  %s%s\n", Shown(w.name).c_str(), w.isFolder ? "\\" : "");
            ++differences;
            continue;
        }
        const ScannedEntry& h = found->second;
        if (h.name != w.name) {
            fprintf(out, "  name     %s is %s in the new release\n", Shown(h.name).c_str(), Shown(w.name).c_str());
            ++differences;
        }
        if (h.isFolder != w.isFolder) {
            fprintf(out, "  kind     %s is a %s, a %s in the new release\n", Shown(w.name).c_str(),
                    h.isFolder ? "folder" : "file", w.isFolder ? "folder" : "file");
            ++differences;
            continue;
        }
        if (w.isFolder) continue;
        std::string hp = game + "\\" + h.name, wp = release + "\\" + w.name;
        if (!SameBytes(hp, wp)) {
            fprintf(out, "  bytes    %s\n", Shown(w.name).c_str());
            ++differences;
        }
        uint64_t ht = 0, wt = 0;
        if (PlatformGetFileTime(hp.c_str(), &ht) != 0 || PlatformGetFileTime(wp.c_str(), &wt) != 0 || ht != wt) {
            fprintf(out, "  time     %s: %s, %s in the new release\n", Shown(w.name).c_str(), FormatFileTime(ht).c_str(),
                    FormatFileTime(wt).c_str());
            ++differences;
        }
    }
    for (const auto& item : have.byFolded) {
        if (want.byFolded.count(item.first) != 0 || leftOut.count(item.first) != 0) continue;
        fprintf(out, "  extra    %s%s\n", Shown(item.second.name).c_str(), item.second.isFolder ? "\\" : "");
        ++differences;
    }
    return differences;
}

// Why the [ini] writes failed, in a few words.
const char* DescribeProfileResult(int result) {
    switch (result) {
    case kProfileBadPath: return "its path does not fit";
    case kProfileCannotRead: return "it cannot be read";
    case kProfileReadOnly: return "it is read-only";
    case kProfileTooLarge: return "it is larger than any settings file";
    case kProfileBadText: return "its text has no form in the file's encoding";
    default: return "the file or its folder cannot be written";
    }
}

// The name of path relative to folder when it lies below it, else "".
std::string RelativeTo(const std::string& folder, const std::string& path) {
    std::string prefix = FoldedName(folder) + "\\";
    std::string folded = FoldedName(path);
    for (char& c : prefix) c = c == '/' ? '\\' : c;
    for (char& c : folded) c = c == '/' ? '\\' : c;
    if (folded.compare(0, prefix.size(), prefix) != 0) return "";
    return path.substr(prefix.size());
}

}  // namespace

int TryCommand(const TryRequest& request, FILE* out, FILE* err) {
    if (!IsFolderAt(request.game)) {
        fprintf(err, "patchtool: %s is not a folder: give a copy of the released game\n", Shown(request.game).c_str());
        return kTryCannotStartExit;
    }
    if (!request.expect.empty() && !IsFolderAt(request.expect)) {
        fprintf(err, "patchtool: %s is not a folder\n", Shown(request.expect).c_str());
        return kTryCannotStartExit;
    }
    std::vector<std::string> startFiles;
    int started = LoadPackageSettings(request, &startFiles, err);
    if (started != 0) return started;
    int gate = RehearseGate(request, out, err);
    if (gate != 0) return gate;

    if (ExtractCommand(request.patch.c_str(), request.game.c_str(), out, err) != 0) {
        fprintf(err, "patchtool: the Full walk failed; the folder holds what the updater would have left\n");
        return kTryWalkFailedExit;
    }
    SetInstallFolderToken(request.game.c_str());
    char iniPath[kMaxPath];
    int ini = WriteIniLines(iniPath, sizeof(iniPath));
    if (ini != kProfileOk)
        fprintf(out, "[ini] not written into %s: %s; the updater says so and goes on\n", Shown(iniPath).c_str(),
                DescribeProfileResult(ini));
    else if (iniPath[0] != '\0')
        fprintf(out, "[ini] written into %s\n", Shown(iniPath).c_str());
    ForEachRegLine(PrintRegLine, out);
    for (const StringEntry* e = SectionList(kSectionDelfilesAfterinst)->first; e != nullptr; e = e->next)
        fprintf(out, "[delfiles_afterinst] %s%s\n", Shown(e->text).c_str(),
                FindFolderEscape(e->text) != kStaysInFolder ? "  (leaves the folder: skipped)" : "");
    DeleteAfterInstall(request.game.c_str());
    if (request.expect.empty()) {
        fprintf(out, "done: no comparison asked for (--expect NEW)\n");
        return 0;
    }

    // What the updater leaves by design, when the new release has no such name.
    std::set<std::string> leftOut;
    std::string said;
    for (const std::string& name : startFiles) {
        if (Exists(request.expect + "\\" + name)) continue;
        leftOut.insert(FoldedName(name));
        said += (said.empty() ? "" : ", ") + Shown(name) + " (a start-up file the patch brings)";
    }
    if (iniPath[0] != '\0') {
        std::string relative = RelativeTo(request.game, iniPath);
        if (!relative.empty() && Exists(request.expect + "\\" + relative)) {
            // The new release has the INI file: it is compared like any file.
        } else if (!relative.empty()) {
            leftOut.insert(FoldedName(relative));
            said += (said.empty() ? "" : ", ") + Shown(relative) + " (the INI file the update writes)";
        } else {
            said += (said.empty() ? "" : ", ") + Shown(iniPath) + " (the INI file, outside the folder)";
        }
    }
    fprintf(out, "left out of the comparison, as the update leaves them by design: %s; the times of folders\n",
            said.empty() ? "nothing" : said.c_str());
    int differences = CompareWithRelease(request.game, request.expect, leftOut, out, err);
    if (differences < 0) return kTryCannotStartExit;
    if (differences > 0) {
        fprintf(out, "differs: %d difference%s from %s\n", differences, differences == 1 ? "" : "s",
                Shown(request.expect).c_str());
        return kTryDiffersExit;
    }
    fprintf(out, "equal: %s holds %s\n", Shown(request.game).c_str(), Shown(request.expect).c_str());
    return 0;
}
