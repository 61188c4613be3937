// Windows side of the platform interface: every name goes through the W
// functions after an explicit code page 932 conversion.
#include "services/Platform.h"

#include <windows.h>
#include <mmsystem.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <new>
#include <string>

#include "services/PlatformFault.h"
#include "services/TextCodec_win32.h"
#include "services/WidePath_win32.h"

namespace {

constexpr size_t kWidePath = kWidePathBuffer;

struct WidePath {
    wchar_t text[kWidePath];
    bool ok;
    explicit WidePath(const char* path) { ok = ToWidePath(path, text, kWidePath); }
};

// A path the system reported: exact, or by its short form, or a failure.
int FromWide(const wchar_t* wide, char* buffer, size_t capacity) {
    return SystemPathToSjis(wide, buffer, capacity) ? 0 : 1;
}

bool FillFindData(const WIN32_FIND_DATAW& w, PlatformFindData* data) {
    data->attributes = w.dwFileAttributes;
    return WideToSjis(w.cFileName, data->name, sizeof(data->name));
}

}  // namespace

struct PlatformFind {
    HANDLE handle;
};

FILE* PlatformOpenFile(const char* path, const char* mode) {
    if (mode[0] != 'r' && !PlatformChangeAllowed()) return nullptr;
    WidePath w(path);
    wchar_t wmode[8];
    size_t i = 0;
    for (; mode[i] != '\0' && i + 1 < sizeof(wmode) / sizeof(wmode[0]); ++i) wmode[i] = mode[i];
    wmode[i] = L'\0';
    FILE* file = w.ok ? _wfopen(w.text, wmode) : nullptr;
    if (mode[0] != 'r') NoteOpenedForWriting(file, path, mode[0] == 'a');
    return file;
}

FILE* PlatformCreateNewFile(const char* path) {
    if (!PlatformChangeAllowed()) return nullptr;
    WidePath w(path);
    if (!w.ok) return nullptr;
    // Shared as the runtime's own opening shares a file, so that setting its
    // time and reading it back work as with any other written file.
    HANDLE h = CreateFileW(w.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(w.text);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
        DeleteFileW(w.text);
        return nullptr;
    }
    NoteOpenedForWriting(file, path, false);
    return file;
}

namespace {

// NtFlushBuffersFileEx, as ntdll (always loaded) exports it from Windows 8 on.
using FlushBuffersFileEx = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, void*);
// Data and metadata are written out; the device is not asked to flush its cache.
constexpr ULONG kFlushFlagsNoSync = 0x00000002;

struct IoStatusBlock {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};

FlushBuffersFileEx LookUpFlushBuffersFileEx() {
    static const FlushBuffersFileEx s_function = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        FARPROC found = ntdll != nullptr ? GetProcAddress(ntdll, "NtFlushBuffersFileEx") : nullptr;
        return reinterpret_cast<FlushBuffersFileEx>(reinterpret_cast<void*>(found));
    }();
    return s_function;
}

}  // namespace

PlatformWriteOut PlatformStartWriteOut(FILE* file) {
    if (!PlatformChangeAllowed()) return kWriteOutFailed;
    FlushBuffersFileEx flush = LookUpFlushBuffersFileEx();
    if (flush == nullptr) return kWriteOutUnavailable;
    if (fflush(file) != 0) return kWriteOutFailed;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (h == INVALID_HANDLE_VALUE) return kWriteOutFailed;
    IoStatusBlock status{};
    if (flush(h, kFlushFlagsNoSync, nullptr, 0, &status) < 0) return kWriteOutFailed;
    NoteWrittenOut(file);
    return kWriteOutStarted;
}

