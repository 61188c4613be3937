// The tool's open files: a holder that closes a file on every path out of a
// function, and the one close that tells whether a written file is whole.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
    // Closes file; the result is lost, so only for files read or abandoned.
    void operator()(FILE* file) const { fclose(file); }
};

// Owns one FILE*, closed when the holder goes out of scope.
using FileHolder = std::unique_ptr<FILE, FileCloser>;

// Closes a file that was written and empties the holder. Returns false when
// the close failed, since the last buffered bytes may not have reached it.
inline bool CloseWrittenFile(FileHolder* file) { return fclose(file->release()) == 0; }
