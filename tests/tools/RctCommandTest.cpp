// The tool's pictures: BMP, PPM and PNG read and written back, the files it
// refuses, the rct command's encode, decode and info (a damaged RCT reported
// as such), and pack turning insttscr.png into insttscr.rct.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "picture/RctEncoder.h"
#include "picture/RctFormat.h"
#include "services/Platform.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/CapturedOutput.h"
#include "tools/ImageFiles.h"
#include "tools/InspectCommands.h"
#include "tools/PackCommand.h"
#include "tools/RctCommand.h"

namespace {

// A picture with every byte different from its neighbours', so a swapped
// channel, a flipped row or a lost pad byte shows.
Picture MakeTestPicture(int32_t width, int32_t height) {
    Picture p{width, height, Bytes(static_cast<size_t>(width) * height * 3)};
    for (size_t i = 0; i < p.bgr.size(); ++i) p.bgr[i] = static_cast<uint8_t>(i * 7 + i / 3 * 13 + 1);
    return p;
}

// A BMP of the picture: bits 24 or 32, rows bottom-up unless topDown, the
// given compression code, and for bit fields the three masks after the header.
Bytes BuildBmp(const Picture& p, int bits, bool topDown, uint32_t compression = 0,
               const std::vector<uint32_t>& masks = {}) {
    size_t pixelBytes = static_cast<size_t>(bits) / 8;
    size_t rowBytes = (p.width * pixelBytes + 3) / 4 * 4;
    size_t offset = 54 + masks.size() * 4;
    Bytes out(offset + rowBytes * p.height, 0);
    out[0] = 'B';
    out[1] = 'M';
    StoreU32(&out[2], static_cast<uint32_t>(out.size()));
    StoreU32(&out[10], static_cast<uint32_t>(offset));
    StoreU32(&out[14], 40);
    StoreU32(&out[18], static_cast<uint32_t>(p.width));
    StoreU32(&out[22], static_cast<uint32_t>(topDown ? -p.height : p.height));
    StoreU16(&out[26], 1);
    StoreU16(&out[28], static_cast<uint16_t>(bits));
    StoreU32(&out[30], compression);
    for (size_t m = 0; m < masks.size(); ++m) StoreU32(&out[54 + m * 4], masks[m]);
    for (int32_t y = 0; y < p.height; ++y) {
        int32_t fileRow = topDown ? y : p.height - 1 - y;
        for (int32_t x = 0; x < p.width; ++x) {
            uint8_t* to = &out[offset + fileRow * rowBytes + x * pixelBytes];
            memcpy(to, &p.bgr[(static_cast<size_t>(y) * p.width + x) * 3], 3);
            if (bits == 32) to[3] = 0x5A;  // never part of the colour
        }
    }
    return out;
}

class RctCommandTest : public ::testing::Test {
public:
    TempFolder root_;

