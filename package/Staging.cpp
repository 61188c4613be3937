#include "package/Staging.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/PackageFormat.h"
#include "package/StagingLock.h"
#include "services/Platform.h"

namespace {

constexpr const char* kJournalName = "journal.txt";
// The header names the format's version. This program acts only on its own
// version and refuses every other, touching nothing: a later program that
// changes the format raises the number and must still read and finish (or
// undo) a journal of every earlier version it meets, since the player may
// install it over an update that an older one left half done.
constexpr const char* kJournalHeaderPrefix = "VORNEL staging journal ";
constexpr int kJournalVersion = 1;
// A journal longer than this is not one this program wrote: a package holds
// far fewer entries than would fill it.
constexpr size_t kMaxJournalBytes = 64u * 1024 * 1024;
// Digits of a staged file's number, as the staged names spell it.
constexpr size_t kStagedNumberDigits = 8;
// Tries for a move or deletion of the roll-back, and the pause between them:
// a virus scanner or the game's launcher may hold a file for a moment.
constexpr int kRestoreAttempts = 5;
constexpr uint32_t kRestorePauseMs = 200;
// A journal line: a letter, a number, a flag and a relative path.
constexpr size_t kJournalLine = kMaxPath + 32;

struct StagedFile {
    std::string target;
    unsigned number;
    bool live;         // false once a later entry for the same target supersedes it
    bool hadOriginal;  // the target existed when the journal was written
    bool inPlace;      // a new file, written under its own name
    bool existedAtPlan;       // the target existed when it was planned
    unsigned foldersAtPlan;   // how many folders the walk had made by then
};

// One file of a journal.
struct JournalFile {
    unsigned number;
    bool hadOriginal;
    std::string target;  // relative to the destination
};

struct Journal {
    bool listed = false;     // "E" was reached: moves may have begun
    bool committed = false;  // "C": every move was done
    std::vector<JournalFile> files;
    std::vector<std::string> folders;
    std::vector<std::string> inPlace;  // new files written under their own names
    std::vector<std::string> taken;    // of those, names found taken: not this walk's
};

bool s_direct = true;
char s_destination[kMaxPath];
char s_folder[kStagedPathBuffer];
unsigned s_firstNumber = 0;
std::vector<StagedFile> s_files;
// Index into s_files of the live entry for each target, by its folded name.
std::unordered_map<std::string, size_t> s_liveByTarget;
// Folders this walk has made so far.
unsigned s_foldersMade = 0;
WriteFailure s_failure;
bool s_durable = true;
// Held while a worker appends to the journal.
std::mutex s_journalLock;

WriteFailureReason ReasonFromPlatformError() {
    switch (PlatformLastError()) {
        case kPlatformErrorInUse: return kWriteFailureInUse;
        case kPlatformErrorDenied: return kWriteFailureDenied;
        case kPlatformErrorDiskFull: return kWriteFailureDiskFull;
        default: return kWriteFailureOther;
    }
}

void StagedName(const char* folder, unsigned number, const char* suffix, char* out, size_t capacity) {
    char name[32];
    snprintf(name, sizeof(name), "%08u.%s", number, suffix);
    JoinPath(out, capacity, folder, name);
}

bool Exists(const char* path) {
    uint32_t attributes = 0;
    return PlatformGetAttributes(path, &attributes) == 0;
}

// Runs a move or deletion of the roll-back until it succeeds, a few times.
template <typename Operation>
bool Retried(Operation operation) {
    for (int attempt = 0; attempt < kRestoreAttempts; ++attempt) {
        if (attempt > 0) PlatformSleep(kRestorePauseMs);
        if (operation() == 0) return true;
    }
    return false;
}

// How reading a staging folder's journal went.
enum JournalState {
    kJournalAbsent = 0,  // no journal, or one cut short before its header was whole
    kJournalRead,        // read whole; a last line cut short by a crash is left out
    kJournalUnreadable,  // it exists but could not be opened or read
    kJournalForeign,     // a header of another format version, or none of this program's
    kJournalBadLine,     // a whole line that is not one of this version's, or names a bad path
};

// A journal path joins the destination only if a package could have named it.
bool IsJournalPath(const char* text, bool isFolder) {
    return CheckEntryName(text, strlen(text) + 1, isFolder) == kPackageOk;
}

// Reads the journal file whole; false when it exists but cannot be read.
bool ReadJournalBytes(const char* path, std::string* text) {
    FILE* file = nullptr;
    for (int attempt = 0; attempt < kRestoreAttempts && file == nullptr; ++attempt) {
        if (attempt > 0) PlatformSleep(kRestorePauseMs);
        file = PlatformOpenFile(path, "rb");
    }
    if (file == nullptr) return false;
    char block[4096];
    bool ok = true;
    for (;;) {
        size_t got = fread(block, 1, sizeof(block), file);
        if (text->size() + got > kMaxJournalBytes) ok = false;
        if (!ok) break;
        text->append(block, got);
        if (got < sizeof(block)) {
            ok = ferror(file) == 0;
            break;
        }
    }
    fclose(file);
    return ok;
}

// Takes one whole journal line into journal; false when it is not one of this
// version's lines or names a path no package could.
bool TakeJournalLine(const char* line, Journal* journal) {
    if (journal->listed) {
        if (strcmp(line, "C") != 0 || journal->committed) return false;
        journal->committed = true;
        return true;
    }
    if (strcmp(line, "E") == 0) {
        journal->listed = true;
        return true;
    }
    if (line[0] == '\0' || line[1] != ' ') return false;
    const char* rest = line + 2;
    if (line[0] == 'F') {
        // "F nnnnnnnn h path": the fixed-width number, then 0 or 1.
        for (size_t i = 0; i < kStagedNumberDigits; ++i)
            if (rest[i] < '0' || rest[i] > '9') return false;
        const char* flag = rest + kStagedNumberDigits;
        if (flag[0] != ' ' || (flag[1] != '0' && flag[1] != '1') || flag[2] != ' ') return false;
        if (!IsJournalPath(flag + 3, false)) return false;
        unsigned number = static_cast<unsigned>(strtoul(rest, nullptr, 10));
        journal->files.push_back(JournalFile{number, flag[1] == '1', flag + 3});
        return true;
    }
    if (line[0] == 'D' && IsJournalPath(rest, true)) {
        // Folders are listed as the walk makes them, before any file.
        journal->folders.push_back(rest);
        return true;
    }
    if (line[0] == 'N' && IsJournalPath(rest, false)) {
        journal->inPlace.push_back(rest);
        return true;
    }
    if (line[0] == 'X' && IsJournalPath(rest, false)) {
        journal->taken.push_back(rest);
        return true;
    }
    return false;
}

// Reads the journal of a staging folder. Only a state of kJournalAbsent or
// kJournalRead may be acted on: anything else is left as it is.
JournalState ReadJournal(const char* folder, Journal* journal) {
    *journal = Journal{};
    char path[kStagedPathBuffer];
    if (!JoinPath(path, sizeof(path), folder, kJournalName)) return kJournalUnreadable;
    if (!Exists(path)) return kJournalAbsent;
    std::string text;
    if (!ReadJournalBytes(path, &text)) return kJournalUnreadable;
    size_t end = text.find('\n');
    // The header line is on the disk before anything else is touched: without
    // it whole (cut short, or zeros where a power cut lost it) nothing began.
    if (end == std::string::npos) return kJournalAbsent;
    std::string header = text.substr(0, end);
    size_t prefix = strlen(kJournalHeaderPrefix);
    if (header.compare(0, prefix, kJournalHeaderPrefix) != 0) return kJournalForeign;
    if (header.substr(prefix) != std::to_string(kJournalVersion)) return kJournalForeign;
    for (size_t start = end + 1; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        // A last line without its end was cut short by a crash: never acted on.
        if (end == std::string::npos) break;
        std::string line = text.substr(start, end - start);
        if (line.size() >= kJournalLine || line.find('\0') != std::string::npos) return kJournalBadLine;
        if (!TakeJournalLine(line.c_str(), journal)) return kJournalBadLine;
    }
    if (!journal->listed) journal->files.clear();
    return kJournalRead;
}

// Appends text to the journal and forces it to the disk.
bool WriteToJournal(const char* text, const char* mode) {
    char path[kStagedPathBuffer];
    if (!JoinPath(path, sizeof(path), s_folder, kJournalName)) return false;
    FILE* file = PlatformOpenFile(path, mode);
    if (file == nullptr) return false;
    bool ok = fputs(text, file) >= 0 && PlatformFlushFile(file) == 0;
    return fclose(file) == 0 && ok;
}

const char* Relative(const char* target) { return target + strlen(s_destination) + 1; }

// Puts on the disk every file written out and every move made so far.
bool FlushWrittenFiles() {
    if (!s_durable) return true;
    char path[kStagedPathBuffer];
    return JoinPath(path, sizeof(path), s_folder, kJournalName) && PlatformFlushWrittenOut(path) == 0;
}

// Lists every live file and ends the list: from here on moves may begin, so
// every byte of every file the walk wrote is on the disk first.
bool ListStagedFiles() {
    if (!FlushWrittenFiles()) return false;
    std::string text;
    char line[kJournalLine];
    for (StagedFile& file : s_files) {
        if (!file.live || file.inPlace) continue;
        file.hadOriginal = Exists(file.target.c_str());
        snprintf(line, sizeof(line), "F %08u %d %s\n", file.number, file.hadOriginal ? 1 : 0, Relative(file.target.c_str()));
        text += line;
    }
    text += "E\n";
    return WriteToJournal(text.c_str(), "ab");
}

// Deletes every file of the staging folder whose name ends in suffix.
void DeleteFilesEndingIn(const char* folder, const char* suffix) {
    char pattern[kStagedPathBuffer];
    char name[16];
    snprintf(name, sizeof(name), "*%s", suffix);
    if (!JoinPath(pattern, sizeof(pattern), folder, name)) return;
    std::vector<std::string> names;
    PlatformFindData data;
    PlatformFind* find = PlatformFindFirst(pattern, &data);
    if (find == nullptr) return;
    do {
        if ((data.attributes & kAttrFolder) == 0) names.push_back(data.name);
    } while (PlatformFindNext(find, &data) == 0);
    PlatformFindClose(find);
    char path[kStagedPathBuffer];
    for (const std::string& n : names)
        if (JoinPath(path, sizeof(path), folder, n.c_str())) PlatformDeleteFile(path);
}

// The first number after every numbered file left in the folder.
unsigned NextFreeNumber(const char* folder) {
    char pattern[kStagedPathBuffer];
    if (!JoinPath(pattern, sizeof(pattern), folder, "*.*")) return 0;
    unsigned next = 0;
    PlatformFindData data;
    PlatformFind* find = PlatformFindFirst(pattern, &data);
    if (find == nullptr) return 0;
    do {
        char* end = nullptr;
        unsigned long number = strtoul(data.name, &end, 10);
        if (end != data.name && *end == '.' && number + 1 > next) next = static_cast<unsigned>(number + 1);
    } while (PlatformFindNext(find, &data) == 0);
    PlatformFindClose(find);
    return next;
}

// Deletes a set-aside original; one that cannot be deleted now is renamed so
// that a later run knows it may delete it. False when it stays under its
// journal's name, which only the journal lets a later run delete.
bool DiscardOriginal(const char* folder, unsigned number) {
    char old[kStagedPathBuffer];
    char discarded[kStagedPathBuffer];
    StagedName(folder, number, "old", old, sizeof(old));
    if (!Exists(old) || Retried([&] { return PlatformDeleteFile(old); })) return true;
    StagedName(folder, number, "del", discarded, sizeof(discarded));
    return Retried([&] { return PlatformMoveFile(old, discarded); });
}

bool RestoreFailed(const char* target, const char* original) {
    NoteWriteFailure(target);
    CopyText(s_failure.original, sizeof(s_failure.original), original);
    return false;
}

// Undoes the moves of a journal that has no "C", last file first.
bool RollBack(const char* destination, const char* folder, const Journal& journal) {
    char target[kStagedPathBuffer], old[kStagedPathBuffer], fresh[kStagedPathBuffer];
    for (size_t i = journal.files.size(); i-- > 0;) {
        const JournalFile& file = journal.files[i];
        if (!JoinPath(target, sizeof(target), destination, file.target.c_str())) continue;
        StagedName(folder, file.number, "old", old, sizeof(old));
        StagedName(folder, file.number, "new", fresh, sizeof(fresh));
        if (file.hadOriginal) {
            // Without its .old the original was never moved: it is still the target.
            if (!Exists(old)) continue;
            if (Exists(target) && !Retried([&] { return PlatformDeleteFile(target); }))
                return RestoreFailed(target, old);
            if (!Retried([&] { return PlatformMoveFile(old, target); })) return RestoreFailed(target, old);
        } else if (Exists(target) && !Exists(fresh)) {
            // A new file that was already placed.
            if (!Retried([&] { return PlatformDeleteFile(target); })) return RestoreFailed(target, "");
        }
    }
    return true;
}

// Deletes the new files written in place, then removes the folders the walk
// made, the last made first. A folder that holds something of the player's
// stays, and so does a name that was found taken when the walk came to write
// it. False, the failure noted, when a new file cannot be deleted.
bool RemoveMadeFolders(const char* destination, const Journal& journal) {
    char path[kStagedPathBuffer];
    for (const std::string& name : journal.inPlace) {
        bool taken = false;
        for (const std::string& other : journal.taken) taken = taken || other == name;
        if (taken || !JoinPath(path, sizeof(path), destination, name.c_str())) continue;
        if (Exists(path) && !Retried([&] { return PlatformDeleteFile(path); })) return RestoreFailed(path, "");
    }
    for (size_t i = journal.folders.size(); i-- > 0;)
        if (JoinPath(path, sizeof(path), destination, journal.folders[i].c_str())) PlatformRemoveFolder(path);
    return true;
}

void Reset() {
    ReleaseStagingFolder();
    s_files.clear();
    s_liveByTarget.clear();
    s_foldersMade = 0;
    s_folder[0] = '\0';
}

}  // namespace

