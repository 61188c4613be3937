// The pack command: copies an updater image, appends a package built from a
// folder (or from a list of paths under it) and the trailer, and refuses,
// before anything is written, a package that the updater would reject or
// mis-handle, an install.env it would refuse to start with included (the
// check command's warnings are passed on). The output appears under its name
// only once it is complete.
//
// Entry order: the top-level start-up files first (Boot mode reads only the
// top of the package), then every folder ("save\"), parents before children,
// then every other file; names compared without letter case.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/SettingsCheck.h"

// What pack did; every value but kPackDone names its entry in the report.
enum PackRefusal {
    kPackDone = 0,
    kPackCannotReadImage,   // the updater image cannot be read
    kPackNotTheUpdater,     // the updater image is not a Windows program, or not this updater
    kPackCannotReadSource,  // the source folder, the list file or a file in it cannot be read
    kPackBadListLine,       // a list line that is not UTF-8, has no Shift-JIS form, or names nothing
    kPackBadName,           // a name the updater refuses (too long, device name, trailing dot...)
    kPackNoShiftJis,        // a file or folder whose name has no exact Shift-JIS form
    kPackReservedName,      // a top-level name beginning with the updater's staging folder name
    kPackCaseClash,         // two names that differ only in ASCII letter case
    kPackStartupInFolder,   // a start-up-pattern file inside a folder, which Boot mode cannot make
    kPackNoInstallEnv,      // no top-level install.env, without which the updater cannot start
    kPackSettingsError,     // the install.env check found an error: the updater would refuse to start
    kPackFileTooLarge,      // a file of 2 GiB or more
    kPackStreamTooLarge,    // a file under 2 GiB whose compressed (or stored) stream would pass 2 GiB
    kPackPackageTooLarge,   // the package, or the image before it, would reach 2 GiB
    kPackCannotWrite,       // the output cannot be written or put in place
    kPackPictureClash,      // the background picture twice: insttscr.rct and insttscr.png/.bmp/.ppm, or two of those
    kPackSourceHoldsPatch,  // a file in the source carries a package: an earlier output or another patch
    kPackNoPicture,         // no background picture at the top: every start would stop in the read-error box
    kPackBadPicture,        // an insttscr.png, .bmp or .ppm that cannot become RCT, or an insttscr.rct the updater cannot show
    kPackBadDelta,          // a delta file (tools/DeltaFiles.h) that is damaged, for a start-up file, or beside its file whole
};

// The updater reads sizes and offsets below 2^31.
constexpr int64_t kPackLimit = 0x7FFFFFFF;
// The level a maker gets without asking: the package is written once and read often.
constexpr int kDefaultPackLevel = 9;

struct PackRequest {
    std::string updater;   // Shift-JIS paths
    std::string output;
    std::string source;
    std::string listFile;  // "" packs the whole source folder
    int level;             // zlib level 0-9
    int64_t packageLimit;  // kPackLimit; tests lower it to reach the limit cheaply
    FILE* progress;        // the terminal that shows a progress line, or null
    unsigned workers = 0;  // compressing threads: 0 for one per core, 1 for none besides the writer
};

struct PackReport {
    PackRefusal refusal;
    std::string entry;    // the entry, file or list line concerned, as UTF-8
    std::string other;    // the second name of a case clash
    std::string detail;   // why a name is bad
    int files;
    int folders;
    int64_t imageBytes;   // the updater image copied
    int64_t packageBytes; // package and trailer appended
    int replacedEntries;  // entries of a package the image already carried, or -1
    bool droppedSignature;  // the image was signed; the output carries no certificate table
    std::vector<CheckFinding> settingsFindings;  // the install.env check, warnings included
    std::vector<std::string> warnings;  // UTF-8: what packs but may not be what the maker meant
};

// Builds the output as the request says, ending it on a multiple of
// kCertificateAlignment so that signing it adds no padding. Returns the refusal (kPackDone on
// success); on failure the output is untouched and no temporary file stays.
PackRefusal PackUpdater(const PackRequest& request, PackReport* report);

// The report as one line for the maker, without a final newline.
std::string DescribePackReport(const PackReport& report);

// Runs pack and prints the install.env findings and the outcome. Returns the
// exit code, 0 or 1.
int PackCommand(const PackRequest& request, FILE* out, FILE* err);
