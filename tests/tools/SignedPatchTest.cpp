// Signed patches: pack writes a file that signing extends without padding,
// a patch signed with osslsigncode (as a maker signs it) lists, verifies and
// extracts as before, the signature covers the package, and pack given a
// signed image drops the signature that would no longer match.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/ProgramImage.h"
#include "services/Platform.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/CapturedOutput.h"
#include "tools/InspectCommands.h"
#include "tools/PackCommand.h"
#include "tools/ToolText.h"

namespace {

constexpr uint64_t kTime = 132593079670000000ULL;  // 2021-03-04 05:06:07 UTC
// An image section that leaves the image's length off the 8-byte boundary
// once the package is added, whatever the package's length.
constexpr size_t kSectionBytes = 3000;

// A native path for the shell: UTF-8 with '/'.
std::string ShellPath(const std::string& sjis) {
    std::string utf8;
    EXPECT_TRUE(SjisToUtf8(sjis.c_str(), &utf8));
    for (char& c : utf8)
        if (c == '\\') c = '/';
    return "'" + utf8 + "'";
}

// Runs a command through the shell; its exit status and what it printed.
int RunShell(const std::string& command, std::string* output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    output->clear();
    char block[1024];
    for (size_t got; (got = fread(block, 1, sizeof(block), pipe)) > 0;) output->append(block, got);
    return pclose(pipe);
}

Bytes ReadBytes(const std::string& path) {
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(path, &bytes)) << path;
    return bytes;
}

ImageLayout LayoutOf(const std::string& path) {
    ImageLayout layout = {-1, -1, -1, -1, -1, -1};
    FILE* file = PlatformOpenFile(path.c_str(), "rb");
    if (file == nullptr) return layout;
    PlatformSeek(file, 0, SEEK_END);
    int64_t size = PlatformTell(file);
    EXPECT_TRUE(ReadImageLayout(file, size, &layout)) << path;
    fclose(file);
    return layout;
}

class SignedPatchTest : public ::testing::Test {
protected:
    // One self-signed certificate for the whole suite, as a maker's test
    // certificate would be made.
    static void SetUpTestSuite() {
        keys_ = new TempFolder;
        std::string output;
        int status = RunShell("openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/CN=VORNEL test maker' -keyout " +
                             ShellPath(*keys_ / "key.pem") + " -out " + ShellPath(*keys_ / "cert.pem"),
                         &output);
        ASSERT_EQ(0, status) << output;
    }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(0, PlatformCreateFolder(source_.c_str()));
        ASSERT_TRUE(WriteFileBytes(image_, MakeUpdaterImage(kImagePe32Plus, kSectionBytes)));
        AddFile("install.env", ToBytes("TITLEBAR\tgame\r\n"));
        AddFile("insttscr.rct", TinyRctPicture());
        AddFile("readme.txt", ToBytes("read me\r\n"));
        Bytes data;
        for (int i = 0; i < 200000; ++i) data.push_back(static_cast<uint8_t>(i * 13 + i / 97));
        AddFile("data.arc", data);
    }

    void AddFile(const std::string& name, const Bytes& content) {
        std::string path = source_ + "\\" + name;
        ASSERT_TRUE(WriteFileBytes(path, content));
        ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), kTime));
    }

    void Pack(const std::string& image, const std::string& output, PackReport* report) {
        PackRequest request{image, output, source_, "", kDefaultPackLevel, kPackLimit, nullptr};
        ASSERT_EQ(kPackDone, PackUpdater(request, report)) << DescribePackReport(*report);
    }

    // Signs in with osslsigncode into out, which it will not overwrite.
    void Sign(const std::string& in, const std::string& out) {
        PlatformDeleteFile(out.c_str());
        std::string output;
        ASSERT_EQ(0, RunShell("osslsigncode sign -certs " + ShellPath(*keys_ / "cert.pem") + " -key " +
                             ShellPath(*keys_ / "key.pem") + " -in " + ShellPath(in) + " -out " + ShellPath(out),
                         &output))
            << output;
    }

    // osslsigncode's verdict on the signature of path, trusting the test certificate.
    int VerifySignature(const std::string& path, std::string* output) {
        return RunShell("osslsigncode verify -CAfile " + ShellPath(*keys_ / "cert.pem") + " -in " + ShellPath(path), output);
    }

    static TempFolder* keys_;
    TempFolder root_;
    std::string source_ = root_ / "src";
    std::string image_ = root_ / "updater.exe";
};

