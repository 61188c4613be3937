#include "services/FileSearch.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "services/Platform.h"
#include "base/PathRules.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

class FileSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFileBytes(dir / "a.dat", ToBytes("a")));
        ASSERT_TRUE(WriteFileBytes(dir / "表.txt", ToBytes("b")));
        ASSERT_EQ(0, PlatformCreateFolder((dir / "sub").c_str()));
        ASSERT_TRUE(WriteFileBytes(dir / "sub\\c.dat", ToBytes("c")));
        ASSERT_TRUE(WriteFileBytes(dir / "sub\\noext", ToBytes("d")));
    }
    std::set<std::string> Drain() {
        std::set<std::string> found;
        for (const char* p = FindNextMatch(); p != nullptr; p = FindNextMatch()) found.insert(p);
        return found;
    }
    TempFolder dir;
    CurrentFolderGuard cwd;
};

TEST_F(FileSearchTest, ReturnsFilesOnlyThenStaysExhausted) {
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir.Path().c_str()));
    ASSERT_EQ(0, FindFirstMatch("*.*"));
    EXPECT_EQ((std::set<std::string>{"a.dat", "表.txt"}), Drain());
    EXPECT_EQ(nullptr, FindNextMatch());
    EXPECT_EQ(nullptr, FindNextMatch());
}

TEST_F(FileSearchTest, ResultsCarryThePatternsFolderPart) {
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir.Path().c_str()));
    ASSERT_EQ(0, FindFirstMatch("sub\\*.*"));
    EXPECT_EQ((std::set<std::string>{"sub\\c.dat", "sub\\noext"}), Drain());
    std::string absolute = dir / "sub\\*.dat";
    ASSERT_EQ(0, FindFirstMatch(absolute.c_str()));
    EXPECT_EQ((std::set<std::string>{dir / "sub\\c.dat"}), Drain());
}

TEST_F(FileSearchTest, NewSearchEndsTheOldOne) {
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir.Path().c_str()));
    ASSERT_EQ(0, FindFirstMatch("*.*"));
    ASSERT_NE(nullptr, FindNextMatch());
    ASSERT_EQ(0, FindFirstMatch("sub\\*.dat"));
    EXPECT_EQ((std::set<std::string>{"sub\\c.dat"}), Drain());
    EXPECT_EQ(1, FindFirstMatch("*.none"));
    EXPECT_EQ(nullptr, FindNextMatch());
    // A pattern longer than its buffer is refused rather than cut to a wider one.
    std::string longPattern(kMaxPath, 'x');
    EXPECT_EQ(1, FindFirstMatch(longPattern.c_str()));
}

TEST_F(FileSearchTest, DeleteKeepsFoldersAndRestoresTheCurrentFolder) {
    TempFolder elsewhere;
    ASSERT_TRUE(WriteFileBytes(elsewhere / "keep.dat", ToBytes("k")));
    ASSERT_EQ(0, PlatformSetCurrentFolder(elsewhere.Path().c_str()));
    char before[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(before, sizeof(before)));

    DeleteMatchingFiles(dir.Path().c_str(), "sub\\*.dat");
    EXPECT_EQ((std::vector<std::string>{"a.dat", "sub\\", "sub\\noext", "表.txt"}), ListTree(dir.Path()));
    DeleteMatchingFiles(dir.Path().c_str(), "*.*");
    EXPECT_EQ((std::vector<std::string>{"sub\\", "sub\\noext"}), ListTree(dir.Path()));

    char after[kMaxPath];
    ASSERT_EQ(0, PlatformGetCurrentFolder(after, sizeof(after)));
    EXPECT_STREQ(before, after);
    EXPECT_TRUE(Exists(elsewhere / "keep.dat"));
}

TEST_F(FileSearchTest, DeleteInAMissingFolderDeletesNothingElsewhere) {
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir.Path().c_str()));
    DeleteMatchingFiles((dir / "missing").c_str(), "*.*");
    DeleteMatchingFiles("", "*.*");
    EXPECT_TRUE(Exists(dir / "a.dat"));
    EXPECT_TRUE(Exists(dir / "表.txt"));
}

TEST_F(FileSearchTest, ReadOnlyFilesArePassedOver) {
    ASSERT_EQ(0, PlatformSetAttributes((dir / "a.dat").c_str(), kAttrReadOnly));
    DeleteMatchingFiles(dir.Path().c_str(), "*.*");
    EXPECT_TRUE(Exists(dir / "a.dat"));
    EXPECT_FALSE(Exists(dir / "表.txt"));
}

}  // namespace
