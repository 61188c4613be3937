// The package appended to the updater's own file.
//
//   program image | entry ... | u16 0 (end marker) | 00 00 (filler) | u32 offset
//
// The last four bytes give the absolute offset of the first entry; in a signed
// program file, the four before its certificate table and the padding that
// aligns it (package/ProgramImage.h). Each entry:
//
//   u16 L            name length with its NUL; 0 is the end marker
//   L bytes          Shift-JIS name relative to the destination, '\' separated
//   i32 unpacked     file size, -1 for a folder entry, -2 for a delta entry
//   u32 packed P     size of the zlib stream (any value for a folder: unused)
//   u64 time         files only: last-write time, Windows file time (UTC)
//   72 bytes         delta entries only: the fields below
//   P bytes          files only: one zlib stream ending at its last byte
//
// Example: a folder "save\" then a 5-byte file "save\a.txt":
//   06 00 "save\" 00 FF FF FF FF 00 00 00 00
//   0B 00 "save\a.txt" 00 05 00 00 00 0D 00 00 00 <8-byte time> <13-byte stream>
//
// A delta entry makes its file from the installed file of the same name (the
// source) instead of carrying it whole. Its fields:
//   u32 source size, 32 bytes the source's SHA-256,
//   u32 target size, 32 bytes the SHA-256 of the file it makes,
// and its stream inflates to a VCDIFF delta (package/VcdiffFormat.h) from the
// source to the target. Example: "data.arc", 300 MiB before and after, a few
// bytes changed, the delta deflated to 630 bytes:
//   09 00 "data.arc" 00  FE FF FF FF  76 02 00 00  <8-byte time>
//   00 00 C0 12 <32-byte hash>  00 00 C0 12 <32-byte hash>  <630-byte stream>
// A reader that knows only the plain format refuses the size -2 as damaged,
// so it never writes a delta as if it were the file. A delta's name is a
// file's, never a start-up file's (they are read before any installed file
// is known), and appears once in its package; its source is always the file
// as installed before the update.
//
// Error policy: the reader trusts nothing. A name must end in its NUL at byte
// L, be no longer than kMaxEntryName, stay below the destination folder (no
// drive, no leading separator, no "." or ".." component, nothing Windows would
// silently rename or treat as a device), be valid Shift-JIS, and keep clear of
// the staging folder's name at its top. Sizes and offsets must be below 2^31.
// Anything else is a damaged package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "package/ProgramImage.h"

// The trailer: the absolute offset of the package, the program file's last bytes.
constexpr size_t kTrailerSize = 4;
// Zero bytes between the end marker and the trailer.
constexpr size_t kPackageFillerSize = 2;
// The makers' tool adds up to seven more, so that the program file ends on
// the boundary a signing tool aligns its certificate table to.
constexpr size_t kMaxPackageFillerSize = kPackageFillerSize + kCertificateAlignment - 1;
// A name with its NUL fits the reader's fixed 260-byte buffers.
constexpr size_t kMaxEntryName = 260;
// Name length field, then the unpacked and packed size fields.
constexpr size_t kNameLengthSize = 2;
constexpr size_t kSizeFieldsSize = 8;
// The last-write time that precedes a file's stream.
constexpr size_t kFileTimeSize = 8;
// The unpacked size that marks a folder entry.
constexpr int32_t kFolderEntrySize = -1;
// The unpacked size that marks a delta entry (package/DeltaEntry.h).
constexpr int32_t kDeltaEntrySize = -2;
// Transfer buffers, progress unit and write block: 128 KiB.
constexpr uint32_t kTransferBlock = 0x20000;
// File positions and progress arithmetic are signed 32-bit.
constexpr int64_t kMaxPackageValue = 0x7FFFFFFF;
// Where a Full-mode walk keeps new files until all of them are complete; no
// top-level entry may begin with this name.
constexpr const char* kStagingFolderName = "TempGPUpdateStaging";

// Why a walk or an entry failed. 0 is success; every failure shows the same
// message to the user, the makers' tool names the cause.
enum PackageResult {
    kPackageOk = 0,
    kPackageCannotOpen,     // the program file, or the package offset
    kPackageTruncated,      // a field or stream cut short
    kPackageBadName,        // a name that is empty, unterminated, too long or leaves the destination
    kPackageBadSize,        // a size that is negative or beyond 2^31
    kPackageCorruptStream,  // zlib refused the data
    kPackageCannotWrite,    // a destination file could not be created or written
    kPackageNoMemory,       // a transfer buffer could not be had
    kPackagePathTooLong,    // destination folder and name beyond 259 bytes
    kPackageCannotReplace,  // an existing file is read-only, a folder, or held open
    kPackageRestoreFailed,  // an original could not be put back; the journal keeps it for the next run
    kPackageFolderBusy,     // another updater is updating the destination; nothing was touched
    kPackageSourceMismatch, // a delta's installed file is missing, unreadable, or not the one it applies to
};

