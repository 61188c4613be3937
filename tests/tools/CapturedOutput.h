// What a command printed into a temporary file standing in for its output.
#pragma once

#include <cstdio>
#include <string>

// Everything written to file so far, read from its start.
inline std::string ReadAll(FILE* file) {
    std::string text;
    rewind(file);
    char block[1024];
    for (size_t got; (got = fread(block, 1, sizeof(block), file)) > 0;) text.append(block, got);
    return text;
}