    // Runs the rct command line and returns its exit code, with what it printed.
    int Run(const std::vector<std::string>& args, std::string* printed) {
        std::vector<std::string> all = {"patchtool", "rct"};
        all.insert(all.end(), args.begin(), args.end());
        FILE* sink = tmpfile();
        int code = RctCommand(all, sink, sink);
        *printed = ReadAll(sink);
        fclose(sink);
        return code;
    }
};

TEST_F(RctCommandTest, PictureFilesComeBackExactly) {
    const struct {
        int32_t width, height;
    } sizes[] = {{1, 1}, {2, 3}, {3, 2}, {4, 1}, {5, 4}, {7, 5}, {64, 3}};
    for (PictureKind kind : {kPictureBmp, kPicturePpm, kPicturePng}) {
        for (const auto& s : sizes) {
            SCOPED_TRACE(std::to_string(kind) + ": " + std::to_string(s.width) + "x" + std::to_string(s.height));
            Picture p = MakeTestPicture(s.width, s.height);
            std::string path = root_ / "picture", problem;
            ASSERT_TRUE(WritePictureFile(path, kind, p, &problem)) << problem;
            Picture back{0, 0, {}};
            ASSERT_TRUE(ReadPictureFile(path, &back, &problem)) << problem;
            EXPECT_EQ(p.width, back.width);
            EXPECT_EQ(p.height, back.height);
            EXPECT_TRUE(p.bgr == back.bgr);
            if (kind == kPictureBmp) {
                Bytes file;
                ASSERT_TRUE(ReadFileBytes(path, &file));
                EXPECT_EQ(54 + (s.width * 3u + 3) / 4 * 4 * s.height, file.size());
            }
        }
    }
}

TEST_F(RctCommandTest, BmpLayoutsThatAreTaken) {
    Picture p = MakeTestPicture(5, 3);
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"24-bit bottom-up", BuildBmp(p, 24, false)},
        {"24-bit top-down", BuildBmp(p, 24, true)},
        {"32-bit bottom-up", BuildBmp(p, 32, false)},
        {"32-bit top-down", BuildBmp(p, 32, true)},
        {"32-bit bit fields", BuildBmp(p, 32, false, 3, {0x00FF0000, 0x0000FF00, 0x000000FF})},
    };
    for (const auto& c : cases) {
        Picture back{0, 0, {}};
        std::string problem;
        ASSERT_TRUE(ParsePicture(c.file.data(), c.file.size(), &back, &problem)) << c.what << ": " << problem;
        EXPECT_EQ(5, back.width) << c.what;
        EXPECT_EQ(3, back.height) << c.what;
        EXPECT_TRUE(p.bgr == back.bgr) << c.what;
    }
    // PPM fields may be parted by comments and any whitespace.
    std::string header = "P6 # made by hand\n5\t3\r\n# depth\n255\n";
    Bytes ppm(header.begin(), header.end());
    for (size_t i = 0; i < p.bgr.size(); i += 3) ppm.insert(ppm.end(), {p.bgr[i + 2], p.bgr[i + 1], p.bgr[i]});
    Picture back{0, 0, {}};
    std::string problem;
    ASSERT_TRUE(ParsePicture(ppm.data(), ppm.size(), &back, &problem)) << problem;
    EXPECT_TRUE(p.bgr == back.bgr);
}

TEST_F(RctCommandTest, DamagedOrUnsupportedPicturesAreRefused) {
    Picture p = MakeTestPicture(4, 4);
    Bytes bmp = BuildBmp(p, 24, false);
    Bytes shortBmp(bmp.begin(), bmp.end() - 1);
    Bytes bmp8 = bmp;
    StoreU16(&bmp8[28], 8);
    Bytes rle = bmp;
    StoreU32(&rle[30], 1);
    Bytes odd = BuildBmp(p, 32, false, 3, {0x000000FF, 0x0000FF00, 0x00FF0000});
    Bytes huge = bmp;
    StoreU32(&huge[18], 100000);
    StoreU32(&huge[22], 100000);
    Bytes noPixels = bmp;
    StoreU32(&noPixels[18], 0);
    Bytes ppm = PpmBytes(p);
    std::string deep = "P6\n4 4\n65535\n";
    std::string noRaster = "P6\n4 4\n255\n";
    std::string garbage = "P6\n4 x\n255\n";
    Bytes png;
    std::string problem;
    std::string pngPath = root_ / "p.png";
    ASSERT_TRUE(WritePictureFile(pngPath, kPicturePng, p, &problem)) << problem;
    ASSERT_TRUE(ReadFileBytes(pngPath, &png));
    Bytes shortPng(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"BMP missing its last byte", shortBmp},
        {"BMP header only", Bytes(bmp.begin(), bmp.begin() + 30)},
        {"8-bit BMP", bmp8},
        {"RLE BMP", rle},
        {"32-bit BMP with red and blue swapped in the masks", odd},
        {"BMP beyond the largest RCT", huge},
        {"BMP without pixels", noPixels},
        {"PPM missing its last byte", Bytes(ppm.begin(), ppm.end() - 1)},
        {"16-bit PPM", Bytes(deep.begin(), deep.end())},
        {"PPM without a raster", Bytes(noRaster.begin(), noRaster.end())},
        {"PPM with a word for a size", Bytes(garbage.begin(), garbage.end())},
        {"PNG cut in half", shortPng},
        {"GIF", ToBytes("GIF89a....")},
        {"empty file", Bytes()},
    };
    for (const auto& c : cases) {
        Picture back{-7, -7, {}};
        problem.clear();
        EXPECT_FALSE(ParsePicture(c.file.data(), c.file.size(), &back, &problem)) << c.what;
        EXPECT_FALSE(problem.empty()) << c.what;
        EXPECT_EQ(-7, back.width) << c.what;
    }
}

