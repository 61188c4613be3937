// Walks the package into a destination folder: Boot mode takes only the
// start-up files into the working folder; Full mode writes every entry into
// the install folder behind the copy progress window, staged so that a damaged
// package leaves the install folder as it was.
#pragma once

#include <cstdint>
#include <cstdio>

#include "package/CopyProgress.h"
#include "package/PackageFormat.h"

enum ExtractMode { kFullMode = 0, kBootMode = 1 };

// The message for a damaged package.
constexpr const char* kDamagedPackageMessage =
    "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";

// Walks an opened package (positioned at its first entry) into destination.
// sink may be null. Returns kPackageOk or the first failure; in Full mode a
// failure leaves destination as it was.
int WalkPackage(PackageStream* package, const char* destination, int mode, const ProgressSink* sink);

// How many threads a Full walk inflates on: 0 for one per core (the
// default), 1 for a walk in order on the calling thread alone.
void SetExtractWorkers(unsigned count);

// Name of the entry a failed walk stopped at ("" when it failed before one).
const char* LastFailedEntry();

// Extracts the package appended to the running program. Returns only on
// success. A Full walk that could not write into the destination (the folder
// is then as it was) says why in a Retry/Cancel box: Retry walks again, Cancel
// ends the program through EndProgram(-1). Every other failure closes the
// progress window, shows the damaged-package message and ends the same way.
void ExtractPackage(const char* destination, int mode);