const WriteFailure* LastWriteFailure() { return &s_failure; }

void NoteWriteFailureReason(const char* path, WriteFailureReason reason) {
    CopyText(s_failure.path, sizeof(s_failure.path), path);
    s_failure.original[0] = '\0';
    s_failure.reason = reason;
    s_failure.applied = false;
}

void NoteWriteFailure(const char* path) { NoteWriteFailureReason(path, ReasonFromPlatformError()); }

WriteFailureReason WriteFailureReasonNow() { return ReasonFromPlatformError(); }

static int RecoverHeldStaging(const char* destination) {
    char folder[kStagedPathBuffer];
    if (!JoinPath(folder, sizeof(folder), destination, kStagingFolderName)) return kPackagePathTooLong;
    uint32_t attributes = 0;
    if (PlatformGetAttributes(folder, &attributes) != 0 || (attributes & kAttrFolder) == 0) return kPackageOk;
    Journal journal;
    JournalState state = ReadJournal(folder, &journal);
    if (state != kJournalAbsent && state != kJournalRead) {
        // Whatever it says cannot be known: the staging folder keeps every
        // original, and nothing is touched until a program that can read it runs.
        NoteWriteFailureReason(folder, kWriteFailureOther);
        CopyText(s_failure.original, sizeof(s_failure.original), folder);
        return kPackageRestoreFailed;
    }
    if (journal.committed) {
        // The folder is wholly new; an original that stays for now keeps the
        // journal, so that the next run deletes it.
        for (const JournalFile& file : journal.files)
            if (!DiscardOriginal(folder, file.number)) {
                char target[kStagedPathBuffer];
                char old[kStagedPathBuffer];
                JoinPath(target, sizeof(target), destination, file.target.c_str());
                StagedName(folder, file.number, "old", old, sizeof(old));
                RestoreFailed(target, old);
                s_failure.applied = true;
                return kPackageRestoreFailed;
            }
    } else {
        if (journal.listed && !RollBack(destination, folder, journal)) return kPackageRestoreFailed;
        if (!RemoveMadeFolders(destination, journal)) return kPackageRestoreFailed;
    }
    // Every .old is back in place or discarded now, except an older updater's,
    // which no journal maps and which therefore stays.
    DeleteFilesEndingIn(folder, ".new");
    DeleteFilesEndingIn(folder, ".del");
    char path[kStagedPathBuffer];
    if (JoinPath(path, sizeof(path), folder, kJournalName) && Exists(path) &&
        !Retried([&] { return PlatformDeleteFile(path); })) {
        // What the journal describes is done; a journal that stays is only
        // done again by the next run.
        return kPackageOk;
    }
    PlatformRemoveFolder(folder);
    return kPackageOk;
}

