// The Windows program image in front of the package, as far as the package
// reader and the makers' tool need it: where the image's own data ends, and
// the certificate table that signing (Authenticode) appends after everything
// else in the file.
//
//   0x3C             u32 offset of the "PE\0\0" signature
//   signature + 4    COFF header, 20 bytes: u16 section count at +2, u16 size
//                    of the optional header at +16
//   signature + 24   optional header: u16 magic 0x10B (PE32) or 0x20B (PE32+);
//                    u32 size of the headers at +60; u32 directory count at
//                    +92 (PE32) or +108 (PE32+), then 8-byte directories, of
//                    which the third is the resources (u32 address in memory
//                    and u32 size) and the fifth the security directory: u32
//                    file offset and u32 size of the certificate table
//   section table    40 bytes a section: u32 size in memory at +8, u32 address
//                    in memory at +12, u32 raw size at +16, u32 raw offset at +20
//
// A signed patch:
//
//   image | package | trailer | 0-7 zero bytes | certificate table
//
// The signing tool puts the table on an 8-byte boundary, padding the file with
// zero bytes first, and points the security directory at it; the makers' tool
// ends its output on such a boundary so that no padding is needed.
//
// Error policy: a file that is not a well-formed image in every field read
// here has no layout; its package is then found as in any other file.
#pragma once

#include <cstdint>
#include <cstdio>

// Signing tools start the certificate table on an 8-byte boundary.
constexpr int64_t kCertificateAlignment = 8;
// The security directory entry: file offset and size of the table.
constexpr int64_t kSecurityEntrySize = 8;

struct ImageLayout {
    int64_t dataEnd;             // end of the headers and of the furthest section's raw data
    int64_t securityEntry;       // file offset of the security directory entry; -1 when the image has none
    int64_t certificateOffset;   // where the certificate table begins; 0 when there is none
    int64_t certificateSize;
    int64_t resourceOffset;      // file offset of the resources (the version resource among them); 0 when none
    int64_t resourceSize;        // their bytes within the file
};

// Reads the layout of the image at the start of file, whose size is fileSize.
// Returns true for a well-formed image, false (layout untouched) otherwise.
// Leaves the file position anywhere.
bool ReadImageLayout(FILE* file, int64_t fileSize, ImageLayout* layout);

// True when the image carries a certificate table that runs to the end of the
// file, as a signing tool leaves it.
bool IsSignedToTheEnd(const ImageLayout& layout, int64_t fileSize);