// Short English description of a result, for the makers' tool.
const char* DescribePackageResult(int result);

struct PackageEntry {
    char name[kMaxEntryName];
    uint16_t nameLength;   // with the NUL
    int32_t unpackedSize;  // kFolderEntrySize for a folder
    uint32_t packedSize;
    bool isFolder;
    bool isDelta;  // read by ReadEntryHeaderWithDeltas only
};

// An open package: the program file and the bytes from the first entry up to
// the trailer. Reads never go past end, so the trailer is never taken for
// package data.
struct PackageStream {
    FILE* file;
    int64_t position;  // absolute offset of the next byte read
    int64_t end;       // absolute offset of the trailer
};

// Finds the trailer of file (fileSize bytes): the last four bytes, or in a
// file signed to its end the four before the certificate table and its zero
// padding, where the offset must also lie past the image's own data. Returns
// true with the trailer's position and offset, false when no trailer points
// inside the file before itself.
bool FindTrailer(FILE* file, int64_t fileSize, int64_t* position, uint32_t* offset);

// Opens path for binary reading, positioned at the first entry. Returns
// kPackageOk, or kPackageCannotOpen when the file cannot be opened or its
// trailer points outside the file.
int OpenPackageStream(const char* path, PackageStream* stream);
// The same for a file already opened for binary reading (null: cannot open).
// Takes the file over: it is closed on failure, and by ClosePackageStream.
int OpenPackageFile(FILE* file, PackageStream* stream);
void ClosePackageStream(PackageStream* stream);
// Bytes from the first entry up to the trailer.
int64_t PackageLength(const PackageStream* stream);

// Reads up to count bytes, never past the end; returns how many it read.
size_t ReadPackageBytes(PackageStream* stream, void* out, size_t count);
// Reads up to count bytes at an absolute position, never past the trailer,
// leaving the stream's position alone; safe from several threads at once.
size_t ReadPackageBytesAt(const PackageStream* stream, void* out, size_t count, int64_t position);
// Moves forward count bytes. Returns kPackageOk or kPackageTruncated past the end.
int SkipPackageBytes(PackageStream* stream, int64_t count);

// Reads the u16 name length. Returns kPackageOk or kPackageTruncated.
int ReadNameLength(PackageStream* package, uint16_t* nameLength);

// Reads the name and both size fields of an entry whose name length was read,
// and checks them. Leaves the stream at the time field (files) or the next entry.
// Whatever it returns, entry->name holds the name as far as it was read,
// terminated (empty when the length is beyond kMaxEntryName).
int ReadEntryHeader(PackageStream* package, uint16_t nameLength, PackageEntry* entry);
// The same for a reader that applies deltas: a delta entry's header is taken
// too, with isDelta set, its name checked as a file's and refused when it is
// a start-up file's. Its fields follow the time (package/DeltaEntry.h).
int ReadEntryHeaderWithDeltas(PackageStream* package, uint16_t nameLength, PackageEntry* entry);

// Why a name breaks the rules above. The reader refuses every name that is
// not kNameOk; the makers' tool refuses the same names and words the reason.
enum EntryNameProblem {
    kNameOk = 0,
    kNameEmpty,          // no byte before the NUL
    kNameTooLong,        // more than kMaxEntryName bytes with the NUL
    kNameUnterminated,   // the NUL is not the last of the L bytes, or comes before it
    kNameRooted,         // begins with a separator: a path from the root of the drive
    kNameEmptyPart,      // two separators in a row, or a file name ending in one
    kNameDotOrSpaceEnd,  // a part ending in '.' or ' ' ("." and ".." too): Windows drops them
    kNameDevice,         // a part Windows opens as a device in any folder (con, lpt1.txt)
    kNameForbiddenByte,  // a control byte or one of : * ? " < > | (drives, streams, wildcards)
    kNameHalfCharacter,  // ends in a lead byte without its second byte
    kNameBadPair,        // a lead byte followed by a byte that cannot complete a character
    kNameStaging,        // the first part begins with the staging folder's name
};

// Checks a name of length bytes (its NUL included) against the rules above.
// Returns the first problem found, kNameOk for a sound name.
EntryNameProblem ExplainEntryName(const char* name, size_t length, bool isFolder);

// ExplainEntryName as a package result: kPackageOk or kPackageBadName.
int CheckEntryName(const char* name, size_t length, bool isFolder);

// True when the name contains "insttscr.rct", "install.env" or ".txt",
// without regard to letter case, matching only at character boundaries.
bool IsStartupFile(const char* name);

// True when a folder name has a byte after its first '\' (save\sub\), which
// ends a Boot-mode walk.
bool IsNestedFolderName(const char* name);