int RecoverStaging(const char* destination) { return WithStagingFolderHeld(destination, RecoverHeldStaging); }

int BeginStaging(const char* destination, bool direct) {
    Reset();
    s_failure = WriteFailure{};
    s_direct = direct;
    if (direct) return kPackageOk;
    if (!CopyText(s_destination, sizeof(s_destination), destination)) return kPackagePathTooLong;
    int held = HoldStagingFolder(destination);
    if (held != kPackageOk) return held;
    int recovered = RecoverStaging(destination);
    if (recovered != kPackageOk) {
        ReleaseStagingFolder();
        return recovered;
    }
    if (!JoinPath(s_folder, sizeof(s_folder), destination, kStagingFolderName)) return kPackagePathTooLong;
    uint32_t attributes = 0;
    if (PlatformGetAttributes(s_folder, &attributes) == 0) {
        // What stays after recovery cannot be deleted yet: number past it.
        if ((attributes & kAttrFolder) == 0) {
            NoteWriteFailureReason(s_folder, kWriteFailureFolder);
            s_folder[0] = '\0';
            return kPackageCannotWrite;
        }
        s_firstNumber = NextFreeNumber(s_folder);
    } else if (PlatformCreateFolder(s_folder) == 0) {
        s_firstNumber = 0;
    } else {
        NoteWriteFailure(destination);
        s_folder[0] = '\0';
        return kPackageCannotWrite;
    }
    // The journal exists before the walk makes its first folder.
    std::string header = kJournalHeaderPrefix + std::to_string(kJournalVersion) + "\n";
    if (WriteToJournal(header.c_str(), "wb")) return kPackageOk;
    NoteWriteFailure(s_folder);
    RecoverStaging(destination);
    ReleaseStagingFolder();
    s_folder[0] = '\0';
    return kPackageCannotWrite;
}

