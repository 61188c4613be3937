#include "tests/fuzz/FuzzKit.h"

#include <cstdio>
#include <cstdlib>

void FuzzCheck(bool holds, const char* promise) {
    if (holds) return;
    fprintf(stderr, "==fuzz== broken promise: %s\n", promise);
    fflush(stderr);
    abort();
}

const std::string& ScratchFolder() {
    static TempFolder s_folder;
    return s_folder.Path();
}

void ClearScratch() {
    const std::string& folder = ScratchFolder();
    for (const std::string& name : ListFolder(folder)) RemoveTree(folder + "\\" + name);
}

TreeSnapshot SnapshotWithout(const TreeSnapshot& snapshot, const std::string& prefix) {
    TreeSnapshot kept;
    for (const auto& entry : snapshot)
        if (entry.first.compare(0, prefix.size(), prefix) != 0) kept.insert(entry);
    return kept;
}

void InitFields(FuzzFields* fields, const uint8_t* data, size_t size) {
    fields->data = data;
    fields->size = size;
    fields->position = 0;
}

std::string NextField(FuzzFields* fields, uint8_t separator, size_t limit) {
    std::string field;
    while (fields->position < fields->size) {
        uint8_t byte = fields->data[fields->position++];
        if (byte == separator) break;
        if (field.size() < limit) field += static_cast<char>(byte);
    }
    return field;
}

std::string RestOfInput(FuzzFields* fields) {
    std::string rest(reinterpret_cast<const char*>(fields->data) + fields->position, fields->size - fields->position);
    fields->position = fields->size;
    return rest;
}

// The retries' pauses, linked in place of the platform's (see CMakeLists.txt).
extern "C" void __wrap__Z13PlatformSleepj(uint32_t) {}
