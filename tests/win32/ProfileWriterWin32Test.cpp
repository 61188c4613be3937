// The INI writer held against the system's own profile writer: each case is
// written once with WritePrivateProfileStringA and once with the program's
// writer, each into its own copy of the same file, and a game reading either
// copy with the system's reader must find exactly the same sections, entries
// and values. Cases with Japanese text need the system's code page to be 932,
// where the system's writer keeps it; elsewhere only the others run.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "services/Platform.h"
#include "services/ProfileWriter.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

// Room for everything the system's reader returns from one small test file.
constexpr DWORD kReadBuffer = 8192;

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string Contents(const std::string& path) {
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(path, &bytes));
    return std::string(bytes.begin(), bytes.end());
}

// Bytes with control characters and bytes beyond ASCII shown as \xNN.
std::string Escaped(const std::string& bytes) {
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// A NUL-separated list as the reader returns it, one string a item.
std::vector<std::string> SplitList(const char* list) {
    std::vector<std::string> items;
    for (const char* p = list; *p != '\0'; p += strlen(p) + 1) items.push_back(p);
    return items;
}

// What a game reading the file with the system's reader finds: every section
// name, each with its "key=value" lines, and the value of the one key asked.
std::vector<std::string> WhatAGameReads(const std::string& path, const char* section, const char* key) {
    std::vector<char> buffer(kReadBuffer);
    std::vector<std::string> seen;
    GetPrivateProfileSectionNamesA(buffer.data(), kReadBuffer, path.c_str());
    for (const std::string& name : SplitList(buffer.data())) {
        seen.push_back("[" + name + "]");
        std::vector<char> lines(kReadBuffer);
        GetPrivateProfileSectionA(name.c_str(), lines.data(), kReadBuffer, path.c_str());
        for (const std::string& line : SplitList(lines.data())) seen.push_back(line);
    }
    GetPrivateProfileStringA(section, key, "(none)", buffer.data(), kReadBuffer, path.c_str());
    seen.push_back(std::string("read: ") + buffer.data());
    return seen;
}

struct OracleCase {
    const char* fault;  // what went wrong before the writer followed the system's rules
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    bool japanese;  // holds text that only code page 932 keeps
};

TEST(ProfileWriterWin32Test, AGameReadsWhatTheSystemWriterWouldHaveWritten) {
    const OracleCase cases[] = {
        {"blanks around '=' in the file", "[s]\r\nPath = old\r\n", "s", "Path", "new", false},
        {"blanks around the key given", "[s]\r\nPath=old\r\n", "s", " Path\t", "new", false},
        {"blanks inside the brackets", "[ s ]\r\nPath=old\r\n", "s", "Path", "new", false},
        {"an indented header", "  [s]\r\nPath=old\r\n", "s", "Path", "new", false},
        {"a comment after the header", "[s] ; main\r\nPath=old\r\n", "s", "Path", "new", false},
        {"blanks around the section given", "[s]\r\nPath=old\r\n", " s ", "Path", "new", false},
        {"an indented next header", "[s]\r\nPath=old\r\n  [next]\r\nx=1\r\n", "s", "x", "2", false},
        {"a line of the key alone", "[s]\r\nPath\r\nx=1\r\n", "s", "Path", "new", false},
        {"an empty key beside a comment", "[s]\r\n; comment\r\nk=v\r\n", "s", "", "new", false},
        {"an empty key with an entry of its own", "[s]\r\n=old\r\nk=v\r\n", "s", "", "new", false},
        {"names differing in ASCII case", "[Sec]\r\nPATH = old\r\n", "sEC", "path", "new", false},
        {"full-width letters", "[Ａ]\r\nk=1\r\n", "ａ", "k", "2", true},
        {"a full-width space before the key", "[s]\r\n　Path=old\r\n", "s", "Path", "new", true},
        {"VT, FF and Ctrl-Z", "[s]\r\n\x0b\x0ck\x1a=1\r\n", "s", "k", "2", false},
        {"lone CRs", "[s]\rPath=old\rx=1", "s", "Path", "new", false},
        {"a ']' inside the name", "[a]b] ; x\r\nk=1\r\n", "a]b", "k", "2", false},
        {"a '[' line without ']'", "[abc\r\nk=1\r\n", "abc", "k", "2", false},
        {"a second byte ']'", "[a‐\r\nk=1\r\n", "a‐", "k", "2", true},
        {"second bytes '\\' and '['", "[表ー]\r\nソ=1\r\n", "表ー", "ソ", "2", true},
        {"trailing blank lines", "[s]\r\nk=1\r\n\r\n\r\n[b]\r\nn=0\r\n", "s", "n", "2", false},
        {"no line break at the end", "[s]\r\nk=1", "s", "n", "2", false},
        {"two sections of one name", "[s]\r\na=1\r\n[s]\r\nk=1\r\n", "s", "k", "2", false},
        {"a blank section name", "pre=1\r\n[s]\r\nx=1\r\n", "  ", "pre", "2", false},
        {"blanks around the value", "[s]\r\nk=1\r\n", "s", "k", "  v  ", false},
        {"a quoted value", "[s]\r\nk=1\r\n", "s", "k", "\"q\"", false},
        {"Japanese text in a Shift-JIS file", "[設定]\r\nパス=C:\\旧\r\n", "設定", "パス", "D:\\表\\save", true},
        {"a UTF-8 file with a byte-order mark", "\xEF\xBB\xBF[s]\r\nPath=old\r\n", "s", "Path", "表", true},
        {"a UTF-8 file, ASCII entry", "\xEF\xBB\xBF[s]\r\nPath=old\r\n", "s", "Path", "new", false},
        {"a UTF-16 file", "\xFF\xFE" + Utf16("[s]\r\nP=o\r\n"), "s", "P", "表", true},
        {"a UTF-16 file, ASCII entry", "\xFF\xFE" + Utf16("[s]\r\nP=o\r\n"), "s", "n", "v", false},
        {"a new file", "", "s", "k", "v", false},
    };
    bool japaneseSystem = GetACP() == 932;
    TempFolder dir;
    int n = 0;
    for (const OracleCase& c : cases) {
        ++n;
        if (c.japanese && !japaneseSystem) continue;
        SCOPED_TRACE(c.fault);
        std::string oracle = dir / ("system" + std::to_string(n) + ".ini");
        std::string ours = dir / ("program" + std::to_string(n) + ".ini");
        if (!c.before.empty()) {
            ASSERT_TRUE(WriteFileBytes(oracle, ToBytes(c.before)));
            ASSERT_TRUE(WriteFileBytes(ours, ToBytes(c.before)));
        }
        ASSERT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, oracle.c_str()));
        ASSERT_EQ(kProfileOk, WriteProfileEntry(c.section, c.key, c.value, ours.c_str()));
        EXPECT_EQ(WhatAGameReads(oracle, c.section, c.key), WhatAGameReads(ours, c.section, c.key))
            << "program's file: " << Escaped(Contents(ours));
    }
}

