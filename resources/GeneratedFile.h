// Shared by the resource generators: writing what they built, removing a
// half-written file on failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Writes bytes to path. Returns the generator's exit code: 0, or 1 after a
// message naming tool when the file cannot be created or written.
inline int WriteGeneratedFile(const char* tool, const char* path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr) {
        fprintf(stderr, "%s: cannot create %s\n", tool, path);
        return 1;
    }
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (fclose(file) != 0) written = false;
    if (!written) {
        fprintf(stderr, "%s: cannot write %s\n", tool, path);
        remove(path);
        return 1;
    }
    return 0;
}
