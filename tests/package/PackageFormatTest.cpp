#include "package/PackageFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

int Check(const std::string& name, bool folder = false) {
    return CheckEntryName(name.c_str(), name.size() + 1, folder);
}

TEST(PackageFormatTest, NamesMustStayBelowTheDestination) {
    struct Case { const char* what; std::string name; bool folder; bool ok; } cases[] = {
        {"plain file", "data.arc", false, true},
        {"nested file", "save\\sub\\a.dat", false, true},
        {"top folder", "save\\", true, true},
        {"Japanese with 5C second bytes", "表\\ソフト.txt", false, true},
        {"file with final separator", "save\\", false, false},
        {"empty", "", false, false},
        {"leading backslash", "\\windows\\a.dll", false, false},
        {"leading slash", "/etc/a", false, false},
        {"drive", "C:x.dat", false, false},
        {"stream", "a.txt:hidden", false, false},
        {"dot dot", "save\\..\\..\\a.dat", false, false},
        {"dot dot by slash", "save/../a.dat", false, false},
        {"lone dot", ".\\a.dat", false, false},
        {"empty component", "save\\\\a.dat", false, false},
        {"trailing dot", "a.", false, false},
        {"trailing space", "save \\a", false, false},
        {"device", "con.txt", false, false},
        {"device in folder", "save\\LPT1", false, false},
        {"device-like but longer", "console.txt", false, true},
        {"wildcard", "a*.txt", false, false},
        {"control byte", "a\tb", false, false},
        {"staging folder", "TempGPUpdateStaging\\x", false, false},
        {"staging folder other case", "tempgpupdatestaging", false, false},
        {"second staging folder", "TempGPUpdateStaging_2\\a", false, false},
        {"lead byte without second", "a\x83", false, false},
        {"staging folder as a folder entry", "TempGPUpdateStaging\\", true, false},
        {"second staging folder as a folder entry", "TempGPUpdateStaging_2\\", true, false},
        {"staging name below the top", "save\\TempGPUpdateStaging\\", true, true},
        {"lead byte before a dot", "a\x81.txt", false, false},
        {"lead byte before a slash", "a\x82/b", false, false},
        {"lead byte before 7F", "a\x81\x7F", false, false},
        {"lead byte before FD", "\x9F\xFD" "a", false, false},
        {"folder ending in 表", "表\\", true, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ok ? kPackageOk : kPackageBadName, Check(c.name, c.folder)) << c.what;
}

// The reader and the makers' tool take their verdict from the same function:
// each refused name carries the reason the tool words.
TEST(PackageFormatTest, EveryRefusedNameHasItsReason) {
    struct Case { const char* fault; std::string name; bool folder; int problem; } cases[] = {
        {"a sound nested file", "save\\a.dat", false, kNameOk},
        {"a sound folder", "save\\sub\\", true, kNameOk},
        {"nothing before the NUL", "", false, kNameEmpty},
        {"a path from the drive's root", "\\a.dat", false, kNameRooted},
        {"two separators in a row", "a\\\\b", false, kNameEmptyPart},
        {"a file named like a folder", "save\\", false, kNameEmptyPart},
        {"a parent folder reference", "a\\..\\b", false, kNameDotOrSpaceEnd},
        {"a trailing space", "a ", false, kNameDotOrSpaceEnd},
        {"a device with an extension", "Aux.dat", false, kNameDevice},
        {"a device as a folder", "com9\\", true, kNameDevice},
        {"a drive", "C:a", false, kNameForbiddenByte},
        {"a wildcard", "*.dat", false, kNameForbiddenByte},
        {"half a character at the end", "\x95", false, kNameHalfCharacter},
        {"a lead byte before a colon", "\x95:", false, kNameBadPair},
        {"a lead byte before a tab", "\x81\t", false, kNameBadPair},
        {"the staging folder as a folder", "tempgpupdatestaging_7\\", true, kNameStaging},
        {"a file beginning with the staging name", "TempGPUpdateStagingX.dat", false, kNameStaging},
    };
    for (const Case& c : cases) EXPECT_EQ(c.problem, ExplainEntryName(c.name.c_str(), c.name.size() + 1, c.folder)) << c.fault;
    std::string tooLong(kMaxEntryName, 'a');
    EXPECT_EQ(kNameTooLong, ExplainEntryName(tooLong.c_str(), tooLong.size() + 1, false));
    EXPECT_EQ(kNameUnterminated, ExplainEntryName("ab\0c", 5, false));
    EXPECT_EQ(kNameUnterminated, ExplainEntryName("abc", 3, false));
    EXPECT_EQ(kNameEmpty, ExplainEntryName("", 0, false));
}

TEST(PackageFormatTest, NameLengthMustMatchItsTerminator) {
    EXPECT_EQ(kPackageBadName, CheckEntryName("ab\0c", 5, false));  // NUL inside
    EXPECT_EQ(kPackageBadName, CheckEntryName("abc", 3, false));    // no NUL at L
    EXPECT_EQ(kPackageBadName, CheckEntryName("", 1, false));
    std::string longest(kMaxEntryName - 1, 'a');
    EXPECT_EQ(kPackageOk, Check(longest));
    std::string tooLong(kMaxEntryName, 'a');
    EXPECT_EQ(kPackageBadName, Check(tooLong));
}

TEST(PackageFormatTest, StartupFilesByPatternAtCharacterBoundaries) {
    EXPECT_TRUE(IsStartupFile("readme.TXT"));
    EXPECT_TRUE(IsStartupFile("notes.txt.bak"));
    EXPECT_TRUE(IsStartupFile("INSTALL.ENV"));
    EXPECT_TRUE(IsStartupFile("InstTScr.rct"));
    EXPECT_TRUE(IsStartupFile("docs\\a.txt"));
    EXPECT_FALSE(IsStartupFile("data.arc"));
    EXPECT_FALSE(IsStartupFile("\x83install.env"));
    EXPECT_FALSE(IsStartupFile("txt"));
}

TEST(PackageFormatTest, NestedFolderTestSkipsSecondBytes) {
    EXPECT_FALSE(IsNestedFolderName("save\\"));
    EXPECT_TRUE(IsNestedFolderName("save\\sub\\"));
    EXPECT_FALSE(IsNestedFolderName("表\\"));
    EXPECT_TRUE(IsNestedFolderName("表\\ソ\\"));
}

TEST(PackageFormatTest, TrailerMustPointInsideTheFile) {
    TempFolder dir;
    struct Case { const char* what; Bytes file; int expected; } cases[] = {
        {"too short for a trailer", {1, 2, 3}, kPackageCannotOpen},
        {"trailer beyond end of file", {0, 0, 0, 0, 0x10, 0, 0, 0}, kPackageCannotOpen},
        {"trailer at itself", {0, 0, 0, 0, 4, 0, 0, 0}, kPackageOk},
        {"empty package", MakeProgramFile(ToBytes("MZimage"), {}), kPackageOk},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(dir / "p.exe", c.file));
        PackageStream s;
        EXPECT_EQ(c.expected, OpenPackageStream((dir / "p.exe").c_str(), &s)) << c.what;
        if (c.expected == kPackageOk) ClosePackageStream(&s);
    }
    PackageStream s;
    EXPECT_EQ(kPackageCannotOpen, OpenPackageStream((dir / "missing.exe").c_str(), &s));
}