int ProbeStaging(const char* destination) {
    Reset();
    s_failure = WriteFailure{};
    int held = HoldStagingFolder(destination);
    if (held == kPackageOk) ReleaseStagingFolder();
    return held;
}

int StageFolder(const char* path) {
    char trimmed[kMaxPath];
    CopyText(trimmed, sizeof(trimmed), path);
    StripTrailingBackslash(trimmed);
    if (s_direct) {
        // An existing folder is fine; a real failure shows at the first file inside.
        PlatformCreateFolder(trimmed);
        return 0;
    }
    uint32_t attributes = 0;
    if (PlatformGetAttributes(trimmed, &attributes) == 0) {
        if (attributes & kAttrFolder) return 0;
        NoteWriteFailureReason(trimmed, kWriteFailureFolder);
        return kPackageCannotReplace;
    }
    // Listed before it is made, so that a crash from then on removes it again.
    std::string line = "D " + std::string(Relative(trimmed)) + "\n";
    if (!WriteToJournal(line.c_str(), "ab")) {
        NoteWriteFailure(s_folder);
        return kPackageCannotWrite;
    }
    if (PlatformCreateFolder(trimmed) != 0) {
        NoteWriteFailure(trimmed);
        return kPackageCannotWrite;
    }
    ++s_foldersMade;
    return 0;
}

