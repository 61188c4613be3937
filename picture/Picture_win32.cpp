#include "picture/Picture_win32.h"

#include <cstdlib>
#include <cstring>

#include "picture/RctFile.h"
#include "picture/RctFormat.h"
#include "services/MessageBoxes.h"

namespace {
Picture* s_newest = nullptr;
}  // namespace

Picture* NewestPicture() { return s_newest; }

Picture* CreatePicture(int32_t width, int32_t height, int32_t keep) {
    Picture* p = static_cast<Picture*>(CheckedAlloc(sizeof(Picture)));
    if (p == nullptr) return nullptr;
    memset(p, 0, sizeof(Picture));
    p->width = width;
    p->height = height < 0 ? -height : height;
    p->stride = RctStride(width);
    p->keep = keep;
    p->info = static_cast<BITMAPINFOHEADER*>(CheckedAlloc(sizeof(BITMAPINFOHEADER)));
    if (p->info == nullptr) {
        free(p);
        return nullptr;
    }
    memset(p->info, 0, sizeof(BITMAPINFOHEADER));
    p->info->biSize = sizeof(BITMAPINFOHEADER);
    p->info->biWidth = width;
    p->info->biHeight = -p->height;  // top-down rows
    p->info->biPlanes = 1;
    p->info->biBitCount = 24;
    p->info->biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    p->bitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(p->info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc != nullptr) DeleteDC(dc);
    if (p->bitmap == nullptr || bits == nullptr) {
        if (p->bitmap != nullptr) DeleteObject(p->bitmap);
        free(p->info);
        free(p);
        return nullptr;
    }
    p->pixels = static_cast<uint8_t*>(bits);
    p->older = s_newest;
    if (s_newest != nullptr) s_newest->newer = p;
    s_newest = p;
    return p;
}

FreeResult FreePicture(Picture* picture, FreeMode mode) {
    if (picture == nullptr) return kPictureFreed;
    if (picture->keep != 0 && mode == kFreeUnlessKept) return kPictureKept;
    if (picture->newer != nullptr) picture->newer->older = picture->older;
    else s_newest = picture->older;
    if (picture->older != nullptr) picture->older->newer = picture->newer;
    DeleteObject(picture->bitmap);
    free(picture->info);
    free(picture);
    return kPictureFreed;
}

Picture* LoadRctPicture(const char* name) {
    RctHeader header;
    uint8_t* packed = nullptr;
    if (ReadRctFile(name, &header, &packed) != kRctOk) return nullptr;
    Picture* picture = CreatePicture(header.width, header.height, 0);
    if (picture != nullptr &&
        DecodeRctStream(packed, header.packedLength, header.width, header.height, picture->pixels) != kRctOk) {
        FreePicture(picture, kFreeForced);
        picture = nullptr;
    }
    free(packed);
    if (picture != nullptr) RestrideRctRows(picture->pixels, picture->width, picture->height, picture->stride);
    return picture;
}
