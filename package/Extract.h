// Walks the package into a destination folder: Boot mode takes only the
// start-up files into the working folder; Full mode writes every entry into
// the install folder behind the copy progress window, staged so that a damaged
// package leaves the install folder as it was.
#pragma once

#include <cstdint>
#include <cstdio>

#include "package/CopyProgress.h"
#include "package/PackageFormat.h"

// Which entries a walk takes, and how.
enum ExtractMode {
    kFullMode = 0,  // every entry, staged, behind the copy progress window
    kBootMode = 1,  // the start-up files only, written in place
};

// How an extraction of the running program's package ended.
enum ExtractResult {
    kExtractDone = 0,   // every entry is in the destination
    kExtractDamaged,    // the package could not be read whole; nothing was told yet
    kExtractCancelled,  // the user chose Cancel after a write failure; the folder is as it was
    kExtractSourceMismatch,  // an installed file a delta applies to is another; nothing was written or told
};

// Walks an opened package (positioned at its first entry) into destination.
// sink may be null. Returns kPackageOk or the first failure; in Full mode a
// failure leaves destination as it was.
int WalkPackage(PackageStream* package, const char* destination, ExtractMode mode, const ProgressSink* sink);

// How many threads a Full walk inflates on: 0 for one per core (the
// default), 1 for a walk in order on the calling thread alone.
void SetExtractWorkers(unsigned count);

// Name of the entry a failed walk stopped at ("" when it failed before one).
const char* LastFailedEntry();

// Before a Full walk: whether destination refuses this process the first
// write a walk makes there (its staging folder and lock file) for lack of
// permission. Takes and lets go of the staging folder; nothing stays written,
// and a refused folder is left untouched. Any other outcome (the folder takes
// writes, another updater holds it, another failure) gives false: the walk
// itself then meets and tells it.
bool DestinationRefusesWrites(const char* destination);

// Extracts the package appended to the running program. A Full walk that
// could not write into the destination (the folder is then as it was) asks
// why in a Retry/Cancel box: Retry walks again, Cancel gives
// kExtractCancelled. An installed file that a delta cannot apply to gives
// kExtractSourceMismatch (LastFailedEntry names it). Every other failure gives kExtractDamaged. The progress
// window is closed on return; nothing else is told and the program goes on.
ExtractResult ExtractPackage(const char* destination, ExtractMode mode);