TempFolder* SignedPatchTest::keys_ = nullptr;

// Whatever the length of what is packed, the output ends on the boundary the
// certificate table is aligned to, and a repack finds the longer filler.
TEST_F(SignedPatchTest, PackEndsOnTheCertificateTableBoundary) {
    for (size_t extra = 0; extra < static_cast<size_t>(kCertificateAlignment); ++extra) {
        SCOPED_TRACE(extra);
        AddFile("notes.txt", Bytes(extra, 'n'));
        PackReport first;
        Pack(image_, root_ / "out.exe", &first);
        Bytes out = ReadBytes(root_ / "out.exe");
        EXPECT_EQ(0u, out.size() % kCertificateAlignment);
        EXPECT_EQ(static_cast<int64_t>(out.size()), first.imageBytes + first.packageBytes);
        VerifyReport verify;
        EXPECT_TRUE(VerifyPackage((root_ / "out.exe").c_str(), &verify)) << verify.reason;
        PackReport again;
        Pack(root_ / "out.exe", root_ / "again.exe", &again);
        EXPECT_EQ(5, again.replacedEntries);
        EXPECT_TRUE(out == ReadBytes(root_ / "again.exe"));
    }
}

// The maker's last step: signing. The signed patch lists, verifies and
// extracts as the unsigned one; its package is the same in length and bytes.
TEST_F(SignedPatchTest, SignedPatchListsVerifiesAndExtractsAsUnsigned) {
    PackReport report;
    Pack(image_, root_ / "patch.exe", &report);
    Sign(root_ / "patch.exe", root_ / "signed.exe");
    Bytes plain = ReadBytes(root_ / "patch.exe");
    Bytes signedPatch = ReadBytes(root_ / "signed.exe");
    ImageLayout layout = LayoutOf(root_ / "signed.exe");
    // No padding was needed: the table begins where the unsigned patch ended.
    EXPECT_EQ(static_cast<int64_t>(plain.size()), layout.certificateOffset);
    EXPECT_TRUE(IsSignedToTheEnd(layout, static_cast<int64_t>(signedPatch.size())));
    std::string output;
    EXPECT_EQ(0, VerifySignature(root_ / "signed.exe", &output)) << output;

    for (const std::string& name : {std::string("patch.exe"), std::string("signed.exe")}) {
        SCOPED_TRACE(name);
        std::string path = root_ / name;
        FILE* out = tmpfile();
        FILE* err = tmpfile();
        EXPECT_EQ(0, ListCommand(path.c_str(), out, err)) << ReadAll(err);
        std::string listing = ReadAll(out);
        EXPECT_NE(std::string::npos, listing.find("200000")) << listing;
        EXPECT_NE(std::string::npos, listing.find("data.arc")) << listing;
        EXPECT_EQ(0, VerifyCommand(path.c_str(), out, err)) << ReadAll(err);
        std::string destination = root_ / (name + ".dest");
        EXPECT_EQ(0, ExtractCommand(path.c_str(), destination.c_str(), out, err)) << ReadAll(err);
        fclose(out);
        fclose(err);
        EXPECT_EQ((std::vector<std::string>{"data.arc", "install.env", "insttscr.rct", "readme.txt"}), ListTree(destination));
        PackageStream stream;
        ASSERT_EQ(kPackageOk, OpenPackageStream(path.c_str(), &stream));
        EXPECT_EQ(report.packageBytes - static_cast<int64_t>(kTrailerSize), PackageLength(&stream));
        ClosePackageStream(&stream);
    }
    EXPECT_TRUE(SnapshotTree(root_ / "patch.exe.dest") == SnapshotTree(root_ / "signed.exe.dest"));
}