TEST(PackageFormatTest, ReadsStopAtTheTrailer) {
    TempFolder dir;
    ASSERT_TRUE(WriteFileBytes(dir / "p.exe", MakeProgramFile(ToBytes("MZ"), {})));
    PackageStream s;
    ASSERT_EQ(kPackageOk, OpenPackageStream((dir / "p.exe").c_str(), &s));
    EXPECT_EQ(4, PackageLength(&s));  // end marker and filler
    uint8_t buffer[16];
    EXPECT_EQ(4u, ReadPackageBytes(&s, buffer, sizeof(buffer)));
    EXPECT_EQ(0u, ReadPackageBytes(&s, buffer, 1));
    EXPECT_EQ(kPackageTruncated, SkipPackageBytes(&s, 1));
    ClosePackageStream(&s);
}

TEST(PackageFormatTest, HeaderSizesAreChecked) {
    TempFolder dir;
    struct Case { const char* what; int32_t unpacked; uint32_t packed; int expected; } cases[] = {
        {"negative size other than folder", -2, 0, kPackageBadSize},
        {"packed size beyond 2^31", 1, 0x80000000u, kPackageBadSize},
        {"ordinary", 5, 3, kPackageOk},
    };
    for (const Case& c : cases) {
        Bytes entries;
        AppendRawFile(&entries, ToBytes(std::string("a.dat") + '\0'), c.unpacked, c.packed, 0, {});
        ASSERT_TRUE(WriteFileBytes(dir / "p.exe", MakeProgramFile({}, entries)));
        PackageStream s;
        ASSERT_EQ(kPackageOk, OpenPackageStream((dir / "p.exe").c_str(), &s));
        uint16_t length = 0;
        ASSERT_EQ(kPackageOk, ReadNameLength(&s, &length));
        PackageEntry entry;
        EXPECT_EQ(c.expected, ReadEntryHeader(&s, length, &entry)) << c.what;
        ClosePackageStream(&s);
    }
}

// A folder entry with a given packed-size field, which the reader never uses.
Bytes FolderWithPackedSize(const std::string& name, uint32_t packed) {
    Bytes entries;
    AppendFolder(&entries, name);
    for (size_t i = 0; i < 4; ++i) entries[entries.size() - 4 + i] = static_cast<uint8_t>(packed >> (8 * i));
    return entries;
}

