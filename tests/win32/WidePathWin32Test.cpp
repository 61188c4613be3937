// The Windows edge of every path: Shift-JIS to UTF-16 and back only when the
// spelling is exact, short forms for folders the system names in characters
// Shift-JIS lacks, and the long form for paths past the plain limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "services/Platform.h"
#include "services/TextCodec_win32.h"
#include "services/WidePath_win32.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

TEST(WidePathWin32Test, OnlyExactSpellingsBecomeShiftJis) {
    struct Row {
        const char* what;
        const wchar_t* wide;
        size_t capacity;
        const char* sjis;  // null: refused, leaving ""
    } rows[] = {
        {"Japanese folder", L"C:\\\u8868\\\u738b", 64, "C:\\\x95\x5C\\\x89\xA4"},
        {"exact capacity", L"ab\u8868", 5, "ab\x95\x5C"},
        {"one byte short", L"ab\u8868", 4, nullptr},
        {"empty text", L"", 1, ""},
        {"accented letter: best fit would give e", L"C:\\users\\Jos\u00e9", 64, nullptr},
        {"umlaut", L"M\u00fcller", 64, nullptr},
        {"Hangul: the default character", L"\uae40\ubbfc\uc218", 64, nullptr},
        {"yen sign: best fit would give a backslash", L"C:\\a\u00a5b", 64, nullptr},
        {"no room at all", L"a", 0, nullptr},
    };
    for (const Row& row : rows) {
        char out[64];
        memset(out, 'x', sizeof(out));
        bool ok = WideToSjis(row.wide, out, row.capacity);
        EXPECT_EQ(row.sjis != nullptr, ok) << row.what;
        if (row.capacity > 0) EXPECT_STREQ(row.sjis != nullptr ? row.sjis : "", out) << row.what;
    }
}

TEST(WidePathWin32Test, LongPathsTakeTheLongFormAndShortOnesStayPlain) {
    wchar_t out[kWidePathBuffer];
    ASSERT_TRUE(ToWidePath("C:\\games\\\x95\x5C\\data.arc", out, kWidePathBuffer));
    EXPECT_STREQ(L"C:\\games\\\u8868\\data.arc", out);
    std::string longPath = "C:\\" + std::string(300, 'a') + "\\b.dat";
    ASSERT_TRUE(ToWidePath(longPath.c_str(), out, kWidePathBuffer));
    EXPECT_EQ(L"\\\\?\\" + Wide(longPath.c_str()), std::wstring(out));
    std::string share = "\\\\server\\share\\" + std::string(300, 'a');
    ASSERT_TRUE(ToWidePath(share.c_str(), out, kWidePathBuffer));
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'a'), std::wstring(out));
    // A long relative name is made absolute against the current folder first.
    TempFolder dir;
    CurrentFolderGuard cwd;
    ASSERT_EQ(0, PlatformSetCurrentFolder(dir.Path().c_str()));
    std::string relative(300, 'r');
    ASSERT_TRUE(ToWidePath(relative.c_str(), out, kWidePathBuffer));
    EXPECT_EQ(L"\\\\?\\" + Wide((dir / relative).c_str()), std::wstring(out));
    EXPECT_FALSE(ToWidePath("\x81\x20", out, kWidePathBuffer)) << "not Shift-JIS";
    EXPECT_STREQ(L"", out);
    EXPECT_FALSE(ToWidePath(longPath.c_str(), out, 100)) << "does not fit";
    // Folders and files past the plain limit of 248 characters are made.
    std::string deep = dir.Path();
    while (deep.size() < 300) {
        deep += "\\" + std::string(40, 'd');
        ASSERT_EQ(0, PlatformCreateFolder(deep.c_str())) << deep.size();
    }
    FILE* f = PlatformOpenFile((deep + "\\f.dat").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fclose(f);
    EXPECT_EQ(0, PlatformMoveFile((deep + "\\f.dat").c_str(), (deep + "\\g.dat").c_str()));
    EXPECT_EQ(0, PlatformDeleteFile((deep + "\\g.dat").c_str()));
}

// A folder the system names with letters Shift-JIS lacks is spelled by its
// short form, which names the same folder; one with no short form fails.
TEST(WidePathWin32Test, SystemPathsFallBackToTheirShortForm) {
    TempFolder dir;
    std::wstring folder = Wide(dir.Path().c_str()) + L"\\Jos\u00e9";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    char sjis[MAX_PATH];
    ASSERT_TRUE(SystemPathToSjis(folder.c_str(), sjis, sizeof(sjis)));
    EXPECT_NE(dir / "Jose", std::string(sjis)) << "best fit, another folder";
    ASSERT_TRUE(WriteFileBytes(std::string(sjis) + "\\a.txt", ToBytes("a")));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\a.txt").c_str()));
    EXPECT_FALSE(SystemPathToSjis((folder + L"\\absent\u00e9").c_str(), sjis, sizeof(sjis)));
    EXPECT_STREQ("", sjis);
    EXPECT_TRUE(SystemPathToSjis(L"C:\\\u8868", sjis, sizeof(sjis))) << "exact, need not exist";
    EXPECT_STREQ("C:\\\x95\x5C", sjis);
}

}  // namespace
