#include "shell/WorkingFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "services/Platform.h"
#include "shell/PathRules.h"
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

TEST(WorkingFolderTest, TempPathTooLongLeavesNoWorkingFolder) {
    TempFolder temp;
    CurrentFolderGuard cwd;
    // Nest folders until the temp path alone nearly fills the path buffer.
    std::string deep = temp.Path();
    while (deep.size() < kShortPathBuffer - 20) {
        deep += "\\dddddddddd";
        ASSERT_EQ(0, PlatformCreateFolder(deep.c_str()));
    }
    TempPathOverride tempPath(deep);
    CreateWorkingFolder();
    EXPECT_STREQ("", WorkingFolderPath());
    EXPECT_TRUE(ListFolder(deep).empty());
    RemoveWorkingFolder();
    EXPECT_TRUE(IsFolder(deep));
}

std::string s_marker;

void MarkExitHandlerRan() { WriteFileBytes(s_marker, ToBytes("ran")); }

TEST(WorkingFolderDeathTest, FatalExitRemovesTheFolderAndRunsExitHandlers) {
    std::string temp = FixedTestFolder("updtest_fatal_exit");
    CurrentFolderGuard cwd;
    TempPathOverride tempPath(temp);
    s_marker = temp + "\\marker";
    EXPECT_EXIT(
        {
            atexit(MarkExitHandlerRan);
            CreateWorkingFolder();
            WriteFileBytes("install.env", ToBytes("x"));
            shell::FatalExit(-1);
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "");
    EXPECT_TRUE(Exists(s_marker));
    EXPECT_EQ((std::vector<std::string>{"marker"}), ListFolder(temp));
    RemoveTree(temp);
}

}  // namespace