TEST(PackageFormatTest, AFolderIsAcceptedWhateverItsPackedSize) {
    TempFolder dir;
    for (uint32_t packed : {0u, 0x7FFFFFFFu, 0x80000000u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
        ASSERT_TRUE(WriteFileBytes(dir / "p.exe", MakeProgramFile({}, FolderWithPackedSize("save", packed))));
        PackageStream s;
        ASSERT_EQ(kPackageOk, OpenPackageStream((dir / "p.exe").c_str(), &s));
        uint16_t length = 0;
        ASSERT_EQ(kPackageOk, ReadNameLength(&s, &length));
        PackageEntry entry;
        EXPECT_EQ(kPackageOk, ReadEntryHeader(&s, length, &entry)) << std::hex << packed;
        EXPECT_TRUE(entry.isFolder);
        EXPECT_STREQ("save", entry.name);
        // The stream stands at the end marker: nothing was skipped for the folder.
        EXPECT_EQ(kPackageOk, ReadNameLength(&s, &length));
        EXPECT_EQ(0, length);
        ClosePackageStream(&s);
    }
}

// Reports name the entry that failed, so a refused header must still leave its
// name, terminated, and never the previous entry's.
TEST(PackageFormatTest, ARefusedHeaderLeavesItsOwnNameTerminated) {
    TempFolder dir;
    std::string unterminated(kMaxEntryName, 'u');
    struct Case {
        const char* what;
        Bytes entries;
        int expected;
        std::string name;
    } cases[] = {
        {"a forbidden character", {}, kPackageBadName, "b:d.dat"},
        {"a negative size", {}, kPackageBadSize, "neg.dat"},
        {"a packed size beyond 2^31", {}, kPackageBadSize, "big.dat"},
        {"a name without its terminator", {}, kPackageBadName, "abc"},
        {"a 260-byte name without its terminator", {}, kPackageBadName, unterminated.substr(0, kMaxEntryName - 1)},
        {"a name longer than any path", {}, kPackageBadName, ""},
        {"the package ends inside the name", {}, kPackageTruncated, "cut"},
    };
    AppendRawFile(&cases[0].entries, ToBytes(std::string("b:d.dat") + '\0'), 1, 1, 0, {});
    AppendRawFile(&cases[1].entries, ToBytes(std::string("neg.dat") + '\0'), -5, 1, 0, {});
    AppendRawFile(&cases[2].entries, ToBytes(std::string("big.dat") + '\0'), 1, 0x80000001u, 0, {});
    AppendRawFile(&cases[3].entries, ToBytes("abc"), 1, 1, 0, {});
    AppendRawFile(&cases[4].entries, ToBytes(unterminated), 1, 1, 0, {});
    AppendNameLength(&cases[5].entries, static_cast<uint16_t>(kMaxEntryName + 1));
    cases[5].entries.resize(cases[5].entries.size() + kMaxEntryName + 1 + kSizeFieldsSize, 'x');
    AppendNameLength(&cases[6].entries, 20);
    for (char c : std::string("cut")) cases[6].entries.push_back(static_cast<uint8_t>(c));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes program = MakeProgramFile({}, c.entries);
        // Without the end marker and filler the cut name runs into the trailer.
        if (c.expected == kPackageTruncated) program.erase(program.end() - 8, program.end() - 4);
        ASSERT_TRUE(WriteFileBytes(dir / "p.exe", program));
        PackageStream s;
        ASSERT_EQ(kPackageOk, OpenPackageStream((dir / "p.exe").c_str(), &s));
        uint16_t length = 0;
        ASSERT_EQ(kPackageOk, ReadNameLength(&s, &length));
        PackageEntry entry;
        memset(entry.name, 'p', sizeof(entry.name));  // what a previous entry left
        EXPECT_EQ(c.expected, ReadEntryHeader(&s, length, &entry));
        EXPECT_EQ(c.name, std::string(entry.name));
        ClosePackageStream(&s);
    }
}

// A program file signed after the package was appended: the trailer is found
// before the certificate table and its padding, and the package is exactly
// that of the unsigned file, in length and in bytes.
struct SignedCase {
    const char* what;
    Bytes unsignedFile;  // image, package, trailer
    Bytes file;          // what is opened
    int expected;
};

// An unsigned program file over a PE image whose package ends padding bytes
// short of the next multiple of 8 (the filler grown to get there).
Bytes UnsignedProgram(ImageKind kind, size_t sectionBytes, size_t padding) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR x\r\n"));
    Bytes file = MakeProgramFile(MakeImage(kind, sectionBytes), entries);
    while ((file.size() + padding) % kCertificateAlignment != 0) file.insert(file.end() - kTrailerSize, 0);
    return file;
}

