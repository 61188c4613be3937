#include "services/WorkingFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "services/Platform.h"
#include "base/PathRules.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

std::string NameFor(uint32_t tick) {
    char name[kMaxPath];
    FormatWorkingFolderName(tick, name, sizeof(name));
    return name;
}

TEST(WorkingFolderTest, NameIsTheTimerAsASignedNumber) {
    EXPECT_EQ("TempGPInstallFolder_000000042", NameFor(42));
    EXPECT_EQ("TempGPInstallFolder_1000000000", NameFor(1000000000u));
    EXPECT_EQ("TempGPInstallFolder_-2147483648", NameFor(0x80000000u));
    EXPECT_EQ("TempGPInstallFolder_-00000001", NameFor(0xFFFFFFFFu));
}

TEST(WorkingFolderTest, CreatedUnderTempAndRemovedWithItsFilesButNotSubfolders) {
    TempFolder temp;
    TempFolder start;
    CurrentFolderGuard cwd;
    TempPathOverride tempPath(temp.Path());
    ASSERT_EQ(0, PlatformSetCurrentFolder(start.Path().c_str()));

    CreateWorkingFolder();
    std::string working = WorkingFolderPath();
    ASSERT_EQ(1u, ListFolder(temp.Path()).size());
    std::string name = ListFolder(temp.Path())[0];
    EXPECT_EQ(0u, name.rfind("TempGPInstallFolder_", 0));
    EXPECT_FALSE(EndsInSeparator(working.c_str()));
    EXPECT_TRUE(IsFolder(working));
    char current[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(current, sizeof(current)));
    EXPECT_TRUE(IsFolder(std::string(current)));
    // The bare names of start-up files land in the working folder.
    ASSERT_TRUE(WriteFileBytes("install.env", ToBytes("x")));
    EXPECT_TRUE(Exists(working + "\\install.env"));

    RemoveWorkingFolder();
    EXPECT_FALSE(Exists(working));
    char after[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(after, sizeof(after)));
    char expected[kMaxPath];
    ASSERT_EQ(0, PlatformSetCurrentFolder(start.Path().c_str()));
    ASSERT_EQ(0, PlatformGetCurrentFolder(expected, sizeof(expected)));
    EXPECT_STREQ(expected, after);

    CreateWorkingFolder();
    working = WorkingFolderPath();
    ASSERT_TRUE(WriteFileBytes(working + "\\a.txt", ToBytes("x")));
    ASSERT_EQ(0, PlatformCreateFolder((working + "\\sub").c_str()));
    RemoveWorkingFolder();
    EXPECT_EQ((std::vector<std::string>{"sub\\"}), ListTree(working));
}

