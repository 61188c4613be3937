// Windows program images for the tests, built in memory: a small but
// well-formed image with one section, and what a signing tool does to a file.
#pragma once

#include "tests/support/PackageBuilder.h"

enum ImageKind { kImagePe32, kImagePe32Plus };

// Where the built image keeps its parts.
constexpr size_t kImageHeaderSize = 0x200;   // headers, padded to the file alignment
constexpr size_t kImageSectionAlignment = 0x1000;

// An image of kind with one section of sectionBytes bytes (rounded up to the
// file alignment) right after the headers; its data ends at
// kImageHeaderSize + the rounded section size.
Bytes MakeImage(ImageKind kind, size_t sectionBytes);

// An image as MakeImage makes it whose resources (the third directory, in
// the one section) hold the product name the updater's version resource
// gives: what pack takes for this updater.
Bytes MakeUpdaterImage(ImageKind kind = kImagePe32Plus, size_t sectionBytes = 0x1000);

// A 64 x 64 RCT background picture of one colour, as the updater shows it.
Bytes TinyRctPicture();

// File offset of the security directory entry of an image made by MakeImage.
size_t SecurityEntryOffset(const Bytes& image);

// What Authenticode signing does to a file: zero padding to the next multiple
// of 8, then a certificate table of tableBytes bytes (a WIN_CERTIFICATE header
// and filler), the security directory pointing at it.
Bytes SignLikeATool(const Bytes& file, size_t tableBytes);
