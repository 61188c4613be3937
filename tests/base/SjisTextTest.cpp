#include "base/SjisText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// 表 is 95 5C and ソ is 83 5C: second bytes equal to '\'. ポ is 83 7C: a '|'.
// ア is 83 41: a second byte equal to 'A'. 0x83 alone at the end is half a character.

TEST(SjisTextTest, NextCharIndexStepsByWholeCharacters) {
    struct Case { std::string text; size_t i; size_t next; const char* fault; } cases[] = {
        {"ab", 0, 1, "an ASCII byte taken as a lead byte"},
        {"\x95\x5C" "a", 0, 2, "the 5C second byte of 表 taken as a character of its own"},
        {"\xB1" "a", 0, 1, "a half-width katakana byte (B1) taken as a lead byte"},
        {"\xFC\x40", 0, 2, "the last lead byte (FC) missing from the table"},
        {"a\x83", 1, 2, "a lead byte at the end stepping past the text"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.next, NextCharIndex(c.text.data(), c.text.size(), c.i)) << c.fault;
        EXPECT_EQ(c.next, NextCharIndex(c.text.c_str(), c.i)) << c.fault << " (terminated)";
    }
    // Within a longer buffer, the length alone says where the text ends.
    EXPECT_EQ(2u, NextCharIndex("a\x83\x40", 2, 1)) << "a lead byte at the length's end paired with what follows";
}