// Where the system's writer fails, the program's fails too, and the file is
// as it was; once the cause is gone, the same call goes through.
TEST(ProfileWriterWin32Test, AFileHeldOpenOrReadOnlyIsLeftAsItWas) {
    TempFolder dir;
    const std::string text = "[s]\r\nk=1\r\nother=kept\r\n";
    struct Case {
        const char* what;
        DWORD sharing;  // of a handle held on the file; none for the read-only case
        bool readOnly;
        int expected;
        // Windows refuses to write a read-only file; Wine keeps the attribute
        // in the permission bits, which a test run as root does not meet.
        bool systemFails;
    } cases[] = {
        {"held open with no sharing: it cannot even be read", 0, false, kProfileCannotRead, true},
        {"held open for reading only: it cannot be replaced", FILE_SHARE_READ, false, kProfileCannotWrite, true},
        {"read-only", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, kProfileReadOnly, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string oracle = dir / "system.ini";
        std::string ours = dir / "program.ini";
        for (const std::string& path : {oracle, ours}) {
            SetFileAttributesW(Wide(path.c_str()).c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(WriteFileBytes(path, ToBytes(text)));
            if (c.readOnly) {
                ASSERT_TRUE(SetFileAttributesW(Wide(path.c_str()).c_str(), FILE_ATTRIBUTE_READONLY));
            }
        }
        HANDLE held[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
        if (!c.readOnly) {
            held[0] = CreateFileW(Wide(oracle.c_str()).c_str(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
            held[1] =
                CreateFileW(Wide(ours.c_str()).c_str(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held[0]);
            ASSERT_NE(INVALID_HANDLE_VALUE, held[1]);
        }
        BOOL systemWrote = WritePrivateProfileStringA("s", "k", "2", oracle.c_str());
        if (c.systemFails) {
            EXPECT_FALSE(systemWrote);
        }
        EXPECT_EQ(c.expected, WriteProfileEntry("s", "k", "2", ours.c_str()));
        for (HANDLE h : held)
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EXPECT_EQ(text, Contents(ours));
        EXPECT_FALSE(Exists(ours + "~new"));
        // The cause gone, the entry goes in.
        SetFileAttributesW(Wide(ours.c_str()).c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(kProfileOk, WriteProfileEntry("s", "k", "2", ours.c_str()));
        EXPECT_EQ("[s]\r\nk=2\r\nother=kept\r\n", Contents(ours));
    }
}

TEST(ProfileWriterWin32Test, ReplacingAFileTakesItsPlaceOrChangesNothing) {
    TempFolder dir;
    std::string target = dir / "設定.ini";
    std::string fresh = dir / "設定.ini~new";
    ASSERT_TRUE(WriteFileBytes(fresh, ToBytes("first")));
    ASSERT_EQ(0, PlatformReplaceFile(fresh.c_str(), target.c_str()));  // no file there yet
    EXPECT_EQ("first", Contents(target));
    EXPECT_FALSE(Exists(fresh));
    ASSERT_TRUE(WriteFileBytes(fresh, ToBytes("second")));
    HANDLE held = CreateFileW(Wide(target.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_NE(0, PlatformReplaceFile(fresh.c_str(), target.c_str()));
    CloseHandle(held);
    EXPECT_EQ("first", Contents(target));
    EXPECT_EQ("second", Contents(fresh));
    ASSERT_EQ(0, PlatformSetAttributes(target.c_str(), kAttrReadOnly));
    EXPECT_NE(0, PlatformReplaceFile(fresh.c_str(), target.c_str()));
    EXPECT_EQ("first", Contents(target));
    ASSERT_EQ(0, PlatformSetAttributes(target.c_str(), 0));
    EXPECT_EQ(0, PlatformReplaceFile(fresh.c_str(), target.c_str()));
    EXPECT_EQ("second", Contents(target));
    EXPECT_FALSE(Exists(fresh));
}

TEST(ProfileWriterWin32Test, ShiftJisConvertsToUtf16WhateverTheSystemCodePage) {
    uint16_t units[8];
    size_t count = 0;
    ASSERT_EQ(0, PlatformSjisToUtf16("a表ｱ", units, 8, &count));
    ASSERT_EQ(3u, count);
    EXPECT_EQ(0x61, units[0]);
    EXPECT_EQ(0x8868, units[1]);
    EXPECT_EQ(0xFF71, units[2]);
    EXPECT_NE(0, PlatformSjisToUtf16("表表表", units, 2, &count));
    EXPECT_EQ(0u, count);
    EXPECT_NE(0, PlatformSjisToUtf16("\x81", units, 8, &count));
}

}  // namespace
