// POSIX side of the platform interface, for the makers' tool and the native
// tests. Shift-JIS paths become UTF-8 through iconv, and '\' becomes '/' after
// the conversion, where no second byte of a character can be mistaken for it.
#include "services/Platform.h"

#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

#include "services/PlatformFault.h"

namespace {

// Room for a 260-byte Shift-JIS path once it is UTF-8 (at most 3 bytes a character).
constexpr size_t kNativePathBuffer = 1024;
// A file written out on its own once it holds this much; a smaller one waits
// for the volume's flush.
constexpr off_t kWriteOutAlone = 1 << 20;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000;
// The latest time a Windows file time holds: its signed 64-bit maximum.
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;
constexpr int64_t kMaxFileTimeSeconds = static_cast<int64_t>(kMaxFileTime / kTicksPerSecond);

bool Convert(const char* from, const char* to, const char* in, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    size_t inLeft = strlen(in);
    char* inPtr = const_cast<char*>(in);
    char buffer[kNativePathBuffer];
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer) - 1;
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
    out->assign(buffer, static_cast<size_t>(outPtr - buffer));
    return true;
}

bool ToNative(const char* sjis, std::string* out) {
    if (!Convert("CP932", "UTF-8", sjis, out)) return false;
    for (char& c : *out)
        if (c == '\\') c = '/';
    return true;
}

bool FromNative(const char* utf8, char* buffer, size_t capacity) {
    std::string s;
    if (!Convert("UTF-8", "CP932", utf8, &s)) return false;
    if (s.size() + 1 > capacity) return false;
    // The '/' separators of a native path stay: only the program's own joins
    // add '\', and the rules accept both.
    memcpy(buffer, s.c_str(), s.size() + 1);
    return true;
}

uint32_t ModeToAttributes(mode_t mode) {
    uint32_t a = 0;
    if (S_ISDIR(mode)) a |= kAttrFolder;
    if ((mode & S_IWUSR) == 0) a |= kAttrReadOnly;
    return a;
}

}  // namespace

struct PlatformFind {
    DIR* dir;
    std::string folder;   // native folder, with a final '/' or empty
    std::string pattern;  // native pattern of the last component
};

FILE* PlatformOpenFile(const char* path, const char* mode) {
    if (mode[0] != 'r' && !PlatformChangeAllowed()) return nullptr;
    std::string n;
    if (!ToNative(path, &n)) return nullptr;
    // Windows refuses to replace a read-only file; root on POSIX would not.
    if (mode[0] == 'w' || mode[0] == 'a') {
        struct stat st;
        if (stat(n.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
            errno = EACCES;
            return nullptr;
        }
    }
    FILE* file = fopen(n.c_str(), mode);
    if (mode[0] != 'r') NoteOpenedForWriting(file, path, mode[0] == 'a');
    return file;
}

FILE* PlatformCreateNewFile(const char* path) {
    if (!PlatformChangeAllowed()) return nullptr;
    std::string n;
    if (!ToNative(path, &n)) return nullptr;
    int fd = open(n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(n.c_str());
        return nullptr;
    }
    NoteOpenedForWriting(file, path, false);
    return file;
}

PlatformWriteOut PlatformStartWriteOut(FILE* file) {
    if (!PlatformChangeAllowed()) return kWriteOutFailed;
    if (fflush(file) != 0) return kWriteOutFailed;
    // Starts the write-out of every dirty page and waits for none of it. The
    // one syncfs that follows writes every dirty page of the file system, so
    // a small file is left to it: it then goes out with its neighbours in
    // fewer, larger requests than one of its own.
    off_t written = lseek(fileno(file), 0, SEEK_CUR);
    if (written >= kWriteOutAlone && sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE) != 0)
        return errno == ENOSYS ? kWriteOutUnavailable : kWriteOutFailed;
    NoteWrittenOut(file);
    return kWriteOutStarted;
}

