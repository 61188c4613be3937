// Pictures decoded from real files into real DIB sections.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/ByteReader.h"
#include "picture/Picture_win32.h"
#include "picture/RctFormat.h"
#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

Bytes RctFile(int32_t width, int32_t height, const Bytes& stream) {
    Bytes out(kRctMagicTc00, kRctMagicTc00 + kRctMagicSize);
    uint8_t raw[4];
    for (uint32_t v : {static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                       static_cast<uint32_t>(stream.size())}) {
        StoreU32(raw, v);
        out.insert(out.end(), raw, raw + 4);
    }
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

class PictureWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        SetDirectOpenAllowed(1);
        ASSERT_EQ(0, PlatformSetCurrentFolder(dir_.Path().c_str()));
    }
    TempFolder dir_;
    CurrentFolderGuard cwd_;
};

TEST_F(PictureWin32Test, RowsLandTopDownAtTheirStride) {
    // 5x2: a literal row of five pixels, then the row above copied (A7 00 01: 5 pixels).
    Bytes stream = {1, 1, 1, 3};
    for (int p = 2; p <= 5; ++p) stream.insert(stream.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(p), static_cast<uint8_t>(p)});
    stream.insert(stream.end(), {0xA7, 0x01, 0x00});
    ASSERT_TRUE(WriteFileBytes("insttscr.rct", RctFile(5, 2, stream)));
    Picture* p = LoadRctPicture("insttscr.rct");
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(5, p->width);
    EXPECT_EQ(2, p->height);
    EXPECT_EQ(16, p->stride);
    EXPECT_EQ(-2, p->info->biHeight);
    EXPECT_EQ(24, p->info->biBitCount);

    DIBSECTION ds;
    ASSERT_EQ(static_cast<int>(sizeof(ds)), GetObjectW(p->bitmap, sizeof(ds), &ds));
    EXPECT_EQ(16, ds.dsBm.bmWidthBytes);
    EXPECT_EQ(p->pixels, ds.dsBm.bmBits);
    // Read the rows back through GDI, top row first.
    uint8_t rows[2 * 16] = {};
    BITMAPINFOHEADER query = *p->info;
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_EQ(2, GetDIBits(dc, p->bitmap, 0, 2, rows, reinterpret_cast<BITMAPINFO*>(&query), DIB_RGB_COLORS));
    DeleteDC(dc);
    for (int r = 0; r < 2; ++r)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(x + 1, rows[r * 16 + x * 3]) << r << "," << x;
    EXPECT_EQ(kPictureFreed, FreePicture(p, kFreeUnlessKept));
}

TEST_F(PictureWin32Test, ListKeepFlagAndMalformedFiles) {
    Picture* a = CreatePicture(3, -4, 0);
    Picture* b = CreatePicture(2, 2, 1);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(4, a->height);
    EXPECT_EQ(b, NewestPicture());
    EXPECT_EQ(a, b->older);
    EXPECT_EQ(b, a->newer);
    EXPECT_EQ(kPictureKept, FreePicture(b, kFreeUnlessKept));
    EXPECT_EQ(kPictureFreed, FreePicture(a, kFreeUnlessKept));
    EXPECT_EQ(nullptr, b->older);
    EXPECT_EQ(kPictureFreed, FreePicture(b, kFreeForced));
    EXPECT_EQ(nullptr, NewestPicture());
    EXPECT_EQ(kPictureFreed, FreePicture(nullptr, kFreeUnlessKept));

    struct Case { const char* what; Bytes file; } cases[] = {
        {"copy from above the first row", RctFile(2, 2, {1, 1, 1, 0xA4})},
        {"literal past the end", RctFile(2, 1, {1, 1, 1, 1, 2, 2, 2, 3, 3, 3})},
        {"stream ends early", RctFile(3, 3, {1, 1, 1, 0x80})},
        {"not an RCT file", ToBytes("BM this is a bitmap file header")},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes("insttscr.rct", c.file));
        EXPECT_EQ(nullptr, LoadRctPicture("insttscr.rct")) << c.what;
        EXPECT_EQ(nullptr, NewestPicture()) << c.what;
    }
}

TEST_F(PictureWin32Test, AFailedAllocationGivesNoPicture) {
    for (int allocations : {0, 1}) {
        BoxAnswerer answerer{};
        StartBoxAnswerer(&answerer, GetCurrentProcessId(), IDOK);
        FailAllocationsAfter(allocations);
        EXPECT_EQ(nullptr, CreatePicture(4, 4, 0)) << allocations;
        FailAllocationsAfter(-1);
        ASSERT_TRUE(FinishBoxAnswerer(&answerer));
        EXPECT_EQ(L"malloc", answerer.caption);
        EXPECT_EQ(nullptr, NewestPicture());
    }
}

}  // namespace