int StageFile(const char* target, char* writePath, size_t capacity) {
    if (s_direct) return CopyText(writePath, capacity, target) ? 0 : kPackagePathTooLong;
    size_t plan = 0;
    int result = PlanFile(target, &plan);
    if (result != kPackageOk) return result;
    StagedName(s_folder, s_files[plan].number, "new", writePath, capacity);
    return writePath[0] != '\0' ? 0 : kPackagePathTooLong;
}

int PlanFile(const char* target, size_t* plan) {
    uint32_t attributes = 0;
    bool existed = PlatformGetAttributes(target, &attributes) == 0;
    if (existed && (attributes & (kAttrFolder | kAttrReadOnly)) != 0) {
        NoteWriteFailureReason(target, (attributes & kAttrFolder) ? kWriteFailureFolder : kWriteFailureReadOnly);
        return kPackageCannotReplace;
    }
    char folded[kMaxPath];
    CopyText(folded, sizeof(folded), target);
    FoldFileName(folded);
    size_t index = s_files.size();
    auto found = s_liveByTarget.find(folded);
    if (found != s_liveByTarget.end()) {
        s_files[found->second].live = false;
        found->second = index;
    } else {
        s_liveByTarget.emplace(folded, index);
    }
    s_files.push_back(
        StagedFile{target, s_firstNumber + static_cast<unsigned>(index), true, false, false, existed, s_foldersMade});
    *plan = index;
    return kPackageOk;
}