TEST_F(RctCommandTest, PngAlphaIsCompositedOnBlack) {
    // Red opaque, green fully transparent, white half transparent (RGBA order).
    const uint8_t rgba[] = {255, 0, 0, 255, 0, 255, 0, 0, 255, 255, 255, 128};
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = 3;
    image.height = 1;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba, 0, nullptr));
    Bytes png(size);
    ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, rgba, 0, nullptr));
    Picture p{0, 0, {}};
    std::string problem;
    ASSERT_TRUE(ParsePicture(png.data(), size, &p, &problem)) << problem;
    ASSERT_EQ(9u, p.bgr.size());
    EXPECT_EQ((Bytes{0, 0, 255, 0, 0, 0}), Bytes(p.bgr.begin(), p.bgr.begin() + 6));
    for (int k = 6; k < 9; ++k) {
        EXPECT_GT(p.bgr[k], 60) << k;
        EXPECT_LT(p.bgr[k], 200) << k;
        EXPECT_EQ(p.bgr[6], p.bgr[k]);
    }
}

TEST_F(RctCommandTest, EncodeDecodeAndInfo) {
    Picture p = MakeTestPicture(37, 11);
    // Flat rows at the bottom, so that copies are in the stream too.
    std::fill(p.bgr.begin() + 37 * 3 * 6, p.bgr.end(), 0x44);
    std::string png = root_ / "in.png", rct = root_ / "out.rct", printed, problem;
    ASSERT_TRUE(WritePictureFile(png, kPicturePng, p, &problem)) << problem;

    ASSERT_EQ(0, Run({"encode", png, rct, "--tc01", "title"}, &printed)) << printed;
    ASSERT_EQ(0, Run({"info", rct}, &printed)) << printed;
    EXPECT_NE(std::string::npos, printed.find("TC01")) << printed;
    EXPECT_NE(std::string::npos, printed.find("37 x 11")) << printed;
    EXPECT_NE(std::string::npos, printed.find("stride        112 bytes")) << printed;
    EXPECT_NE(std::string::npos, printed.find("\"title\"")) << printed;
    EXPECT_NE(std::string::npos, printed.find("decodes cleanly")) << printed;

    for (const char* name : {"back.png", "back.bmp", "back.ppm"}) {
        std::string out = root_ / name;
        ASSERT_EQ(0, Run({"decode", rct, out}, &printed)) << name << printed;
        Picture back{0, 0, {}};
        ASSERT_TRUE(ReadPictureFile(out, &back, &problem)) << name << problem;
        EXPECT_EQ(37, back.width) << name;
        EXPECT_TRUE(p.bgr == back.bgr) << name;
    }

    const struct {
        const char* what;
        std::vector<std::string> args;
    } usage[] = {
        {"no subcommand", {}},
        {"decode to an unknown kind", {"decode", rct, root_ / "back.gif"}},
        {"--tc01 without a name", {"encode", png, rct, "--tc01"}},
        {"unknown option", {"encode", png, rct, "--fast"}},
        {"info of two files", {"info", rct, rct}},
    };
    for (const auto& u : usage) EXPECT_EQ(2, Run(u.args, &printed)) << u.what;
    EXPECT_EQ(1, Run({"encode", root_ / "missing.png", rct}, &printed));
}