TEST(SjisTextTest, ReplaceSjisByteKeepsSecondBytes) {
    struct Case { std::string text; char from, to; std::string expected; const char* fault; } cases[] = {
        {"a|b|", '|', ' ', "a b ", "only the first bar replaced"},
        {"\x83\x7C|", '|', ' ', "\x83\x7C ", "the 7C second byte of ポ replaced"},
        {"\x95\x5C/\x83\x5C", '/', '\\', "\x95\x5C\\\x83\x5C", "a slash after 表 missed, or 表 broken"},
        {"|\x83", '|', ' ', " \x83", "a lead byte at the end read past"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        ReplaceSjisByte(&text[0], c.from, c.to);
        EXPECT_EQ(c.expected, text) << c.fault;
    }
    char counted[] = {'|', '\0', '|'};
    ReplaceSjisByte(counted, sizeof(counted), '|', ' ');
    EXPECT_EQ(std::string(" \0 ", 3), std::string(counted, 3)) << "the counted form stopping at a NUL";
}

TEST(SjisTextTest, FoldingLeavesDoubleByteCharactersAlone) {
    struct Case { std::string text; std::string folded; const char* fault; } cases[] = {
        {"INSTALL.Env", "install.env", "a capital letter left unfolded"},
        {"@AZ[", "@az[", "a byte beside the A-Z range folded, or A or Z missed"},
        {"\x83\x41" "B", "\x83\x41" "b", "the 41 second byte of ア folded to 61"},
        {"A\x83", "a\x83", "a lead byte at the end read past"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        FoldToLowerSjis(&text[0]);
        EXPECT_EQ(c.folded, text) << c.fault;
    }
    char counted[] = {'A', '\0', 'B'};
    FoldToLowerSjis(counted, sizeof(counted));
    EXPECT_EQ(std::string("a\0b", 3), std::string(counted, 3)) << "the counted form stopping at a NUL";
    EXPECT_EQ(0x8341u, FoldAsciiLetter(0x8341)) << "a double-byte unit folded";
    EXPECT_EQ(static_cast<uint32_t>('z'), FoldAsciiLetter('Z')) << "the last capital left unfolded";
}

// Two names fold alike exactly when NTFS takes them for one file.
TEST(SjisTextTest, FileNamesFoldAsNtfsMatchesThem) {
    struct Case { const char* a; const char* b; bool same; const char* fault; } cases[] = {
        {"Ａ.dat", "ａ.dat", true, "full-width letters in either case taken for two files"},
        {"ＺＺ", "ｚｚ", true, "the last full-width letter left out"},
        {"ΩΣ", "ωσ", true, "Greek letters in either case taken for two files"},
        {"ЁЯ.txt", "ёя.txt", true, "Cyrillic past the gap at 0x847F mapped to the wrong letter"},
        {"Ⅳ", "ⅳ", true, "Roman numerals in either case taken for two files"},
        {"Ⅳ", "Ⅴ", false, "a numeral folded onto the next one"},
        {"\xFA\x4A", "\x87\x54", true, "Roman numeral I, spelled twice by the code page, taken for two names"},
        {"\xFA\x5C", "\xED\x40", true, "a kanji of IBM's row and NEC's taken for two names"},
        {"DATA\\x", "data\\X", true, "ASCII letters no longer folded"},
        {"ア", "ァ", false, "different katakana taken for one"},
        {"\x83\x41", "\x83\x61", false, "a second byte that looks like a letter folded"},
        {"Ａ", "A", false, "a full-width letter taken for its ASCII letter"},
    };
    for (const Case& c : cases) {
        std::string a = c.a, b = c.b;
        FoldFileName(&a[0]);
        FoldFileName(&b[0]);
        EXPECT_EQ(c.same, a == b) << c.fault;
        EXPECT_EQ(strlen(c.a), a.size()) << c.fault;
    }
    char half[] = "ab\x82";
    FoldFileName(half);
    EXPECT_STREQ("ab\x82", half) << "a lead byte at the end read past the terminator";
}

TEST(SjisTextTest, EqualsFoldedSjisComparesWholeCharacters) {
    struct Case { const char* a; const char* b; bool equal; const char* fault; } cases[] = {
        {"Install.ENV", "install.env", true, "letter case not ignored"},
        {"\x83\x41", "\x83\x61", false, "the 41 second byte of ア folded, so two characters taken for one"},
        {"abc", "abcd", false, "a shorter text taken as equal to a longer one"},
        {"abcd", "abc", false, "a longer text taken as equal to a shorter one"},
        {"", "", true, "two empty texts not equal"},
        {"a\x83", "A\x83", true, "a lead byte at the end read past"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.equal, EqualsFoldedSjis(c.a, c.b)) << c.fault;

    struct Counted { const char* a; const char* b; size_t length; bool equal; const char* fault; } counted[] = {
        {"CONx", "con", 3, true, "a byte beyond the length compared"},
        {"COM", "con", 3, false, "the last byte within the length not compared"},
        {"\x83\x41z", "\x83\x61z", 3, false, "the second byte of ア folded in the counted form"},
    };
    for (const Counted& c : counted) EXPECT_EQ(c.equal, EqualsFoldedSjis(c.a, c.b, c.length)) << c.fault;
}

TEST(SjisTextTest, SearchesStartOnCharacterBoundaries) {
    struct Case { const char* haystack; const char* needle; bool found; const char* fault; } cases[] = {
        {"a\\b", "\\", true, "a real backslash missed"},
        {"\x95\x5C", "\\", false, "the 5C second byte of 表 matched as a backslash"},
        {"\x83\x41" "B", "AB", false, "a match begun at the 41 second byte of ア"},
        {"ab", "abc", false, "a needle longer than the text matched"},
        {"ab", "", true, "an empty needle not found"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.found, ContainsSjis(c.haystack, c.needle)) << c.fault;

    const char* text = "a=\x81=b=";
    EXPECT_EQ(text + 5, FindSjis(text, 2, "=")) << "the = paired with the lead byte 81 matched, or from ignored";
    EXPECT_EQ(nullptr, FindSjis(text, 6, "=")) << "a search begun at the end found something";
}

TEST(SjisTextTest, SeparatorSearchSkipsSecondBytes) {
    struct Case { std::string text; const char* separators; size_t first, last; const char* fault; } cases[] = {
        {"a/b\\c", "\\/", 1, 3, "one of the separators ignored"},
        {"a/b\\c", "\\", 3, 3, "a byte outside the set taken as a separator"},
        {"\x95\x5C\x83\x5C", "\\", 4, 4, "the 5C second bytes of 表 and ソ taken as separators"},
        {"\x95\x5C\\", "\\", 2, 2, "a real backslash after 表 missed"},
        {"", "\\", 0, 0, "an empty text not answered with its length"},
        {"a\x81", "\\", 2, 2, "a lead byte at the end read past"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.first, FindSjisSeparator(c.text.data(), c.text.size(), 0, c.separators)) << c.fault;
        EXPECT_EQ(c.last, FindLastSjisSeparator(c.text.data(), c.text.size(), c.separators)) << c.fault;
    }
    EXPECT_EQ(3u, FindSjisSeparator("a\\b\\", 4, 2, "\\")) << "from ignored";
    EXPECT_EQ(3u, FindSjisSeparator("a\0b", 3, 0, "\\")) << "a NUL taken for the separators' terminator";
}

}  // namespace
