// Full-mode extraction on real Windows files behind the real progress window:
// the install folder is either wholly updated or left as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "package/Extract.h"
#include "services/Platform.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

class FullExtractWin32Test : public ::testing::Test {
protected:
    int Walk(const Bytes& entries) {
        std::string path = packages_ / "p.exe";
        EXPECT_TRUE(WriteFileBytes(path, MakeProgramFile(ToBytes("MZ"), entries)));
        PackageStream stream;
        int result = OpenPackageStream(path.c_str(), &stream);
        if (result != kPackageOk) return result;
        const ProgressSink* sink = OpenCopyProgress(PackageLength(&stream));
        EXPECT_NE(nullptr, sink);
        result = WalkPackage(&stream, dest_.Path().c_str(), kFullMode, sink);
        CloseCopyProgress();
        ClosePackageStream(&stream);
        return result;
    }
    TreeSnapshot Snapshot() { return SnapshotTree(dest_.Path()); }
    TempFolder dest_;
    TempFolder packages_;
};

TEST_F(FullExtractWin32Test, WritesJapaneseNamesWithTheirTimes) {
    Bytes entries;
    AppendFolder(&entries, "表\\");
    AppendFile(&entries, "表\\ソフト.dat", Bytes(3 * 0x20000 + 5, 's'), 131000000000000000ULL);
    ASSERT_EQ(kPackageOk, Walk(entries));
    std::wstring wide = Wide((dest_ / "表\\ソフト.dat").c_str());
    WIN32_FILE_ATTRIBUTE_DATA d;
    ASSERT_TRUE(GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &d));
    EXPECT_EQ(3u * 0x20000 + 5, d.nFileSizeLow);
    uint64_t t = (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(131000000000000000ULL, t);
    EXPECT_EQ((std::vector<std::string>{"表\\", "表\\ソフト.dat"}), ListTree(dest_.Path()));
}

TEST_F(FullExtractWin32Test, FilesHeldOpenOrReadOnlyLeaveTheFolderAsItWas) {
    ASSERT_TRUE(WriteFileBytes(dest_ / "a.dat", ToBytes("old a")));
    ASSERT_TRUE(WriteFileBytes(dest_ / "game.exe", ToBytes("old game")));
    ASSERT_TRUE(WriteFileBytes(dest_ / "ro.dat", ToBytes("read-only")));
    auto before = Snapshot();

    Bytes entries;
    AppendFile(&entries, "a.dat", ToBytes("new a"));
    AppendFolder(&entries, "new\\");
    AppendFile(&entries, "new\\b.dat", ToBytes("b"));
    AppendFile(&entries, "game.exe", ToBytes("new game"));
    // The running game holds its file open without delete sharing.
    HANDLE held = CreateFileW(Wide((dest_ / "game.exe").c_str()).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(kPackageCannotReplace, Walk(entries));
    CloseHandle(held);
    EXPECT_EQ(before, Snapshot());

    ASSERT_EQ(0, PlatformSetAttributes((dest_ / "ro.dat").c_str(), kAttrReadOnly));
    Bytes readOnly;
    AppendFile(&readOnly, "a.dat", ToBytes("new a"));
    AppendFile(&readOnly, "ro.dat", ToBytes("new"));
    EXPECT_EQ(kPackageCannotReplace, Walk(readOnly));
    PlatformSetAttributes((dest_ / "ro.dat").c_str(), 0);
    EXPECT_EQ(before, Snapshot());

    // With nothing in the way the same package goes through.
    ASSERT_EQ(kPackageOk, Walk(entries));
    Bytes game;
    ASSERT_TRUE(ReadFileBytes(dest_ / "game.exe", &game));
    EXPECT_EQ(ToBytes("new game"), game);
}

}  // namespace
