// What decides the extraction benchmark's figures: the payloads it packs, the
// plain extractor it measures the updater against, and how repeated timings
// become one figure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/Extract.h"

enum PayloadKind { kRandomData, kTextData, kPictureData, kStartupData };

struct PayloadFile {
    std::string name;  // '\' separated, ASCII
    PayloadKind kind;
    size_t size;
    uint64_t seed;
};

struct Payload {
    std::vector<std::string> folders;  // parents before children
    std::vector<PayloadFile> files;    // start-up files first
    int64_t bytes;
};

// A maker's typical large update: about bytes in fileCount files of 4 KiB to
// 4 MiB (log-uniform, then scaled to the total), after three start-up files.
Payload MakeMixedPayload(int64_t bytes, int fileCount);

// Many small files: fileCount files between smallest and largest bytes whose
// sizes add up to about bytes (uniform over a range narrowed on one side to
// reach that mean), after the same start-up files.
Payload MakeSmallFilesPayload(int64_t bytes, int fileCount, size_t smallest, size_t largest);

// The bytes of one payload file, the same for the same file every time.
void GeneratePayloadFile(const PayloadFile& file, std::vector<uint8_t>* out);

// The package path written as a path of this system: '\' becomes '/'.
std::string NativePath(const std::string& path);

// A plain streaming extractor: the package behind the program image is read
// in 128 KiB chunks, each file inflated through a 128 KiB buffer and written
// under destination in place; no staging, no times. With destination empty
// it inflates only. False when the package is damaged or a file cannot be
// written.
bool MinimalExtract(const std::string& program, const std::string& destination);

// The median of the timings; a negative timing (a failed run) makes it -1,
// and so does an empty list.
double MedianSeconds(std::vector<double> seconds);

// A figure over the reference figure, or -1 when either is missing.
double Ratio(double seconds, double reference);

// Whether a ratio meets its target: "met", "not met", or "n/a" when missing.
const char* TargetVerdict(double ratio, double target);

// The updater's Full- or Boot-mode walk of a package file (staging
// included). Returns seconds, or -1 with the failure told on standard error.
double TimeWalk(const std::string& package, const std::string& destination, ExtractMode mode);

// One Full walk in a process of its own.
struct WalkFigures {
    double seconds;  // the walk alone; -1 when it failed
    long peakKiB;    // the process's peak resident set; -1 when unknown
};

// Runs one Full walk of package onto destination in a fresh process: this
// program again, with --walk PACKAGE DESTINATION, which its main hands to
// WalkAndTell. A forked child would carry this process's pages into its
// figure, and the peak survives exec, so the walk's process reports its own.
// An empty package name gives the process without a walk.
WalkFigures WalkInFreshProcess(const std::string& package, const std::string& destination);

// The --walk mode: one Full walk (none for an empty package name), then its
// seconds and the process's peak resident set in KiB on standard output.
// Returns the process's exit code.
int WalkAndTell(const std::string& package, const std::string& destination);
