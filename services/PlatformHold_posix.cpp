// POSIX side of the held file: an exclusive flock(2) on it. Deleting a file
// does not wait for its lock here, so the holder deletes it before letting go,
// and a taker checks that the file it locked is still the one of that name.
#include "services/PlatformHold.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "services/Platform.h"

namespace {
// Tries when the file was deleted by its last holder between the open and the lock.
constexpr int kHoldAttempts = 3;

bool SameFile(FILE* a, FILE* b) {
    struct stat sa, sb;
    return fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}
}  // namespace

struct PlatformHold {
    FILE* file;
    std::string path;
};

PlatformHoldResult PlatformHoldFile(const char* path, PlatformHold** hold) {
    for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
        FILE* file = PlatformOpenFile(path, "ab");
        if (file == nullptr) return kHoldFailed;
        if (flock(fileno(file), LOCK_EX | LOCK_NB) != 0) {
            bool busy = errno == EWOULDBLOCK;
            fclose(file);
            return busy ? kHoldBusy : kHoldFailed;
        }
        FILE* named = PlatformOpenFile(path, "rb");
        bool same = named != nullptr && SameFile(file, named);
        if (named != nullptr) fclose(named);
        if (!same) {
            fclose(file);
            continue;
        }
        PlatformHold* held = new (std::nothrow) PlatformHold{file, path};
        if (held == nullptr) {
            fclose(file);
            return kHoldFailed;
        }
        *hold = held;
        return kHoldTaken;
    }
    return kHoldFailed;
}

void PlatformReleaseHold(PlatformHold* hold) {
    if (hold == nullptr) return;
    // A dead process leaves its file here: the next holder deletes it.
    if (!PlatformChangesStopped()) PlatformDeleteFile(hold->path.c_str());
    fclose(hold->file);
    delete hold;
}