int PlatformFlushWrittenOut(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath w(path);
    if (!w.ok) return 1;
    // Flushing any file of the volume flushes the device's cache, which now
    // holds what every write-out sent it.
    HANDLE h = CreateFileW(w.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    BOOL flushed = FlushFileBuffers(h);
    CloseHandle(h);
    if (flushed) NoteVolumeFlushed();
    return flushed ? 0 : 1;
}

const uint8_t* PlatformMapFile(FILE* file, size_t size) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE mapping = CreateFileMappingW(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return nullptr;
    // The view holds the mapping open by itself.
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    CloseHandle(mapping);
    return static_cast<const uint8_t*>(view);
}

void PlatformUnmapFile(const uint8_t* view, size_t) {
    if (view != nullptr) UnmapViewOfFile(view);
}

size_t PlatformReadAt(FILE* file, void* out, size_t count, int64_t offset) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (h == INVALID_HANDLE_VALUE) return 0;
    size_t done = 0;
    while (done < count) {
        // The offset travels with the request; no shared position is moved
        // that a reader on another thread relies on.
        OVERLAPPED at{};
        uint64_t where = static_cast<uint64_t>(offset) + done;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        size_t left = count - done;
        DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(h, static_cast<char*>(out) + done, want, &got, &at) || got == 0) break;
        done += got;
    }
    return done;
}

int PlatformSeek(FILE* file, int64_t offset, int origin) {
    return _fseeki64(file, offset, origin) == 0 ? 0 : 1;
}

int64_t PlatformTell(FILE* file) { return _ftelli64(file); }

int PlatformGetCurrentFolder(char* buffer, size_t capacity) {
    wchar_t w[kWidePath];
    DWORD n = GetCurrentDirectoryW(kWidePath, w);
    if (n == 0 || n >= kWidePath) return 1;
    return FromWide(w, buffer, capacity);
}

int PlatformSetCurrentFolder(const char* path) {
    // The current folder never takes the long form, and every folder the
    // program makes current fits the plain one.
    wchar_t w[kWidePath];
    return SjisToWide(path, w, kWidePath) && SetCurrentDirectoryW(w) ? 0 : 1;
}

int PlatformGetTempPath(char* buffer, size_t capacity) {
    wchar_t w[kWidePath];
    DWORD n = GetTempPathW(kWidePath, w);
    if (n == 0 || n >= kWidePath) return 1;
    return FromWide(w, buffer, capacity);
}

FILE* PlatformOpenProgramFile() {
    wchar_t w[kWidePath];
    DWORD n = GetModuleFileNameW(nullptr, w, kWidePath);
    if (n == 0 || n >= kWidePath) return nullptr;
    return _wfopen(w, L"rb");
}

int PlatformCreateFolder(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath w(path);
    return w.ok && CreateDirectoryW(w.text, nullptr) ? 0 : 1;
}

int PlatformRemoveFolder(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath w(path);
    return w.ok && RemoveDirectoryW(w.text) ? 0 : 1;
}

// Ctrl-C reaches a console program on a thread of its own, not between two
// instructions of the interrupted one: the ordinary delete is safe there.
bool PlatformPrepareSignalDelete(const char* path, char* buffer, size_t capacity) {
    size_t n = strlen(path);
    if (n + 1 > capacity) return false;
    memcpy(buffer, path, n + 1);
    return true;
}

void PlatformDeleteFromSignal(const char* prepared) { PlatformDeleteFile(prepared); }

int PlatformDeleteFile(const char* path) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath w(path);
    if (!w.ok || !DeleteFileW(w.text)) return 1;
    NoteDeleted(path);
    return 0;
}

int PlatformMoveFile(const char* from, const char* to) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath a(from), b(to);
    if (!a.ok || !b.ok || !MoveFileExW(a.text, b.text, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) return 1;
    NoteMoved(from, to);
    return 0;
}

int PlatformGetAttributes(const char* path, uint32_t* attributes) {
    WidePath w(path);
    if (!w.ok) return 1;
    DWORD a = GetFileAttributesW(w.text);
    if (a == INVALID_FILE_ATTRIBUTES) return 1;
    *attributes = a;
    return 0;
}

int PlatformSetAttributes(const char* path, uint32_t attributes) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath w(path);
    DWORD a = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return w.ok && SetFileAttributesW(w.text, a) ? 0 : 1;
}

int PlatformSetFileTime(const char* path, uint64_t fileTime) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath w(path);
    if (!w.ok) return 1;
    HANDLE h = CreateFileW(w.text, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    return ok ? 0 : 1;
}

int PlatformGetFileTime(const char* path, uint64_t* fileTime) {
    WidePath w(path);
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!w.ok || !GetFileAttributesExW(w.text, GetFileExInfoStandard, &d)) return 1;
    *fileTime = (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
                d.ftLastWriteTime.dwLowDateTime;
    return 0;
}

