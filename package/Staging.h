// Keeps a Full-mode walk from leaving the install folder half-updated, even
// when the process is killed or the power fails part-way. Files that replace
// an original are written under a staging folder inside the destination; only
// when every entry has been read and written are they moved into place, each
// original first moved aside. A file that is new to the destination needs no
// staging: it is written in place, listed first so that a failure deletes it
// again. Before the first original is moved, a journal in the staging folder,
// flushed to disk, maps every staged number to its target (relative to the
// destination):
//
//   VORNEL staging journal 1
//   F 00000003 1 data\scene.dat     file 3 replaces an original (00000003.old once moved aside)
//   D voice                         a folder the walk made
//   N voice\new.arc                 a new file, written in place under its own name
//   X voice\new.arc                 its name was taken when the walk came to create it: not ours
//   E                               the list is whole: moves may begin
//   C                               every move is done: only deleting the originals remains
//
// Every file the walk wrote is on the disk before "E" (each written out as it
// is finished, then one flush of the device), and every move before "C"; each
// line is on the disk before what it describes is done. A last line without
// its end was cut short by a crash and is never acted on; a journal without a
// whole header means nothing was touched yet.
//
// A journal is read only if it is this version's and every line is whole and
// well-formed, every path one a package could name (the entry-name rules):
// one that exists but cannot be read, one of another version and one with any
// other line are refused, and nothing in the folder is touched. A later
// program that changes the format raises the version and must read (and
// finish or undo) every earlier version it meets, since a player may run it
// over a folder that an older one left half done.
//
// Recovery runs before every Full walk into a folder that holds a staging
// folder, and after a failed move: with "C" the set-aside originals are
// deleted (the folder is wholly new); with "E" but no "C" every move is undone
// (wholly old); without "E" nothing was moved and the staged files are
// deleted. Without "C", the new files written in place are deleted too. It is idempotent, so a crash during it is recovered the same way.
// A move that fails is retried; if it still fails the journal stays for the
// next run and the failure names the file and where its original is.
// Originals that cannot be deleted now (the old copy of a running game's
// program) are renamed ".del" and deleted by a later run. A staging folder
// without a journal keeps its ".old" files (an older updater's originals,
// which nothing maps back), so nothing is ever lost by guessing.
//
// In direct mode (the private working folder of a Boot walk) files are written
// in place and nothing is staged.
#pragma once

#include <cstddef>

#include "base/PathRules.h"
#include "services/Messages.h"

// A staged or moved-aside name: the staging folder and a numbered name beside
// a target that may itself use the whole path limit. Staging never shortens the
// limit a package can rely on.
constexpr size_t kStagedPathBuffer = kMaxPath + 64;

// The last write failure of a walk: the file or folder it concerns (as the
// player knows it, never a staged name) and why. A failed roll-back also names
// where the original was left.
struct WriteFailure {
    char path[kStagedPathBuffer];
    char original[kStagedPathBuffer];  // "" unless a roll-back failed
    WriteFailureReason reason;
    // The update stands and only its set-aside original (original) is left
    // to delete: the folder is not as it was.
    bool applied;
};
const WriteFailure* LastWriteFailure();
// The reason the platform gives for this thread's last failed operation.
WriteFailureReason WriteFailureReasonNow();
// Records a failure to write path, with the reason the platform gave.
void NoteWriteFailure(const char* path);
void NoteWriteFailureReason(const char* path, WriteFailureReason reason);

// Starts staging into destination: first recovers what an interrupted run
// left there. Returns 0; kPackageCannotWrite when the staging folder cannot be
// made; kPackageRestoreFailed when an interrupted run cannot be undone yet;
// kPackageFolderBusy, touching nothing, while another updater holds the
// staging folder (package/StagingLock.h). Holds it until the commit or abort.
// Nothing else in the destination changes before the walk.
int BeginStaging(const char* destination, bool direct);

// Takes and lets go of destination's staging folder, the first write of a
// Full walk, leaving nothing of its own behind. Returns 0, or what holding it
// gave (kPackageCannotWrite with the failure noted, kPackageFolderBusy).
// Recovers nothing and never touches a refused folder.
int ProbeStaging(const char* destination);

// Makes sure the folder at path exists, creating it if need be. Returns 0, or
// a package result when a file of that name is in the way.
int StageFolder(const char* path);

// Chooses where the file for target is written and fills writePath (capacity
// bytes, kStagedPathBuffer in Full mode): the target itself in direct mode, a
// staged name otherwise (as PlanFile plans it, never in place).
int StageFile(const char* target, char* writePath, size_t capacity);

// Full mode, before anything is written: records a file entry for target and
// gives its plan number. Refuses, with kPackageCannotReplace, a target that is a
// folder or a read-only file. A later plan for the same target supersedes it.
int PlanFile(const char* target, size_t* plan);
// Ends the planning: a live file whose target does not exist yet is written in
// place under its own name, listed in the journal (on the disk) first so that
// a failure or a crash deletes it again; every other one is staged. Returns 0
// or kPackageCannotWrite.
int FinishPlanning();
// Where the file of a plan is written (capacity bytes). False when it does not fit.
bool PlannedWritePath(size_t plan, char* writePath, size_t capacity);
// True when the file of a plan is new and written in place, created only if
// its name is still free.
bool PlannedInPlace(size_t plan);
// A new file found its name taken when the walk came to create it: the
// journal says so (on the disk) before the walk fails, so that no roll-back
// deletes what took the name. Safe from several threads. Returns 0 or
// kPackageCannotWrite.
int NoteNameTaken(size_t plan);

// Whether the files of a Full walk reach the disk before the originals move
// (on by default). Off only to measure what that costs.
void SetDurableWrites(bool on);
bool DurableWrites();

// Moves every staged file into place, after one flush that puts every file
// the walk wrote out on the disk. Returns 0; kPackageCannotReplace (or
// kPackageCannotWrite) after putting back every original; kPackageRestoreFailed
// when one could not be put back, the journal kept for the next run.
int CommitStaging();

// Undoes the staging before its commit: deletes staged files, removes the
// folders it created and the staging folder. Returns 0, the destination as it
// was before BeginStaging; or kPackageRestoreFailed, the file that could not
// be deleted noted and the journal kept for the next run.
int AbortStaging();

// Finishes or undoes what an interrupted commit left in destination, as the
// journal says. Returns 0 (no staging folder counts); kPackageRestoreFailed:
// a file could not be put back or deleted (it is noted, the journal kept), or
// the journal is refused (the staging folder is noted, nothing touched); or
// kPackageFolderBusy, touching nothing, while another updater holds it.
int RecoverStaging(const char* destination);