// A patch packed by an earlier tool, which did not align its end: the
// signing tool pads before the table, and the patch still reads.
TEST_F(SignedPatchTest, PaddedSignedPatchStillReads) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR\tgame\r\n"));
    AppendFile(&entries, "readme.txt", ToBytes("read me"));
    AppendFile(&entries, "insttscr.rct", TinyRctPicture());
    Bytes old = MakeProgramFile(MakeImage(kImagePe32Plus, kSectionBytes), entries);
    ASSERT_NE(0u, old.size() % kCertificateAlignment);
    ASSERT_TRUE(WriteFileBytes(root_ / "old.exe", old));
    Sign(root_ / "old.exe", root_ / "signed.exe");
    ImageLayout layout = LayoutOf(root_ / "signed.exe");
    EXPECT_EQ(static_cast<int64_t>((old.size() + kCertificateAlignment - 1) / kCertificateAlignment *
                                   kCertificateAlignment),
              layout.certificateOffset);
    std::vector<ListedEntry> listing;
    std::string problem;
    ASSERT_TRUE(ReadListing((root_ / "signed.exe").c_str(), &listing, &problem)) << problem;
    ASSERT_EQ(3u, listing.size());
    EXPECT_EQ("readme.txt", listing[1].name);
    VerifyReport verify;
    EXPECT_TRUE(VerifyPackage((root_ / "signed.exe").c_str(), &verify)) << verify.reason;
}

// The signature covers the package: one changed byte anywhere in it, even in
// the filler that nothing reads, and the signature check reports the digest
// mismatch.
TEST_F(SignedPatchTest, ChangingThePackageBreaksTheSignature) {
    PackReport report;
    Pack(image_, root_ / "patch.exe", &report);
    Sign(root_ / "patch.exe", root_ / "signed.exe");
    Bytes good = ReadBytes(root_ / "signed.exe");
    const size_t start = static_cast<size_t>(report.imageBytes);
    const size_t end = static_cast<size_t>(report.imageBytes + report.packageBytes);
    struct Case { const char* what; size_t at; } cases[] = {
        {"the first name length", start},
        {"inside the largest stream", start + static_cast<size_t>(report.packageBytes) / 2},
        {"the filler before the trailer", end - kTrailerSize - 1},
        {"the trailer", end - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = good;
        bad[c.at] ^= 0x01;
        ASSERT_TRUE(WriteFileBytes(root_ / "bad.exe", bad));
        std::string output;
        EXPECT_NE(0, VerifySignature(root_ / "bad.exe", &output));
        EXPECT_NE(std::string::npos, output.find("MISMATCH")) << output;
    }
    std::string output;
    EXPECT_EQ(0, VerifySignature(root_ / "signed.exe", &output)) << output;
}

// A signed image given to pack (the bare updater signed, or a signed patch
// packed again): the output carries neither the table nor the directory entry
// that pointed at it, says so, and signs cleanly.
TEST_F(SignedPatchTest, PackingASignedImageDropsItsSignature) {
    PackReport unsignedReport;
    Pack(image_, root_ / "plain.exe", &unsignedReport);
    EXPECT_FALSE(unsignedReport.droppedSignature);
    Sign(image_, root_ / "signed-updater.exe");
    Sign(root_ / "plain.exe", root_ / "signed-patch.exe");
    struct Case { const char* what; std::string image; int replaced; } cases[] = {
        {"a signed bare updater", root_ / "signed-updater.exe", -1},
        {"a signed patch packed again", root_ / "signed-patch.exe", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PackReport report;
        Pack(c.image, root_ / "out.exe", &report);
        EXPECT_TRUE(report.droppedSignature);
        EXPECT_EQ(c.replaced, report.replacedEntries);
        EXPECT_NE(std::string::npos, DescribePackReport(report).find("signature was dropped"));
        ImageLayout layout = LayoutOf(root_ / "out.exe");
        EXPECT_EQ(0, layout.certificateOffset);
        EXPECT_EQ(0, layout.certificateSize);
        VerifyReport verify;
        EXPECT_TRUE(VerifyPackage((root_ / "out.exe").c_str(), &verify)) << verify.reason;
        Sign(root_ / "out.exe", root_ / "resigned.exe");
        std::string output;
        EXPECT_EQ(0, VerifySignature(root_ / "resigned.exe", &output)) << output;
    }
}

}  // namespace
