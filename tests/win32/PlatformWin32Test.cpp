// The platform layer on real Windows folders: Japanese names through the W
// functions whatever the system's code page, times, and sharing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "services/Platform.h"
#include "services/FileSearch.h"
#include "services/WorkingFolder.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

TEST(PlatformWin32Test, JapaneseNamesLandAsTheRightCharacters) {
    TempFolder dir;
    std::string name = "表示ソフト十予能.txt";
    ASSERT_TRUE(WriteFileBytes(dir / name, ToBytes("x")));
    // Read the folder with the W functions: the name must be the real characters.
    std::wstring wideFolder = Wide(dir.Path().c_str());
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((wideFolder + L"\\*.txt").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(std::wstring(L"\u8868\u793a\u30bd\u30d5\u30c8\u5341\u4e88\u80fd.txt"), fd.cFileName);
    FindClose(h);
    // And the program's own search gives the Shift-JIS bytes back.
    CurrentFolderGuard cwd;
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir.Path().c_str()));
    ASSERT_EQ(0, FindFirstMatch("*.*"));
    const char* found = FindNextMatch();
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(name, found);
}

TEST(PlatformWin32Test, FileTimesAndMovesBehaveAsTheStagingNeeds) {
    TempFolder dir;
    ASSERT_TRUE(WriteFileBytes(dir / "a.dat", ToBytes("a")));
    ASSERT_TRUE(WriteFileBytes(dir / "b.dat", ToBytes("b")));
    ASSERT_EQ(0, PlatformSetFileTime((dir / "a.dat").c_str(), kTestFileTime));
    uint64_t t = 0;
    ASSERT_EQ(0, PlatformGetFileTime((dir / "a.dat").c_str(), &t));
    EXPECT_EQ(kTestFileTime, t);
    EXPECT_NE(0, PlatformMoveFile((dir / "a.dat").c_str(), (dir / "b.dat").c_str()));
    // A file held open without delete sharing cannot be moved aside.
    HANDLE held = CreateFileW(Wide((dir / "b.dat").c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_NE(0, PlatformMoveFile((dir / "b.dat").c_str(), (dir / "c.dat").c_str()));
    CloseHandle(held);
    EXPECT_EQ(0, PlatformMoveFile((dir / "b.dat").c_str(), (dir / "c.dat").c_str()));
    uint32_t attributes = 0;
    EXPECT_EQ(0, PlatformGetAttributes((dir / "c.dat").c_str(), &attributes));
    EXPECT_EQ(0u, attributes & kAttrFolder);
}

TEST(PlatformWin32Test, WorkingFolderUnderAJapaneseTempFolder) {
    TempFolder dir;
    std::string temp = dir / "一時表";
    ASSERT_EQ(0, PlatformCreateFolder(temp.c_str()));
    CurrentFolderGuard cwd;
    TempPathOverride tempPath(temp);
    CreateWorkingFolder();
    std::string working = WorkingFolderPath();
    EXPECT_EQ(0u, working.find(temp + "\\TempGPInstallFolder_"));
    ASSERT_TRUE(WriteFileBytes("install.env", ToBytes("x")));
    EXPECT_TRUE(Exists(working + "\\install.env"));
    RemoveWorkingFolder();
    EXPECT_FALSE(Exists(working));
}

}  // namespace