TEST_F(RctCommandTest, InfoReportsDamagedPictures) {
    Picture p = MakeTestPicture(6, 4);
    Bytes good;
    ASSERT_EQ(kRctOk, EncodeRct(p.bgr.data(), 6, 4, 0, nullptr, &good));
    Bytes cut(good.begin(), good.end() - 1);
    StoreU32(&cut[16], static_cast<uint32_t>(cut.size() - kRctHeaderSize));
    Bytes shortFile(good.begin(), good.end() - 1);
    Bytes before = good;
    // Entry 9, the pixel above, on the first row: before the first pixel.
    before.resize(kRctHeaderSize + 3);
    before.insert(before.end(), {0xA7, 0x10, 0x00});
    StoreU32(&before[16], 6);
    Bytes past = good;
    past.resize(kRctHeaderSize + 3);
    past.insert(past.end(), {0x83, 0xFF, 0x00});
    StoreU32(&past[16], 6);
    // 1 x 2: entry 6 points three pixels right and one row up, which in a
    // picture one pixel wide is a pixel below, not yet written.
    Bytes forward = good;
    forward.resize(kRctHeaderSize);
    StoreU32(&forward[8], 1);
    StoreU32(&forward[12], 2);
    StoreU32(&forward[16], 4);
    forward.insert(forward.end(), {1, 1, 1, 0x98});
    Bytes magic = good;
    magic[7] = '9';
    Bytes zeroWidth = good;
    StoreU32(&zeroWidth[8], 0);
    const struct {
        const char* what;
        Bytes file;
        const char* says;
    } cases[] = {
        {"stream cut short", cut, "ends early"},
        {"file shorter than its packed length", shortFile, "ends early"},
        {"copy from above the first row", before, "copies from before the first pixel"},
        {"copy past the last pixel", past, "writes past the end of the image"},
        {"copy from a pixel below in a narrow picture", forward, "copies from pixels not yet written"},
        {"another magic", magic, "not an RCT"},
        {"zero width", zeroWidth, "out of range"},
    };
    std::string path = root_ / "bad.rct", printed;
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFileBytes(path, c.file));
        EXPECT_EQ(1, Run({"info", path}, &printed)) << c.what;
        EXPECT_NE(std::string::npos, printed.find(c.says)) << c.what << ": " << printed;
        EXPECT_EQ(1, Run({"decode", path, root_ / "x.bmp"}, &printed)) << c.what;
    }
    ASSERT_TRUE(WriteFileBytes(path, good));
    EXPECT_EQ(0, Run({"info", path}, &printed)) << printed;
}

TEST_F(RctCommandTest, FindStartupPictureAmongNames) {
    const struct {
        const char* what;
        std::vector<std::string> names;
        int expected;
        const char* picture;
    } cases[] = {
        {"none", {"install.env", "insttscr.rct"}, kNoStartupPicture, ""},
        {"png", {"install.env", "InstTscr.PNG"}, kStartupPictureFound, "InstTscr.PNG"},
        {"bmp", {"insttscr.bmp", "a.png"}, kStartupPictureFound, "insttscr.bmp"},
        {"ppm beside rct", {"insttscr.rct", "insttscr.ppm"}, kStartupPictureClash, "insttscr.ppm"},
        {"two pictures", {"insttscr.png", "insttscr.bmp"}, kStartupPictureClash, "insttscr.png"},
        {"longer name", {"insttscr.png.bak", "xinsttscr.png"}, kNoStartupPicture, ""},
    };
    for (const auto& c : cases) {
        std::string picture, other;
        EXPECT_EQ(c.expected, FindStartupPicture(c.names, &picture, &other)) << c.what;
        if (c.expected != kNoStartupPicture) {
            EXPECT_EQ(c.picture, picture) << c.what;
        }
        if (c.expected == kStartupPictureClash) {
            EXPECT_FALSE(other.empty()) << c.what;
        }
    }
}

class RctPackTest : public RctCommandTest {
public:
    std::string source_ = root_ / "src";
    std::string image_ = root_ / "updater.exe";
    std::string output_ = root_ / "out.exe";
    Picture picture_ = MakeTestPicture(30, 20);

