#include "services/ProfileWriter.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>

#include "services/Platform.h"
#include "base/PathRules.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

std::string Contents(const std::string& path) {
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(path, &bytes));
    return std::string(bytes.begin(), bytes.end());
}

// Little-endian UTF-16 of ASCII text.
std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// Big-endian UTF-16 of ASCII text.
std::string Utf16Be(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += '\0';
        out += c;
    }
    return out;
}

TEST(ProfileWriterTest, EntriesKeepTheirBytesAndTheirPlaces) {
    TempFolder dir;
    std::string ini = dir / "ゲーム.ini";
    ASSERT_EQ(0, WriteProfileEntry("設定", "パス", "D:\\表\\save", ini.c_str()));
    ASSERT_EQ(0, WriteProfileEntry("設定", "音量", "5", ini.c_str()));
    ASSERT_EQ(0, WriteProfileEntry("Other", "a", "", ini.c_str()));
    // An existing key, written in another case and with blanks, is replaced in
    // place and keeps the file's spelling, as the system's writer keeps it.
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(Contents(ini) + "[Third]\r\n Key = old\r\n\r\n")));
    ASSERT_EQ(0, WriteProfileEntry("third", "KEY", "new", ini.c_str()));
    ASSERT_EQ(0, WriteProfileEntry("設定", "パス", "E:\\", ini.c_str()));
    EXPECT_EQ("[設定]\r\nパス=E:\\\r\n音量=5\r\n[Other]\r\na=\r\n[Third]\r\nKey=new\r\n\r\n", Contents(ini));
}

TEST(ProfileWriterTest, AFileInAFolderThatDoesNotExistFails) {
    TempFolder dir;
    EXPECT_NE(0, WriteProfileEntry("s", "k", "v", (dir / "missing\\x.ini").c_str()));
}

