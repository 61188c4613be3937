// The narrow interface through which the portable code reaches the operating
// system. Every path is Shift-JIS bytes with '\' as separator; each platform
// converts at its own boundary (code page 932 to UTF-16 on Windows, to UTF-8 on
// POSIX), so the rest of the program never sees a native name.
//
// Results: 0 for success, nonzero for failure, unless a line says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Attribute bits as Windows defines them; the POSIX build maps its own.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrFolder = 0x10;

// One entry found by a folder search.
struct PlatformFindData {
    uint32_t attributes;
    char name[260];
};

struct PlatformFind;  // an open folder search

// Opens a file with a C runtime mode ("rb", "wb"); null on failure.
FILE* PlatformOpenFile(const char* path, const char* mode);
// Reads up to count bytes at offset of a file opened for reading, without its
// file position or the runtime's buffer, so that several threads may read one
// file at once. Returns the bytes read (fewer at the end of the file or on an error).
size_t PlatformReadAt(FILE* file, void* out, size_t count, int64_t offset);
// Maps the first size bytes (size > 0) of a file opened for reading into
// memory, read-only; the view stays valid after the file is closed, until
// PlatformUnmapFile. Null when the system will not map it: the caller reads
// the file instead.
const uint8_t* PlatformMapFile(FILE* file, size_t size);
void PlatformUnmapFile(const uint8_t* view, size_t size);
// 64-bit seek and tell on a runtime file.
int PlatformSeek(FILE* file, int64_t offset, int origin);
int64_t PlatformTell(FILE* file);

// Current folder into buffer (capacity bytes); nonzero when it does not fit.
int PlatformGetCurrentFolder(char* buffer, size_t capacity);
int PlatformSetCurrentFolder(const char* path);
// The user's temporary folder, as the system reports it (usually with a final
// '\'). Paths the system reports fail, rather than name another folder, when
// they have no exact Shift-JIS spelling (a short form counts as one).
int PlatformGetTempPath(char* buffer, size_t capacity);
// Opens the running program file for reading by its own name, whatever
// characters that holds (POSIX: UPDATER_PROGRAM_FILE when set). Null on failure.
FILE* PlatformOpenProgramFile();

int PlatformCreateFolder(const char* path);
int PlatformRemoveFolder(const char* path);
int PlatformDeleteFile(const char* path);
// Writes path (Shift-JIS) into buffer in the form PlatformDeleteFromSignal
// takes. Returns false, buffer unusable, when it cannot be spelled or does
// not fit in capacity bytes.
bool PlatformPrepareSignalDelete(const char* path, char* buffer, size_t capacity);
// Deletes the file prepared by PlatformPrepareSignalDelete, calling only what
// a signal handler may call (no allocation, no lock).
void PlatformDeleteFromSignal(const char* prepared);
// Renames a file or folder; fails when the target exists. The rename is on
// the disk when it returns (written through), where the system offers that;
// PlatformFlushWrittenOut makes it durable everywhere.
int PlatformMoveFile(const char* from, const char* to);
// Attributes of an existing entry; nonzero when it does not exist.
int PlatformGetAttributes(const char* path, uint32_t* attributes);
int PlatformSetAttributes(const char* path, uint32_t attributes);

// Last-write time as a Windows file time (100 ns ticks since 1601, UTC).
// Setting it opens the file for writing with no sharing and leaves its other
// times alone.
int PlatformSetFileTime(const char* path, uint64_t fileTime);
int PlatformGetFileTime(const char* path, uint64_t* fileTime);

// Starts a search for the entries matching a wildcard pattern (* and ?; "*.*"
// matches every name). Fills the first entry; null when there is none.
PlatformFind* PlatformFindFirst(const char* pattern, PlatformFindData* data);
// Fills the next entry; nonzero when there are no more.
int PlatformFindNext(PlatformFind* find, PlatformFindData* data);
void PlatformFindClose(PlatformFind* find);

// The Windows folder (on POSIX: the value of UPDATER_WINDOWS_FOLDER, else "C:\WINDOWS").
int PlatformGetWindowsFolder(char* buffer, size_t capacity);
// Type of the drive whose root is given ("E:\"), as Windows numbers it: 5 is a
// CD-ROM drive, 1 no such drive. POSIX has no drives and answers 1, unless
// UPDATER_CDROM_DRIVE names a letter that then counts as a CD-ROM drive.
int PlatformDriveType(const char* root);
constexpr int kDriveCdRom = 5;

// Milliseconds since the system started, wrapping at 2^32.
uint32_t PlatformTickCount();