PlatformFind* PlatformFindFirst(const char* pattern, PlatformFindData* data) {
    WidePath w(pattern);
    if (!w.ok) return nullptr;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(w.text, &fd);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    // A name with no Shift-JIS form cannot be used by the program; pass over it.
    while (!FillFindData(fd, data)) {
        if (!FindNextFileW(h, &fd)) {
            FindClose(h);
            return nullptr;
        }
    }
    PlatformFind* find = new (std::nothrow) PlatformFind;
    if (find == nullptr) return nullptr;
    find->handle = h;
    return find;
}

int PlatformFindNext(PlatformFind* find, PlatformFindData* data) {
    WIN32_FIND_DATAW fd;
    do {
        if (!FindNextFileW(find->handle, &fd)) return 1;
    } while (!FillFindData(fd, data));
    return 0;
}

void PlatformFindClose(PlatformFind* find) {
    if (find == nullptr) return;
    FindClose(find->handle);
    delete find;
}

uint32_t PlatformTickCount() { return timeGetTime(); }

struct PlatformLock {
    CRITICAL_SECTION section;
};

PlatformLock* PlatformCreateLock() {
    PlatformLock* lock = new (std::nothrow) PlatformLock;
    if (lock != nullptr) InitializeCriticalSection(&lock->section);
    return lock;
}

void PlatformEnterLock(PlatformLock* lock) { EnterCriticalSection(&lock->section); }
void PlatformLeaveLock(PlatformLock* lock) { LeaveCriticalSection(&lock->section); }

void PlatformDeleteLock(PlatformLock* lock) {
    if (lock == nullptr) return;
    DeleteCriticalSection(&lock->section);
    delete lock;
}

int PlatformGetWindowsFolder(char* buffer, size_t capacity) {
    wchar_t w[kWidePath];
    UINT n = GetWindowsDirectoryW(w, kWidePath);
    if (n == 0 || n >= kWidePath) return 1;
    return FromWide(w, buffer, capacity);
}

int PlatformDriveType(const char* root) {
    WidePath w(root);
    return w.ok ? static_cast<int>(GetDriveTypeW(w.text)) : DRIVE_NO_ROOT_DIR;
}

int PlatformReplaceFile(const char* from, const char* to) {
    if (!PlatformChangeAllowed()) return 1;
    WidePath a(from), b(to);
    if (!a.ok || !b.ok) return 1;
    DWORD target = GetFileAttributesW(b.text);
    if (target != INVALID_FILE_ATTRIBUTES && (target & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return 1;
    HANDLE h = CreateFileW(a.text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    BOOL flushed = FlushFileBuffers(h);
    CloseHandle(h);
    if (!flushed || !MoveFileExW(a.text, b.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    NoteDeleted(from);
    return 0;
}

int PlatformSjisToUtf16(const char* text, uint16_t* units, size_t capacity, size_t* count) {
    *count = 0;
    std::wstring wide(capacity + 1, L'\0');
    if (!SjisToWide(text, &wide[0], wide.size())) return text[0] == '\0' ? 0 : 1;
    size_t n = wcslen(wide.c_str());
    for (size_t i = 0; i < n; ++i) units[i] = static_cast<uint16_t>(wide[i]);
    *count = n;
    return 0;
}

int PlatformFlushFile(FILE* file) {
    if (!PlatformChangeAllowed()) return 1;
    if (fflush(file) != 0) return 1;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) return 1;
    NoteFlushed(file);
    return 0;
}

void PlatformSleep(uint32_t milliseconds) {
    if (PlatformChangesStopped()) return;
    Sleep(milliseconds);
}

PlatformError PlatformLastError() {
    switch (GetLastError()) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE: return kPlatformErrorInUse;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return kPlatformErrorDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return kPlatformErrorDiskFull;
        default:
            // The runtime's file functions may leave only errno.
            return errno == ENOSPC ? kPlatformErrorDiskFull : kPlatformErrorOther;
    }
}

int PlatformFreeBytes(const char* path, uint64_t* bytes) {
    WidePath w(path);
    ULARGE_INTEGER free;
    if (!w.ok || !GetDiskFreeSpaceExW(w.text, &free, nullptr, nullptr)) return 1;
    *bytes = free.QuadPart;
    return 0;
}