// Each row is a way the file can be written that a game reading it with the
// system's reader would take differently from what the system's writer does.
// The Windows tests hold the same cases against that writer itself.
TEST(ProfileWriterTest, FindsSectionsAndKeysAsTheSystemWriterDoes) {
    struct Case {
        const char* fault;  // what went wrong before these rules
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    };
    const Case cases[] = {
        {"blanks around '=' in the file: a second key was added, the old one read",
         "[s]\r\nPath = old\r\n", "s", "Path", "new", "[s]\r\nPath=new\r\n"},
        {"blanks around the key given: a second key was added", "[s]\r\nPath=old\r\n", "s", " Path\t", "new",
         "[s]\r\nPath=new\r\n"},
        {"blanks inside the brackets: a second section was added", "[ s ]\r\nPath=old\r\n", "s", "Path", "new",
         "[ s ]\r\nPath=new\r\n"},
        {"an indented header: a second section was added", "  [s]\r\nPath=old\r\n", "s", "Path", "new",
         "  [s]\r\nPath=new\r\n"},
        {"a comment after the header: a second section was added", "[s] ; main\r\nPath=old\r\n", "s", "Path",
         "new", "[s] ; main\r\nPath=new\r\n"},
        {"blanks around the section given: a second section was added", "[s]\r\nPath=old\r\n", " s ", "Path",
         "new", "[s]\r\nPath=new\r\n"},
        {"an indented next header: the key went into the next section", "[s]\r\nPath=old\r\n  [next]\r\nx=1\r\n",
         "s", "x", "2", "[s]\r\nPath=old\r\nx=2\r\n  [next]\r\nx=1\r\n"},
        {"a line of the key alone: not replaced", "[s]\r\nPath\r\nx=1\r\n", "s", "Path", "new",
         "[s]\r\nPath=new\r\nx=1\r\n"},
        {"an empty key: the comment line was overwritten", "[s]\r\n; comment\r\nk=v\r\n", "s", "", "new",
         "[s]\r\n; comment\r\nk=v\r\n=new\r\n"},
        {"an empty key with an entry of its own", "[s]\r\n=old\r\nk=v\r\n", "s", "", "new", "[s]\r\n=new\r\nk=v\r\n"},
        {"names differing in ASCII case", "[Sec]\r\nPATH = old\r\n", "sEC", "path", "new", "[Sec]\r\nPATH=new\r\n"},
        {"full-width letters are not folded", "[Ａ]\r\nk=1\r\n", "ａ", "k", "2", "[Ａ]\r\nk=1\r\n[ａ]\r\nk=2\r\n"},
        {"a full-width space is text, not a blank", "[s]\r\n　Path=old\r\n", "s", "Path", "new",
         "[s]\r\n　Path=old\r\nPath=new\r\n"},
        {"VT, FF and Ctrl-Z are blanks", "[s]\r\n\x0b\x0ck\x1a=1\r\n", "s", "k", "2", "[s]\r\nk=2\r\n"},
        {"a lone CR ends a line", "[s]\rPath=old\rx=1", "s", "Path", "new", "[s]\rPath=new\rx=1"},
        {"the name runs to the last ']'", "[a]b] ; x\r\nk=1\r\n", "a]b", "k", "2", "[a]b] ; x\r\nk=2\r\n"},
        {"a '[' line without ']' is a key, not a header", "[abc\r\nk=1\r\n", "abc", "k", "2",
         "[abc\r\nk=1\r\n[abc]\r\nk=2\r\n"},
        {"a second byte ']' never closes a header", "[a‐\r\nk=1\r\n", "a‐", "k", "2",
         "[a‐\r\nk=1\r\n[a‐]\r\nk=2\r\n"},
        {"second bytes '\\' and '[' stay part of their characters", "[表ー]\r\nソ=1\r\n", "表ー", "ソ", "2",
         "[表ー]\r\nソ=2\r\n"},
        {"a new key goes before the section's trailing blank lines", "[s]\r\nk=1\r\n\r\n\r\n[b]\r\n", "s", "n", "2",
         "[s]\r\nk=1\r\nn=2\r\n\r\n\r\n[b]\r\n"},
        {"a last line without a line break gets one", "[s]\r\nk=1", "s", "n", "2", "[s]\r\nk=1\r\nn=2\r\n"},
        {"the first of two sections of one name", "[s]\r\na=1\r\n[s]\r\nk=1\r\n", "s", "k", "2",
         "[s]\r\na=1\r\nk=2\r\n[s]\r\nk=1\r\n"},
        {"a blank section name means the lines before the first header", "pre=1\r\n[s]\r\nx=1\r\n", "  ", "pre", "2",
         "pre=2\r\n[s]\r\nx=1\r\n"},
        {"the value's leading blanks are dropped, its trailing ones kept", "[s]\r\n", "s", "k", "  v  ",
         "[s]\r\nk=v  \r\n"},
        {"bytes that are not Shift-JIS stay as they were", "[s]\r\nk=\x81\r\nz=\xFF\xFD\r\n", "s", "k", "2",
         "[s]\r\nk=2\r\nz=\xFF\xFD\r\n"},
        {"a UTF-8 file: a second section was added after its byte-order mark",
         "\xEF\xBB\xBF[s]\r\nz=\xFF\r\nPath=old\r\n", "s", "Path", "表",
         "\xEF\xBB\xBF[s]\r\nz=\xFF\r\nPath=\xE8\xA1\xA8\r\n"},
        {"a UTF-16 file: cut at its first zero byte", "\xFF\xFE" + Utf16("[s]\r\nP=o\r\n"), "s", "P", "表",
         "\xFF\xFE" + Utf16("[s]\r\nP=") + "\x68\x88" + Utf16("\r\n")},
        {"a big-endian UTF-16 file", "\xFE\xFF" + Utf16Be("[s]\r\nP=o\r\n"), "s", "n", "v",
         "\xFE\xFF" + Utf16Be("[s]\r\nP=o\r\nn=v\r\n")},
        {"a new file", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
    };
    TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string ini = dir / "game.ini";
        PlatformDeleteFile(ini.c_str());
        if (!c.before.empty()) {
            ASSERT_TRUE(WriteFileBytes(ini, ToBytes(c.before)));
        }
        EXPECT_EQ(kProfileOk, WriteProfileEntry(c.section, c.key, c.value, ini.c_str()));
        EXPECT_EQ(c.after, Contents(ini));
    }
}

TEST(ProfileWriterTest, EntriesAreWrittenInOrderAsSeparateCallsWouldWriteThem) {
    TempFolder dir;
    std::string ini = dir / "game.ini";
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes("[s]\r\na=1\r\n")));
    const ProfileEntry entries[] = {{"b", "2"}, {"a", "3"}, {"B", "4"}};
    ASSERT_EQ(kProfileOk, WriteProfileEntries("s", entries, 3, ini.c_str()));
    EXPECT_EQ("[s]\r\na=3\r\nb=4\r\n", Contents(ini));
    EXPECT_FALSE(Exists(ini + "~new"));
}

TEST(ProfileWriterTest, AFileWhoseTextDoesNotChangeIsNotWritten) {
    TempFolder dir;
    std::string ini = dir / "game.ini";
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes("[s]\r\nk=v\r\n")));
    ASSERT_EQ(0, PlatformSetFileTime(ini.c_str(), kTestFileTime));
    ASSERT_EQ(kProfileOk, WriteProfileEntry("s", "K", "v", ini.c_str()));
    uint64_t time = 0;
    ASSERT_EQ(0, PlatformGetFileTime(ini.c_str(), &time));
    EXPECT_EQ(kTestFileTime, time);
}