// A lock for one section of code at a time; null when none could be made.
struct PlatformLock;
PlatformLock* PlatformCreateLock();
void PlatformEnterLock(PlatformLock* lock);
void PlatformLeaveLock(PlatformLock* lock);
void PlatformDeleteLock(PlatformLock* lock);

// Moves the file from over the file to (which need not exist), after forcing
// from's bytes to disk, and writes the rename itself through, so that a crash
// leaves either the old or the new file at to. Refuses a read-only or held
// target; a failure leaves both files as they were.
int PlatformReplaceFile(const char* from, const char* to);

// Converts Shift-JIS text to UTF-16 code units (no terminator) into units, at
// most capacity of them, and sets *count. Nonzero, with *count 0, when the
// bytes are not Shift-JIS or the result does not fit.
int PlatformSjisToUtf16(const char* text, uint16_t* units, size_t capacity, size_t* count);

// Forces a file's written bytes to the disk. Returns 0, or nonzero on failure.
int PlatformFlushFile(FILE* file);

// Opens a file for writing only if no entry of that name exists yet (never
// truncating one that appeared meanwhile); null on failure, and on a name taken.
FILE* PlatformCreateNewFile(const char* path);

// How a request to write a file out went.
enum PlatformWriteOut {
    kWriteOutStarted = 0,  // the system writes the bytes out; no device flush was waited for
    kWriteOutFailed,
    kWriteOutUnavailable,  // the system has no such request (Windows 7): flush the file instead
};
// Asks the system to write a file's written bytes out without flushing the
// device's own cache, so that many files cost one device flush
// (PlatformFlushWrittenOut) rather than one each.
PlatformWriteOut PlatformStartWriteOut(FILE* file);
// Makes durable on the volume that holds path (an existing file) every file
// written out so far and every move made so far: one full flush of the device.
int PlatformFlushWrittenOut(const char* path);

// Bytes free for this user on the volume that holds path; nonzero on failure.
int PlatformFreeBytes(const char* path, uint64_t* bytes);

// Waits about milliseconds.
void PlatformSleep(uint32_t milliseconds);

// Why the last failed file operation of this thread failed, as far as a player
// can act on it.
enum PlatformError {
    kPlatformErrorOther = 0,
    kPlatformErrorInUse,     // another program holds the file open
    kPlatformErrorDenied,    // no permission to write there
    kPlatformErrorDiskFull,  // the disk has no room left
};
PlatformError PlatformLastError();

// Test hook: after count more changes to the file system (-1: never), every
// further change fails without touching anything, as if the process had died
// at that point. Changes are creating, writing, moving and deleting files and
// folders and setting their attributes or times.
void PlatformFailChangesAfter(int count);
// True when the next change may go ahead; counts it against the hook.
bool PlatformChangeAllowed();
// True once the hook has stopped every change; waits are then skipped too.
bool PlatformChangesStopped();

// Test hooks, the power-cut model: while watching, every file opened for
// writing is remembered until its bytes are flushed (PlatformFlushFile), or
// written out and then flushed with the volume (PlatformFlushWrittenOut); a
// move carries the memory with the file and a deletion ends it.
void PlatformWatchUnflushed(bool on);
// How a power cut treats a file whose bytes were not on the disk yet.
enum PowerCutLoss {
    kLossTruncated = 0,  // the file is left empty
    kLossZeroed,         // the file keeps its length, every byte zero
};
// Cuts the power: every watched file whose bytes were not flushed loses them,
// as loss says, and the watch ends. Returns how many files lost their bytes.
int PlatformCutPower(PowerCutLoss loss);

// SHA-256, the program's one hash: the system's own implementation (BCrypt on
// Windows, loaded from the system folder; libcrypto natively). A hash is fed
// in pieces, so a file of any size is hashed through one small buffer.
constexpr size_t kSha256Bytes = 32;
struct PlatformSha256Hash;  // a hash in progress
// Starts a hash; null when the system cannot make one.
PlatformSha256Hash* PlatformSha256Begin();
// Adds size bytes to the hash. Returns 0, or nonzero when the system failed
// (the hash then gives no digest).
int PlatformSha256Add(PlatformSha256Hash* hash, const void* data, size_t size);
// Writes the digest of everything added and frees the hash (null is
// accepted). Returns 0, or nonzero with digest zeroed when any step failed.
int PlatformSha256End(PlatformSha256Hash* hash, uint8_t digest[kSha256Bytes]);
// The digest of size bytes in one call. Returns 0, or nonzero with digest zeroed.
int PlatformSha256(const void* data, size_t size, uint8_t digest[kSha256Bytes]);