int FinishPlanning() {
    std::string lines;
    for (StagedFile& file : s_files) {
        if (!file.live) continue;
        // What planning saw still holds unless the walk has made a folder
        // since, which may now stand at the target: one look per file, not two.
        bool exists = file.foldersAtPlan == s_foldersMade ? file.existedAtPlan : Exists(file.target.c_str());
        if (exists) continue;
        file.inPlace = true;
        lines += "N " + std::string(Relative(file.target.c_str())) + "\n";
    }
    // Listed, and on the disk, before the first of them is written.
    if (lines.empty() || WriteToJournal(lines.c_str(), "ab")) return kPackageOk;
    NoteWriteFailure(s_folder);
    return kPackageCannotWrite;
}

bool PlannedWritePath(size_t plan, char* writePath, size_t capacity) {
    const StagedFile& file = s_files[plan];
    if (file.inPlace) return CopyText(writePath, capacity, file.target.c_str());
    StagedName(s_folder, file.number, "new", writePath, capacity);
    return writePath[0] != '\0';
}

bool PlannedInPlace(size_t plan) { return s_files[plan].inPlace; }

int NoteNameTaken(size_t plan) {
    std::lock_guard<std::mutex> hold(s_journalLock);
    std::string line = "X " + std::string(Relative(s_files[plan].target.c_str())) + "\n";
    if (WriteToJournal(line.c_str(), "ab")) return kPackageOk;
    NoteWriteFailure(s_folder);
    return kPackageCannotWrite;
}

void SetDurableWrites(bool on) { s_durable = on; }

bool DurableWrites() { return s_durable; }

int CommitStaging() {
    if (s_direct) return 0;
    if (!ListStagedFiles()) {
        NoteWriteFailure(s_folder);
        WriteFailure first = s_failure;
        if (AbortStaging() != kPackageOk) return kPackageRestoreFailed;
        s_failure = first;
        return kPackageCannotWrite;
    }
    char staged[kStagedPathBuffer];
    char aside[kStagedPathBuffer];
    int failure = kPackageOk;
    for (const StagedFile& file : s_files) {
        if (!file.live || file.inPlace) continue;
        StagedName(s_folder, file.number, "new", staged, sizeof(staged));
        StagedName(s_folder, file.number, "old", aside, sizeof(aside));
        uint32_t attributes = 0;
        if (file.hadOriginal && PlatformGetAttributes(file.target.c_str(), &attributes) == 0) {
            if ((attributes & (kAttrFolder | kAttrReadOnly)) != 0) {
                NoteWriteFailureReason(file.target.c_str(),
                                       (attributes & kAttrFolder) ? kWriteFailureFolder : kWriteFailureReadOnly);
                failure = kPackageCannotReplace;
                break;
            }
            // Moving the original aside fails when another program holds it open.
            if (PlatformMoveFile(file.target.c_str(), aside) != 0) {
                NoteWriteFailure(file.target.c_str());
                failure = kPackageCannotReplace;
                break;
            }
        }
        if (PlatformMoveFile(staged, file.target.c_str()) != 0) {
            NoteWriteFailure(file.target.c_str());
            failure = kPackageCannotReplace;
            break;
        }
    }
    // The moves are on the disk before the journal says they are done.
    if (failure == kPackageOk && (!FlushWrittenFiles() || !WriteToJournal("C\n", "ab"))) {
        NoteWriteFailure(s_folder);
        failure = kPackageCannotWrite;
    }
    if (failure != kPackageOk) {
        // The journal says what to undo; the failure stays the one that stopped
        // the commit unless the undoing itself fails.
        WriteFailure first = s_failure;
        int recovered = RecoverStaging(s_destination);
        Reset();
        if (recovered != kPackageOk) return recovered;
        s_failure = first;
        return failure;
    }
    RecoverStaging(s_destination);
    Reset();
    return 0;
}

int AbortStaging() {
    if (s_direct) return kPackageOk;
    // The journal has no end of list yet: recovery deletes the staged files
    // and the folders the walk made.
    int result = s_folder[0] != '\0' ? RecoverStaging(s_destination) : kPackageOk;
    Reset();
    return result;
}
