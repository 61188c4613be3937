// How the patch folder holds a delta: beside where the whole file would be,
// under its name with kDeltaFileSuffix ("data\game.arc.patchdelta"), as
//
//   8 bytes  "VDELTA\r\x1A"     magic
//   72 bytes the delta entry's fields (package/DeltaEntry.h): the released
//            file's size and SHA-256, the new file's size and SHA-256
//   the rest the VCDIFF delta from the released file to the new one
//
// with the new file's last-write time. diff writes them; pack carries each as
// a delta entry named without the suffix, after checking it as verify does.
//
// diff's rule: a changed file of kMinDeltaFile bytes or more that is not a
// start-up file ships as a delta when its delta, deflated, is under half of
// the whole file deflated; otherwise, and for every other file, whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/DeltaEntry.h"

constexpr const char* kDeltaFileSuffix = ".patchdelta";
constexpr size_t kDeltaFileMagicSize = 8;
constexpr uint8_t kDeltaFileMagic[kDeltaFileMagicSize] = {'V', 'D', 'E', 'L', 'T', 'A', '\r', 0x1A};
constexpr size_t kDeltaFileHeaderSize = kDeltaFileMagicSize + kDeltaFieldsSize;
// Smaller changed files always ship whole: a delta would save little.
constexpr int64_t kMinDeltaFile = 64 * 1024;
// A delta is kept when deflated it is below the whole file deflated divided by this.
constexpr int64_t kDeltaGainFactor = 2;
// The rule as the maker reads it.
constexpr const char* kDeltaRuleText =
    "a changed file of 64 KiB or more ships as a delta when its delta, deflated, is under half of the file "
    "deflated";

// True when a patch folder's file name ends in kDeltaFileSuffix (any letter case).
bool IsDeltaFileName(const std::string& name);
// The entry name a delta file makes: its name without the suffix.
std::string DeltaTargetName(const std::string& name);

enum DeltaFileProblem {
    kDeltaFileOk = 0,
    kDeltaFileCannotRead,
    kDeltaFileBadHeader,  // no magic, fields cut short, or a size of 2^31 or more
    kDeltaFileBadDelta,   // the VCDIFF is damaged, unreadable here, or makes another size
};
const char* DescribeDeltaFileProblem(DeltaFileProblem problem);

// Reads and checks a delta file: its header, and that its VCDIFF is sound and
// makes exactly the target size from a source of the source size.
DeltaFileProblem ReadDeltaFile(const std::string& path, DeltaFields* fields, std::vector<uint8_t>* vcdiff);

// Adds the delta entry name made from the delta file at path, its delta
// deflated at the writer's level. A package result; kPackageTruncated when
// the file cannot be read or is no longer sound.
int AddDeltaFileEntry(PackageWriter* writer, const char* name, const std::string& path, uint64_t fileTime);

// Checks a VCDIFF delta against the sizes alone: applied to a source of
// zeros it must make exactly fields.targetSize bytes. A VcdiffResult.
int CheckDeltaShape(const uint8_t* vcdiff, size_t size, const DeltaFields& fields);

// What diff chose for one changed file, deflated sizes in bytes.
struct DeltaChoice {
    bool asDelta;
    int64_t deltaBytes;  // the delta deflated
    int64_t wholeBytes;  // the file deflated, or at least this when the count stopped once the delta had won
    bool wholeAtLeast;
};

// One line of diff's summary for a changed file (printable name): whole or
// as a delta, and its bytes; choice null when no delta was tried.
std::string DescribeShipping(const std::string& name, int64_t size, const DeltaChoice* choice);

// Makes the delta from the file at oldPath to that at newPath and applies the
// rule; when the delta wins, writes it as a delta file at deltaPath with
// time. Returns false when a file cannot be read or the delta file written.
bool MakeDeltaFile(const std::string& oldPath, const std::string& newPath, const std::string& deltaPath,
                   uint64_t time, DeltaChoice* choice, bool* readFailed);
