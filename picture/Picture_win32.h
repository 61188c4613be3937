// Pictures in memory: 24-bit top-down DIB sections that the main window
// paints one to one, kept in a process-wide list, newest first.
#pragma once

#include <windows.h>

#include <cstdint>

struct Picture {
    int32_t width;
    int32_t height;
    int32_t stride;  // width x 3 rounded up to a multiple of 4
    int32_t keep;    // nonzero: only a forced free releases it
    BITMAPINFOHEADER* info;
    uint8_t* pixels;  // height rows of stride bytes, top row first; owned by bitmap
    HBITMAP bitmap;
    Picture* newer;
    Picture* older;
};

// Reads and decodes the RCT file name (relative to the current folder).
// Returns a picture the caller frees with FreePicture, or null for a file that
// is not RCT or is malformed, or when memory or the DIB section cannot be had.
Picture* LoadRctPicture(const char* name);

// A new picture of that size at the head of the list, or null when memory or
// the DIB section cannot be had. Its pixels are whatever the system gives.
Picture* CreatePicture(int32_t width, int32_t height, int32_t keep);

// Whether FreePicture releases a kept picture too.
enum FreeMode {
    kFreeUnlessKept = 0,  // a kept picture stays
    kFreeForced = 1,      // kept or not
};
// What FreePicture did.
enum FreeResult {
    kPictureFreed = 0,  // released, or there was none
    kPictureKept = 1,   // a kept picture, left as it was
};

// Releases picture. Returns kPictureFreed; kPictureKept without doing
// anything for a kept picture under kFreeUnlessKept. A null picture gives kPictureFreed.
FreeResult FreePicture(Picture* picture, FreeMode mode);

// The newest picture of the list, or null.
Picture* NewestPicture();