    void SetUp() override {
        ASSERT_EQ(0, PlatformCreateFolder(source_.c_str()));
        ASSERT_TRUE(WriteFileBytes(image_, MakeUpdaterImage()));
        ASSERT_TRUE(WriteFileBytes(source_ + "\\install.env", ToBytes("INSTTITLE\tgame\r\n")));
        ASSERT_TRUE(WriteFileBytes(source_ + "\\readme.txt", ToBytes("read me\r\n")));
        ASSERT_TRUE(WriteFileBytes(source_ + "\\game.bin", Bytes(3000, 7)));
    }

    int Pack(PackReport* report) {
        return PackUpdater(PackRequest{image_, output_, source_, "", kDefaultPackLevel, kPackLimit, nullptr}, report);
    }
};

TEST_F(RctPackTest, PngBecomesInsttscrRctAmongTheStartupFiles) {
    std::string problem;
    ASSERT_TRUE(WritePictureFile(source_ + "\\insttscr.png", kPicturePng, picture_, &problem)) << problem;
    PackReport report;
    ASSERT_EQ(kPackDone, Pack(&report)) << DescribePackReport(report);
    std::vector<ListedEntry> listing;
    ASSERT_TRUE(ReadListing(output_.c_str(), &listing, &problem)) << problem;
    std::vector<std::string> names;
    for (const ListedEntry& e : listing) names.push_back(e.name);
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct", "readme.txt", "game.bin"}), names);

    std::string destination = root_ / "dest";
    FILE* sink = tmpfile();
    ASSERT_EQ(0, ExtractCommand(output_.c_str(), destination.c_str(), sink, sink));
    fclose(sink);
    EXPECT_FALSE(Exists(destination + "\\insttscr.png"));
    Bytes rct;
    ASSERT_TRUE(ReadFileBytes(destination + "\\insttscr.rct", &rct));
    RctHeader h;
    ASSERT_EQ(kRctOk, ParseRctHeader(rct.data(), rct.size(), &h));
    ASSERT_EQ(30, h.width);
    ASSERT_EQ(20, h.height);
    ASSERT_LE(h.streamOffset + h.packedLength, rct.size());
    Bytes pixels(picture_.bgr.size());
    ASSERT_EQ(kRctOk, DecodeRctStream(rct.data() + h.streamOffset, h.packedLength, 30, 20, pixels.data()));
    EXPECT_TRUE(picture_.bgr == pixels);
}