// A failure never loses or changes the file, and says why.
TEST(ProfileWriterTest, FailuresLeaveTheFileAsItWas) {
    TempFolder dir;
    std::string ini = dir / "game.ini";
    const std::string text = "[s]\r\nk=1\r\nother=kept\r\n";

    // A folder where the file should be cannot be read, and is not replaced.
    ASSERT_EQ(0, PlatformCreateFolder(ini.c_str()));
    EXPECT_EQ(kProfileCannotRead, WriteProfileEntry("s", "k", "2", ini.c_str()));
    EXPECT_TRUE(IsFolder(ini));
    ASSERT_EQ(0, PlatformRemoveFolder(ini.c_str()));

    // A read-only file stays as it is.
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(text)));
    ASSERT_EQ(0, PlatformSetAttributes(ini.c_str(), kAttrReadOnly));
    EXPECT_EQ(kProfileReadOnly, WriteProfileEntry("s", "k", "2", ini.c_str()));
    EXPECT_EQ(text, Contents(ini));
    ASSERT_EQ(0, PlatformSetAttributes(ini.c_str(), 0));

    // A UTF-16 file cut inside a character is not taken apart further.
    std::string odd = "\xFF\xFE" + Utf16("[s]\r\nk=1\r\n") + "x";
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(odd)));
    EXPECT_EQ(kProfileBadText, WriteProfileEntry("s", "k", "2", ini.c_str()));
    EXPECT_EQ(odd, Contents(ini));

    // Half a character (a value cut inside one) has no form in any encoding.
    // In a Shift-JIS file it would swallow the "]" of its section header, and
    // every later write would add the section again.
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(text)));
    EXPECT_EQ(kProfileBadText, WriteProfileEntry("\x90", "k", "2", ini.c_str()));
    EXPECT_EQ(kProfileBadText, WriteProfileEntry("s", "\x83\x41\x83", "2", ini.c_str()));
    EXPECT_EQ(kProfileBadText, WriteProfileEntry("s", "k", "\x90 x", ini.c_str()));
    EXPECT_EQ(text, Contents(ini));

    // A key that would open an empty Shift-JIS file with the bytes of a
    // byte-order mark: the file would then read as UTF-16 or UTF-8.
    for (const char* key : {"\xFF\xFEk", "\xFE\xFFk", "\xEF\xBB\xBFk"}) {
        ASSERT_TRUE(WriteFileBytes(ini, {}));
        EXPECT_EQ(kProfileBadText, WriteProfileEntry("", key, "1", ini.c_str())) << key;
        EXPECT_EQ("", Contents(ini));
    }

    // The new file cannot be made beside the old one.
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(text)));
    ASSERT_EQ(0, PlatformCreateFolder((ini + "~new").c_str()));
    EXPECT_EQ(kProfileCannotWrite, WriteProfileEntry("s", "k", "2", ini.c_str()));
    EXPECT_EQ(text, Contents(ini));
    ASSERT_EQ(0, PlatformRemoveFolder((ini + "~new").c_str()));

    // A name that with its folder does not fit a path.
    std::string longName = dir / (std::string(kMaxPath, 'n') + ".ini");
    EXPECT_EQ(kProfileBadPath, WriteProfileEntry("s", "k", "2", longName.c_str()));
}

TEST(ProfileWriterTest, WhatAnInterruptedWriteLeftIsOverwritten) {
    TempFolder dir;
    std::string ini = dir / "game.ini";
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes("[s]\r\nk=1\r\n")));
    ASSERT_TRUE(WriteFileBytes(ini + "~new", ToBytes("half a fi")));
    EXPECT_EQ(kProfileOk, WriteProfileEntry("s", "k", "2", ini.c_str()));
    EXPECT_EQ("[s]\r\nk=2\r\n", Contents(ini));
    EXPECT_FALSE(Exists(ini + "~new"));
}

#ifndef _WIN32
// A disk that fills while the new file is written: the new file is written
// through a link to a device that is always full.
TEST(ProfileWriterTest, AFullDiskLeavesTheOldFileWhole) {
    TempFolder dir;
    std::string ini = dir / "game.ini";
    std::string text = "[s]\r\n" + std::string(11000, 'x') + "=1\r\nk=1\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(text)));
    std::string native = ini + "~new";
    for (char& c : native)
        if (c == '\\') c = '/';
    ASSERT_EQ(0, symlink("/dev/full", native.c_str()));
    EXPECT_EQ(kProfileCannotWrite, WriteProfileEntry("s", "k", "2", ini.c_str()));
    EXPECT_EQ(text, Contents(ini));
    EXPECT_FALSE(Exists(ini + "~new"));
}
#endif

}  // namespace