// A temporary folder that cannot take the working folder sends it under the
// Windows folder's Temp; never into the current folder, never nowhere.
TEST(WorkingFolderTest, FallsBackToTheWindowsTempFolder) {
    TempFolder temp;
    TempFolder start;
    CurrentFolderGuard cwd;
#ifndef _WIN32
    TempFolder windows;
    ASSERT_EQ(0, PlatformCreateFolder((windows / "Temp").c_str()));
    setenv("UPDATER_WINDOWS_FOLDER", windows.Path().c_str(), 1);
    // A name with no Shift-JIS spelling, as a user named José has.
    std::string joseNative;
    {
        CurrentFolderGuard here;
        ASSERT_EQ(0, PlatformSetCurrentFolder(temp.Path().c_str()));
        ASSERT_EQ(0, mkdir("Jos\xC3\xA9", 0700));
        char native[1024];
        ASSERT_NE(nullptr, getcwd(native, sizeof(native)));
        joseNative = std::string(native) + "/Jos\xC3\xA9";
    }
#endif
    char windowsFolder[kMaxPath];
    ASSERT_EQ(0, PlatformGetWindowsFolder(windowsFolder, sizeof(windowsFolder)));
    std::string fallback = std::string(StripTrailingBackslash(windowsFolder)) + "\\Temp\\TempGPInstallFolder_";
    // Nest folders until the temp path leaves no room for the folder name.
    std::string deep = temp.Path();
    while (deep.size() < kShortPathBuffer - 20) {
        deep += "\\dddddddddd";
        ASSERT_EQ(0, PlatformCreateFolder(deep.c_str()));
    }
    struct Row {
        const char* what;
        std::string tempPath;
    } rows[] = {
        {"temp path too long for the folder name", deep},
        {"temp folder missing", temp / "missing"},
    };
    for (const Row& row : rows) {
        TempPathOverride tempPath(row.tempPath);
        ASSERT_EQ(0, PlatformSetCurrentFolder(start.Path().c_str()));
        ASSERT_EQ(0, CreateWorkingFolder()) << row.what;
        std::string working = WorkingFolderPath();
        EXPECT_EQ(0u, working.rfind(fallback, 0)) << row.what << ": " << working;
        EXPECT_TRUE(IsFolder(working)) << row.what;
        ASSERT_TRUE(WriteFileBytes("install.env", ToBytes("x")));
        EXPECT_TRUE(Exists(working + "\\install.env")) << row.what;
        EXPECT_TRUE(ListFolder(start.Path()).empty()) << row.what;
        RemoveWorkingFolder();
        EXPECT_FALSE(Exists(working)) << row.what;
    }
    EXPECT_TRUE(ListFolder(deep).empty());
#ifndef _WIN32
    {
        setenv("TMPDIR", joseNative.c_str(), 1);
        ASSERT_EQ(0, CreateWorkingFolder()) << "temp path with no Shift-JIS spelling";
        std::string working = WorkingFolderPath();
        EXPECT_EQ(0u, working.rfind(fallback, 0)) << working;
        RemoveWorkingFolder();
        EXPECT_FALSE(Exists(working));
    }
    // Neither place can take it: nothing is made and the current folder stays.
    TempFolder noTemp;
    setenv("UPDATER_WINDOWS_FOLDER", noTemp.Path().c_str(), 1);
    TempPathOverride missing(temp / "missing");
    ASSERT_EQ(0, PlatformSetCurrentFolder(start.Path().c_str()));
    EXPECT_EQ(1, CreateWorkingFolder());
    EXPECT_STREQ("", WorkingFolderPath());
    EXPECT_TRUE(ListFolder(noTemp.Path()).empty());
    char current[kMaxPath];
    char expected[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(current, sizeof(current)));
    ASSERT_EQ(0, PlatformSetCurrentFolder(start.Path().c_str()));
    ASSERT_EQ(0, PlatformGetCurrentFolder(expected, sizeof(expected)));
    EXPECT_STREQ(expected, current);
    unsetenv("UPDATER_WINDOWS_FOLDER");
#endif
}

std::string s_marker;

void MarkExitHandlerRan() { WriteFileBytes(s_marker, ToBytes("ran")); }

TEST(WorkingFolderDeathTest, EndProgramRemovesTheFolderAndRunsExitHandlers) {
    std::string temp = FixedTestFolder("updtest_fatal_exit");
    CurrentFolderGuard cwd;
    TempPathOverride tempPath(temp);
    s_marker = temp + "\\marker";
    EXPECT_EXIT(
        {
            atexit(MarkExitHandlerRan);
            CreateWorkingFolder();
            WriteFileBytes("install.env", ToBytes("x"));
            EndProgram(-1);
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "");
    EXPECT_TRUE(Exists(s_marker));
    EXPECT_EQ((std::vector<std::string>{"marker"}), ListFolder(temp));
    RemoveTree(temp);
}

// The elevated helper ends through EndProgram too: the folder it borrowed
// from the updater that started it, with the start-up files that updater
// still needs, must outlive it.
TEST(WorkingFolderDeathTest, ABorrowedFolderOutlivesTheBorrower) {
    TempFolder lender;
    CurrentFolderGuard cwd;
    ASSERT_TRUE(WriteFileBytes(lender / "install.env", ToBytes("x")));
    EXPECT_EXIT(
        {
            if (BorrowWorkingFolder(lender.Path().c_str()) != 0 || WorkingFolderPath() != lender.Path()) exit(1);
            // Bare names reach the borrowed folder, as the start-up files do.
            if (!Exists("install.env")) exit(2);
            EndProgram(3);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(Exists(lender / "install.env"));
    TempFolder gone;
    EXPECT_EQ(1, BorrowWorkingFolder((gone / "missing").c_str()));
}

}  // namespace