void ExpectOpensLike(const SignedCase& c, const std::string& path) {
    ASSERT_TRUE(WriteFileBytes(path, c.file));
    PackageStream s;
    ASSERT_EQ(c.expected, OpenPackageStream(path.c_str(), &s)) << c.what;
    if (c.expected != kPackageOk) return;
    uint32_t offset = c.unsignedFile[c.unsignedFile.size() - 4] | c.unsignedFile[c.unsignedFile.size() - 3] << 8 |
                      c.unsignedFile[c.unsignedFile.size() - 2] << 16 |
                      static_cast<uint32_t>(c.unsignedFile[c.unsignedFile.size() - 1]) << 24;
    EXPECT_EQ(offset, s.position) << c.what;
    size_t length = static_cast<size_t>(PackageLength(&s));
    EXPECT_EQ(c.unsignedFile.size() - kTrailerSize - offset, length) << c.what;
    Bytes package(length + 16);
    EXPECT_EQ(length, ReadPackageBytes(&s, package.data(), package.size())) << c.what;
    package.resize(length);
    EXPECT_TRUE(std::equal(package.begin(), package.end(), c.unsignedFile.begin() + offset)) << c.what;
    ClosePackageStream(&s);
}

TEST(PackageFormatTest, SignedFilesKeepTheirPackage) {
    TempFolder dir;
    std::vector<SignedCase> cases;
    for (size_t padding = 0; padding < static_cast<size_t>(kCertificateAlignment); ++padding) {
        Bytes plain = UnsignedProgram(kImagePe32Plus, 3000, padding);
        cases.push_back({"PE32+ signed with padding", plain, SignLikeATool(plain, 1536), kPackageOk});
    }
    Bytes pe32 = UnsignedProgram(kImagePe32, 3000, 5);
    cases.push_back({"PE32 signed with five bytes of padding", pe32, SignLikeATool(pe32, 1536), kPackageOk});
    // An offset of 0x10200 (00 02 01 00): zero bytes at both ends of the
    // trailer, so that fewer and more padding bytes both read as zeros.
    Bytes large = UnsignedProgram(kImagePe32Plus, 0x10000, 3);
    cases.push_back({"offset with zero high bytes and three bytes of padding", large, SignLikeATool(large, 512),
                     kPackageOk});
    Bytes plain = UnsignedProgram(kImagePe32Plus, 3000, 0);
    cases.push_back({"unsigned PE image, read as ever", plain, plain, kPackageOk});
    Bytes appended = SignLikeATool(UnsignedProgram(kImagePe32Plus, 100, 0), 512);
    Bytes repacked = MakeProgramFile(appended, {});
    cases.push_back({"a package appended after the table: the last four bytes", repacked, repacked, kPackageOk});
    Bytes beyond = plain;
    StoreU32(beyond.data() + SecurityEntryOffset(beyond), static_cast<uint32_t>(beyond.size()));
    StoreU32(beyond.data() + SecurityEntryOffset(beyond) + 4, 64);
    cases.push_back({"a table said to lie past the end: the last four bytes", plain, beyond, kPackageOk});
    Bytes dirty = SignLikeATool(UnsignedProgram(kImagePe32Plus, 3000, 4), 512);
    dirty[dirty.size() - 512 - 1] = 0x01;
    cases.push_back({"padding that is not zero", {}, dirty, kPackageCannotOpen});
    Bytes inside = SignLikeATool(plain, 512);
    StoreU32(inside.data() + plain.size() - kTrailerSize, 0x100);
    cases.push_back({"a trailer pointing into the image's headers", {}, inside, kPackageCannotOpen});
    Bytes past = SignLikeATool(plain, 512);
    StoreU32(past.data() + plain.size() - kTrailerSize, static_cast<uint32_t>(plain.size()));
    cases.push_back({"a trailer pointing past itself", {}, past, kPackageCannotOpen});
    for (const SignedCase& c : cases) ExpectOpensLike(c, dir / "signed.exe");
}

// A signed program file cut at every length: opening never reads outside it.
TEST(PackageFormatTest, TruncatedSignedFilesNeverCrash) {
    TempFolder dir;
    Bytes file = SignLikeATool(UnsignedProgram(kImagePe32Plus, 100, 3), 64);
    for (size_t size = 0; size < file.size(); ++size) {
        ASSERT_TRUE(WriteFileBytes(dir / "cut.exe", Bytes(file.begin(), file.begin() + static_cast<long>(size))));
        PackageStream s;
        if (OpenPackageStream((dir / "cut.exe").c_str(), &s) != kPackageOk) continue;
        EXPECT_LE(s.end + static_cast<int64_t>(kTrailerSize), static_cast<int64_t>(size)) << size;
        ClosePackageStream(&s);
    }
}

}  // namespace
