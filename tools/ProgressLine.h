// One line of progress for the tool's long work, redrawn in place on a
// terminal:
//
//   packing  1204/3400 files  512.0/1843.2 MiB  38.5 MiB/s  0:35 left
//
// It is drawn at most every kProgressRedrawMs, first after that long, so quick
// work shows nothing, and it is wiped when the work ends. Nothing is drawn
// when the stream is not a terminal or the maker asked for quiet: output that
// goes to a file or a pipe stays clean.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Redrawing more often than this only makes the terminal flicker.
constexpr uint32_t kProgressRedrawMs = 200;

struct ProgressLine {
    FILE* out;          // the terminal, or null: nothing is drawn
    const char* verb;   // "packing", "comparing", "extracting"
    int64_t totalFiles;
    int64_t totalBytes;
    int64_t files;
    int64_t bytes;
    uint32_t startTick;
    uint32_t lastDrawTick;
    size_t drawnWidth;  // characters on the line now; 0 when nothing is drawn
};

// The stream progress goes to: err when it is a terminal and quiet is false,
// otherwise null.
FILE* ProgressStream(FILE* err, bool quiet);

// Starts a line that draws on out, or a silent one when out is null.
void BeginProgress(ProgressLine* line, FILE* out, const char* verb, int64_t totalFiles, int64_t totalBytes);

// Records how far the work is and redraws when kProgressRedrawMs have passed.
void SetProgress(ProgressLine* line, int64_t files, int64_t bytes);

// Replaces the millisecond clock the lines read (PlatformTickCount), so that
// tests can make every step a redraw; null restores it.
void SetProgressClockForTesting(uint32_t (*clock)());

// Wipes the line if one is drawn; the line can then be begun again.
void EndProgress(ProgressLine* line);

// The text of the line (no control characters) for the work done after
// elapsedMs milliseconds. Rate and time left show as "--" until there is
// something to measure.
std::string FormatProgress(const char* verb, int64_t files, int64_t totalFiles, int64_t bytes, int64_t totalBytes,
                           uint32_t elapsedMs);
