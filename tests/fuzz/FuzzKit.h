// What the fuzz targets share: a scratch folder of the process, the check
// that turns a broken promise into a fault libFuzzer reports, and a way to
// split one input into several fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/TempFolder.h"

// Ends the run with a report when a parser broke one of its promises, so that
// libFuzzer keeps the input as it keeps a crash.
void FuzzCheck(bool holds, const char* promise);

// An emptied folder of this process under the temporary folder, the same
// one on every call, removed at exit. Shift-JIS path with '\'.
const std::string& ScratchFolder();
// Empties the scratch folder.
void ClearScratch();

// The entries of snapshot whose names do not begin with prefix.
TreeSnapshot SnapshotWithout(const TreeSnapshot& snapshot, const std::string& prefix);

// Takes the input apart field by field: each field ends at the next
// separator byte or at the end of the input.
struct FuzzFields {
    const uint8_t* data;
    size_t size;
    size_t position;
};
void InitFields(FuzzFields* fields, const uint8_t* data, size_t size);
// The next field, at most limit bytes (a longer one is cut; the rest skipped).
std::string NextField(FuzzFields* fields, uint8_t separator, size_t limit);
// Whatever remains.
std::string RestOfInput(FuzzFields* fields);