// Pictures that pack but are not what the maker meant: warned, and packed.
TEST_F(RctPackTest, PackWarnsAboutAPictureTheUpdaterDoesNotReadOrOneTooLargeToShow) {
    const struct {
        const char* fault;
        int32_t width, height;    // of insttscr.bmp
        const char* extra;        // another top-level file, or null
        const char* warning;      // part of the warning, or null for none
    } cases[] = {
        {"a JPEG taken for the background picture in silence", 30, 20, "insttscr.jpg", "\"insttscr.jpg\" is not a picture the updater reads"},
        {"a picture far wider than the window passed in silence", 700, 20, nullptr, "is 700 x 20 pixels"},
        {"a picture the window shows whole warned about", 580, 580, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string problem;
        ASSERT_TRUE(WritePictureFile(source_ + "\\insttscr.bmp", kPictureBmp, MakeTestPicture(c.width, c.height),
                                     &problem))
            << problem;
        if (c.extra != nullptr) {
            ASSERT_TRUE(WriteFileBytes(source_ + "\\" + c.extra, Bytes(10, 0xFF)));
        }
        FILE* out = tmpfile();
        EXPECT_EQ(0, PackCommand(PackRequest{image_, output_, source_, "", kDefaultPackLevel, kPackLimit, nullptr}, out, out));
        std::string said = ReadAll(out);
        fclose(out);
        if (c.warning != nullptr) {
            EXPECT_NE(std::string::npos, said.find(std::string("patchtool: warning: "))) << said;
            EXPECT_NE(std::string::npos, said.find(c.warning)) << said;
        } else {
            EXPECT_EQ(std::string::npos, said.find("patchtool: warning")) << said;
        }
        if (c.extra != nullptr) PlatformDeleteFile((source_ + "\\" + c.extra).c_str());
    }
}

TEST_F(RctPackTest, TwoBackgroundPicturesOrABrokenOneAreRefused) {
    std::string problem;
    const struct {
        const char* what;
        const char* first;
        const char* second;  // nullptr: none
        bool broken;
        int expected;
    } cases[] = {
        {"png beside rct", "insttscr.png", "insttscr.rct", false, kPackPictureClash},
        {"bmp beside ppm", "insttscr.bmp", "INSTTSCR.PPM", false, kPackPictureClash},
        {"broken bmp", "insttscr.bmp", nullptr, true, kPackBadPicture},
    };
    for (const auto& c : cases) {
        std::vector<std::string> made;
        for (const char* name : {c.first, c.second}) {
            if (name == nullptr) continue;
            std::string path = source_ + "\\" + name;
            PictureKind kind = PictureKindOfName(name);
            if (c.broken) ASSERT_TRUE(WriteFileBytes(path, ToBytes("BM broken")));
            else if (kind == kPictureUnknown) ASSERT_TRUE(WriteFileBytes(path, ToBytes("rct")));
            else ASSERT_TRUE(WritePictureFile(path, kind, picture_, &problem)) << problem;
            made.push_back(path);
        }
        PackReport report;
        EXPECT_EQ(c.expected, Pack(&report)) << c.what;
        EXPECT_NE(std::string::npos, DescribePackReport(report).find("background picture")) << c.what;
        EXPECT_FALSE(Exists(output_)) << c.what;
        for (const std::string& path : made) ASSERT_EQ(0, PlatformDeleteFile(path.c_str()));
    }
}

}  // namespace

namespace {

TEST_F(RctPackTest, ASuppliedRctThatTheUpdaterCannotShowIsRefused) {
    Bytes good;
    ASSERT_EQ(kRctOk, EncodeRct(picture_.bgr.data(), picture_.width, picture_.height, 0, nullptr, &good));
    Bytes shortFile(good.begin(), good.end() - 1);
    Bytes headerOnly(good.begin(), good.begin() + kRctHeaderSize - 1);
    Bytes forward = good;
    forward.resize(kRctHeaderSize);
    StoreU32(&forward[8], 1);
    StoreU32(&forward[12], 2);
    StoreU32(&forward[16], 4);
    forward.insert(forward.end(), {1, 1, 1, 0x98});
    Bytes magic = good;
    magic[7] = '7';
    const struct {
        const char* fault;
        const char* name;
        Bytes file;
        int expected;
        const char* says;
    } cases[] = {
        {"a stream one byte short: every start would end in the read-error box", "insttscr.rct", shortFile,
         kPackBadPicture, "read-error box"},
        {"a header cut short, in capitals", "INSTTSCR.RCT", headerOnly, kPackBadPicture, "read-error box"},
        {"a copy from pixels not yet written: no picture", "insttscr.rct", forward, kPackBadPicture,
         "not yet written"},
        {"another format under the picture's name: no picture", "insttscr.rct", magic, kPackBadPicture,
         "not an RCT"},
        {"a sound picture is packed", "InstTscr.rct", good, kPackDone, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string path = source_ + "\\" + c.name;
        ASSERT_TRUE(WriteFileBytes(path, c.file));
        PackReport report;
        EXPECT_EQ(c.expected, Pack(&report)) << DescribePackReport(report);
        if (c.expected != kPackDone) {
            EXPECT_EQ(c.name, report.entry);
            EXPECT_NE(std::string::npos, DescribePackReport(report).find(c.says)) << DescribePackReport(report);
            EXPECT_FALSE(Exists(output_));
        } else {
            EXPECT_TRUE(Exists(output_));
        }
        ASSERT_EQ(0, PlatformDeleteFile(path.c_str()));
    }
}

}  // namespace
