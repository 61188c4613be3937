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

// Releases picture. Returns 0; 1 without doing anything for a kept picture
// when force is 0. A null picture gives 0.
int FreePicture(Picture* picture, int force);

// The newest picture of the list, or null.
Picture* NewestPicture();