int PlatformFlushWrittenOut(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    std::string n;
    if (!ToNative(path, &n)) return 1;
    int fd = open(n.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    // The whole file system: every file written out and every rename on it.
    bool ok = syncfs(fd) == 0;
    close(fd);
    if (ok) NoteVolumeFlushed();
    return ok ? 0 : 1;
}

size_t PlatformReadAt(FILE* file, void* out, size_t count, int64_t offset) {
    size_t done = 0;
    while (done < count) {
        ssize_t got = pread(fileno(file), static_cast<char*>(out) + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

const uint8_t* PlatformMapFile(FILE* file, size_t size) {
    // The pages come straight from the file cache, neither zeroed nor copied.
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(file), 0);
    return view == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(view);
}

void PlatformUnmapFile(const uint8_t* view, size_t size) {
    if (view != nullptr) munmap(const_cast<uint8_t*>(view), size);
}

int PlatformSeek(FILE* file, int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0 ? 0 : 1;
}

int64_t PlatformTell(FILE* file) { return static_cast<int64_t>(ftello(file)); }

int PlatformGetCurrentFolder(char* buffer, size_t capacity) {
    char native[kNativePathBuffer];
    if (getcwd(native, sizeof(native)) == nullptr) return 1;
    return FromNative(native, buffer, capacity) ? 0 : 1;
}

int PlatformSetCurrentFolder(const char* path) {
    std::string n;
    if (!ToNative(path, &n)) return 1;
    return chdir(n.c_str()) == 0 ? 0 : 1;
}

int PlatformGetTempPath(char* buffer, size_t capacity) {
    const char* t = getenv("TMPDIR");
    std::string s = (t != nullptr && *t != '\0') ? t : "/tmp";
    if (s.back() != '/') s += '/';
    return FromNative(s.c_str(), buffer, capacity) ? 0 : 1;
}

FILE* PlatformOpenProgramFile() {
    // Tests of the start-up and update flows name the program file whose
    // package they extract, as a program path; a native program carries none
    // of its own.
    const char* program = getenv("UPDATER_PROGRAM_FILE");
    if (program != nullptr && *program != '\0') return PlatformOpenFile(program, "rb");
    return fopen("/proc/self/exe", "rb");
}

int PlatformCreateFolder(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    std::string n;
    if (!ToNative(path, &n)) return 1;
    // A folder without write permission refuses a user; root on POSIX would not be.
    size_t slash = n.find_last_of('/', n.size() > 1 ? n.size() - 2 : 0);
    struct stat st;
    if (slash != std::string::npos && stat(slash == 0 ? "/" : n.substr(0, slash).c_str(), &st) == 0 &&
        (st.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        return 1;
    }
    return mkdir(n.c_str(), 0777) == 0 ? 0 : 1;
}

int PlatformRemoveFolder(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    std::string n;
    if (!ToNative(path, &n)) return 1;
    return rmdir(n.c_str()) == 0 ? 0 : 1;
}

bool PlatformPrepareSignalDelete(const char* path, char* buffer, size_t capacity) {
    std::string n;
    if (!ToNative(path, &n) || n.size() + 1 > capacity) return false;
    memcpy(buffer, n.c_str(), n.size() + 1);
    return true;
}

void PlatformDeleteFromSignal(const char* prepared) { unlink(prepared); }

int PlatformDeleteFile(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    std::string n;
    if (!ToNative(path, &n)) return 1;
    struct stat st;
    if (lstat(n.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 1;
    if ((st.st_mode & S_IWUSR) == 0) return 1;  // as Windows: read-only stays
    if (unlink(n.c_str()) != 0) return 1;
    NoteDeleted(path);
    return 0;
}

int PlatformMoveFile(const char* from, const char* to) {
    if (!PlatformChangeAllowed()) return 1;
    std::string a, b;
    if (!ToNative(from, &a) || !ToNative(to, &b)) return 1;
    struct stat st;
    if (lstat(b.c_str(), &st) == 0) return 1;
    if (rename(a.c_str(), b.c_str()) != 0) return 1;
    NoteMoved(from, to);
    return 0;
}

int PlatformGetAttributes(const char* path, uint32_t* attributes) {
    std::string n;
    if (!ToNative(path, &n)) return 1;
    struct stat st;
    if (stat(n.c_str(), &st) != 0) return 1;
    *attributes = ModeToAttributes(st.st_mode);
    return 0;
}

int PlatformSetAttributes(const char* path, uint32_t attributes) {
    if (!PlatformChangeAllowed()) return 1;
    std::string n;
    if (!ToNative(path, &n)) return 1;
    struct stat st;
    if (stat(n.c_str(), &st) != 0) return 1;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? (mode & ~0222) : (mode | S_IWUSR);
    return chmod(n.c_str(), mode) == 0 ? 0 : 1;
}

int PlatformSetFileTime(const char* path, uint64_t fileTime) {
    if (!PlatformChangeAllowed()) return 1;
    std::string n;
    if (!ToNative(path, &n)) return 1;
    // Unsigned until the epoch shift: every 64-bit file time is a second
    // count far inside time_t, but not a tick count inside int64_t.
    int64_t sec = static_cast<int64_t>(fileTime / kTicksPerSecond) - kEpochDifference;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(sec);
    times[1].tv_nsec = static_cast<long>(fileTime % kTicksPerSecond) * 100;
    return utimensat(AT_FDCWD, n.c_str(), times, 0) == 0 ? 0 : 1;
}

int PlatformGetFileTime(const char* path, uint64_t* fileTime) {
    std::string n;
    if (!ToNative(path, &n)) return 1;
    struct stat st;
    if (stat(n.c_str(), &st) != 0) return 1;
    // Times outside what a Windows file time holds (before 1601, or at and
    // beyond 2^63 ticks) are clamped to its ends rather than wrapped.
    int64_t sec = static_cast<int64_t>(st.st_mtim.tv_sec);
    if (sec < -kEpochDifference) {
        *fileTime = 0;
    } else if (sec - kMaxFileTimeSeconds > -kEpochDifference) {
        *fileTime = kMaxFileTime;
    } else {
        uint64_t ticks = static_cast<uint64_t>(sec + kEpochDifference) * kTicksPerSecond +
                         static_cast<uint64_t>(st.st_mtim.tv_nsec / 100);
        *fileTime = ticks > kMaxFileTime ? kMaxFileTime : ticks;
    }
    return 0;
}

static bool NextMatch(PlatformFind* find, PlatformFindData* data) {
    for (;;) {
        struct dirent* e = readdir(find->dir);
        if (e == nullptr) return false;
        if (fnmatch(find->pattern.c_str(), e->d_name, FNM_CASEFOLD) != 0) continue;
        if (!FromNative(e->d_name, data->name, sizeof(data->name))) continue;
        std::string full = find->folder + e->d_name;
        struct stat st;
        if (stat(full.c_str(), &st) != 0) continue;
        data->attributes = ModeToAttributes(st.st_mode);
        return true;
    }
}

PlatformFind* PlatformFindFirst(const char* pattern, PlatformFindData* data) {
    std::string n;
    if (!ToNative(pattern, &n)) return nullptr;
    size_t slash = n.rfind('/');
    PlatformFind* find = new (std::nothrow) PlatformFind;
    if (find == nullptr) return nullptr;
    find->folder = slash == std::string::npos ? "" : n.substr(0, slash + 1);
    find->pattern = slash == std::string::npos ? n : n.substr(slash + 1);
    // Windows matches "*.*" against every name, dotless ones included.
    if (find->pattern == "*.*") find->pattern = "*";
    find->dir = opendir(find->folder.empty() ? "." : find->folder.c_str());
    if (find->dir == nullptr || !NextMatch(find, data)) {
        PlatformFindClose(find);
        return nullptr;
    }
    return find;
}

int PlatformFindNext(PlatformFind* find, PlatformFindData* data) {
    return NextMatch(find, data) ? 0 : 1;
}

void PlatformFindClose(PlatformFind* find) {
    if (find == nullptr) return;
    if (find->dir != nullptr) closedir(find->dir);
    delete find;
}

uint32_t PlatformTickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

struct PlatformLock {
    pthread_mutex_t mutex;
};

PlatformLock* PlatformCreateLock() {
    PlatformLock* lock = new (std::nothrow) PlatformLock;
    if (lock != nullptr) pthread_mutex_init(&lock->mutex, nullptr);
    return lock;
}

void PlatformEnterLock(PlatformLock* lock) { pthread_mutex_lock(&lock->mutex); }
void PlatformLeaveLock(PlatformLock* lock) { pthread_mutex_unlock(&lock->mutex); }

void PlatformDeleteLock(PlatformLock* lock) {
    if (lock == nullptr) return;
    pthread_mutex_destroy(&lock->mutex);
    delete lock;
}

int PlatformGetWindowsFolder(char* buffer, size_t capacity) {
    const char* folder = getenv("UPDATER_WINDOWS_FOLDER");
    std::string s = folder != nullptr && *folder != '\0' ? folder : "C:\\WINDOWS";
    if (s.size() + 1 > capacity) return 1;
    memcpy(buffer, s.c_str(), s.size() + 1);
    return 0;
}

int PlatformDriveType(const char* root) {
    const char* cd = getenv("UPDATER_CDROM_DRIVE");
    if (cd != nullptr && *cd != '\0' && (root[0] == cd[0] || root[0] == cd[0] - 'a' + 'A')) return kDriveCdRom;
    return 1;
}

int PlatformReplaceFile(const char* from, const char* to) {
    if (!PlatformChangeAllowed()) return 1;
    std::string a, b;
    if (!ToNative(from, &a) || !ToNative(to, &b)) return 1;
    struct stat st;
    if (lstat(b.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) return 1;
    int fd = open(a.c_str(), O_RDONLY);
    if (fd < 0) return 1;
    bool flushed = fsync(fd) == 0;
    close(fd);
    if (!flushed || rename(a.c_str(), b.c_str()) != 0) return 1;
    NoteDeleted(from);
    // The rename reaches the disk with its folder.
    size_t slash = b.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : b.substr(0, slash));
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

int PlatformSjisToUtf16(const char* text, uint16_t* units, size_t capacity, size_t* count) {
    *count = 0;
    std::string wide;
    if (!Convert("CP932", "UTF-16LE", text, &wide) || wide.size() / 2 > capacity) return 1;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        units[i / 2] = static_cast<uint16_t>(static_cast<uint8_t>(wide[i]) | static_cast<uint8_t>(wide[i + 1]) << 8);
    *count = wide.size() / 2;
    return 0;
}

int PlatformFlushFile(FILE* file) {
    if (!PlatformChangeAllowed()) return 1;
    if (fflush(file) != 0 || fsync(fileno(file)) != 0) return 1;
    NoteFlushed(file);
    return 0;
}

void PlatformSleep(uint32_t milliseconds) {
    if (PlatformChangesStopped()) return;
    struct timespec t = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
    nanosleep(&t, nullptr);
}

PlatformError PlatformLastError() {
    switch (errno) {
        case ETXTBSY:
        case EBUSY: return kPlatformErrorInUse;
        case EACCES:
        case EPERM:
        case EROFS: return kPlatformErrorDenied;
        case ENOSPC:
        case EDQUOT: return kPlatformErrorDiskFull;
        default: return kPlatformErrorOther;
    }
}

int PlatformFreeBytes(const char* path, uint64_t* bytes) {
    std::string n;
    if (!ToNative(path, &n)) return 1;
    struct statvfs st;
    if (statvfs(n.c_str(), &st) != 0) return 1;
    *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return 0;
}
