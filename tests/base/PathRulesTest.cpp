#include "base/PathRules.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>

namespace {

std::string Ensure(std::string path, size_t capacity = kMaxPath) {
    char buffer[kMaxPath + 8] = {};
    path.copy(buffer, path.size());
    EnsureTrailingBackslash(buffer, capacity);
    return buffer;
}

std::string Strip(std::string path) {
    char buffer[kMaxPath + 8] = {};
    path.copy(buffer, path.size());
    StripTrailingBackslash(buffer);
    return buffer;
}

TEST(PathRulesTest, LeadByteTableFollowsShiftJisRangesOnly) {
    struct Case { int byte; bool lead; } cases[] = {
        {0x00, false}, {0x5C, false}, {0x7F, false}, {0x80, false}, {0x81, true}, {0x9F, true},
        {0xA0, false}, {0xDF, false}, {0xE0, true},  {0xFC, true},  {0xFD, false}, {0xFF, false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.lead, IsLeadByte(static_cast<uint8_t>(c.byte))) << c.byte;
}

TEST(PathRulesTest, TrailByteTableFollowsShiftJisRangesOnly) {
    struct Case { int byte; bool trail; const char* fault; } cases[] = {
        {0x00, false, "a NUL ends the text, it never completes a character"},
        {0x2E, false, "a dot after a lead byte is no character: 81 2E is refused by Windows"},
        {0x3F, false, "the last byte below the trail range"},
        {0x40, true, "the first trail byte (81 40 is the ideographic space)"},
        {0x5C, true, "a backslash completes 表 (95 5C)"},
        {0x7E, true, "the last byte before the gap"},
        {0x7F, false, "the gap inside the trail range"},
        {0x80, true, "the first byte after the gap"},
        {0x9F, true, "a lead-range byte is also a trail byte (ぁ is 82 9F)"},
        {0xFC, true, "the last trail byte"},
        {0xFD, false, "beyond the trail range"},
        {0xFF, false, "beyond the trail range"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.trail, IsTrailByte(static_cast<uint8_t>(c.byte))) << c.fault;
}

TEST(PathRulesTest, BackslashRulesLookOnlyAtTheLastTwoBytes) {
    // 表 is 95 5C: its second byte is a backslash. ぁ is 82 9F: a lead-range second byte.
    EXPECT_EQ("C:\\Temp\\", Ensure("C:\\Temp\\"));
    EXPECT_EQ("C:\\Temp\\", Ensure("C:\\Temp"));
    EXPECT_EQ("C:\\表\\", Ensure("C:\\表"));
    EXPECT_EQ("C:\\ぁ\\\\", Ensure("C:\\ぁ\\"));
    EXPECT_EQ("D:\\Games", Strip("D:\\Games\\"));
    EXPECT_EQ("D:\\Games\\", Strip("D:\\Games\\\\"));
    EXPECT_EQ("D:", Strip("D:\\"));
    EXPECT_EQ("C:\\表", Strip("C:\\表"));
    EXPECT_EQ("C:\\ぁ\\", Strip("C:\\ぁ\\"));
}

TEST(PathRulesTest, BackslashRulesOnTinyAndFullBuffers) {
    EXPECT_EQ("", Ensure(""));
    EXPECT_EQ("\\", Ensure("\\"));
    EXPECT_EQ("a\\", Ensure("a"));
    EXPECT_EQ("", Strip(""));
    EXPECT_EQ("\\", Strip("\\"));
    EXPECT_EQ("a", Strip("a"));
    // No room for the backslash and its terminator: the path stays as it is.
    EXPECT_EQ("abc", Ensure("abc", 4));
    EXPECT_EQ("abc\\", Ensure("abc", 5));
}

TEST(PathRulesTest, FolderPartSkipsSecondBytes) {
    EXPECT_EQ(0u, FolderPartLength("*.*"));
    EXPECT_EQ(5u, FolderPartLength("save\\*.dat"));
    EXPECT_EQ(5u, FolderPartLength("C:\\x\\*"));
    EXPECT_EQ(2u, FolderPartLength("C:*.txt"));
    EXPECT_EQ(2u, FolderPartLength("a/b"));
    // The 5C of 表 is not a separator.
    EXPECT_EQ(0u, FolderPartLength("表*"));
    EXPECT_EQ(3u, FolderPartLength("表\\*"));
}

TEST(PathRulesTest, CopiesAreBoundedAndNeverSplitACharacter) {
    char buffer[6];
    EXPECT_TRUE(CopyText(buffer, sizeof(buffer), "abcde"));
    EXPECT_STREQ("abcde", buffer);
    EXPECT_FALSE(CopyText(buffer, sizeof(buffer), "abcdef"));
    EXPECT_STREQ("abcde", buffer);
    // "abcd" then a two-byte character: only "abcd" fits whole.
    EXPECT_FALSE(CopyText(buffer, sizeof(buffer), "abcdア"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_TRUE(CopyText(buffer, sizeof(buffer), "ab"));
    EXPECT_FALSE(AppendText(buffer, sizeof(buffer), "表表"));
    EXPECT_STREQ("ab表", buffer);
}

TEST(PathRulesTest, JoinFitsOrLeavesNothing) {
    struct Row {
        const char* what;
        const char* folder;
        const char* name;
        size_t capacity;
        const char* joined;  // null: refused, leaving ""
    } rows[] = {
        {"fits exactly", "ab", "cde", 7, "ab\\cde"},
        {"one byte short", "abc", "defg", 8, nullptr},
        {"empty folder: the name would sit at the root of the drive", "", "install.env", 64, nullptr},
    };
    for (const Row& row : rows) {
        char joined[64];
        memset(joined, 'x', sizeof(joined));
        EXPECT_EQ(row.joined != nullptr, JoinPath(joined, row.capacity, row.folder, row.name)) << row.what;
        EXPECT_STREQ(row.joined != nullptr ? row.joined : "", joined) << row.what;
    }
}

TEST(PathRulesTest, CaseFoldingAndSearchRespectCharacters) {
    char text[] = "README.TXT\x83T";
    FoldToLowerSjis(text);
    EXPECT_STREQ("readme.txt\x83T", text);  // the T after a lead byte is a second byte
    EXPECT_TRUE(ContainsSjis("notes.txt.bak", ".txt"));
    // "i" (0x69) is a valid second byte: after 0x83 it belongs to a character.
    EXPECT_FALSE(ContainsSjis("\x83install.env", "install.env"));
    EXPECT_TRUE(ContainsSjis("\x83\x40install.env", "install.env"));
}

TEST(PathRulesTest, RelativePathsThatLeaveTheirFolder) {
    const struct {
        const char* relative;
        FolderEscape escape;
        const char* fault;
    } cases[] = {
        {"data\\old.dat", kStaysInFolder, "a plain entry refused"},
        {"..\\save\\*.*", kEscapeParentPart, "the folder above: every file beside the game would go"},
        {"data\\..\\..\\x.dat", kEscapeParentPart, "a \"..\" further in still climbs out"},
        {"data\\.. \\x.dat", kEscapeParentPart, "the system drops the blank after \"..\""},
        {"data\\..", kEscapeParentPart, "a final \"..\" part"},
        {"..x\\a.dat", kStaysInFolder, "a name that only begins with two dots"},
        {".\\a.dat", kStaysInFolder, "the folder itself"},
        {"\\Windows\\win.ini", kEscapeFromRoot, "a path from the root of the drive"},
        {"\\\\server\\share\\a", kEscapeFromRoot, "a network share"},
        {"/tmp/a", kEscapeFromRoot, "a slash is a separator to the system too"},
        {"a/../../b", kEscapeParentPart, "\"..\" between slashes"},
        {"C:x.dat", kEscapeDrive, "a drive, even without a separator"},
        {"C:\\Windows\\win.ini", kEscapeDrive, "a drive and a full path"},
        {"表\\..\\a", kEscapeParentPart, "表 ends in a 5C byte that is no separator; the '\\' after it is"},
        {"ソ..\\a", kStaysInFolder, "ソ (83 5C) followed by dots is a part \"ソ..\", not \"..\""},
        {"", kStaysInFolder, "an empty text read past its end"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.escape, FindFolderEscape(c.relative)) << c.fault;
}

}  // namespace
