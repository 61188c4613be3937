// The install.env analysis on its own: the finding rows (line, severity, kind)
// a few lines give, with nothing printed to get them, and the text it shows
// for Shift-JIS bytes. String literals are Shift-JIS, u8 literals UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tools/SettingsCheck.h"

namespace {

using Row = std::tuple<int, CheckSeverity, CheckKind>;  // line, severity, kind

std::vector<Row> Rows(const SettingsCheck& check) {
    std::vector<Row> rows;
    for (const CheckFinding& f : check.findings) rows.emplace_back(f.line, f.severity, f.kind);
    return rows;
}

TEST(SettingsCheckTest, LinesGiveExactlyTheseRowsInLineOrder) {
    const struct {
        const char* fault;  // what a wrong row would let through
        std::string text;
        std::vector<Row> expected;  // in the order the analysis lists them
    } cases[] = {
        {"an open section as a mere warning: pack and diff pass a file the updater will not start with",
         "INI_FILE g.ini\n[ini]\na=b\n", {Row{2, kCheckError, kCheckUnterminated}}},
        {"a lower-case key as an error: pack refuses a file the updater starts with",
         "titlebar x\n", {Row{1, kCheckWarning, kCheckUnknownKey}}},
        {"rows left in the order the passes found them (the open section's error first), not by line",
         "TITLEBAR My Game\nREG_GLOBAL M\n[reg]\n\"v\"=\"1\"\n",
         {Row{1, kCheckWarning, kCheckExtraWords}, Row{3, kCheckError, kCheckUnterminated}}},
        {"a Ctrl-Z that hides the lines after it goes unreported, or lands on the wrong line",
         "EXENAME a.exe\n\x1AKEYFILE k\n", {Row{2, kCheckWarning, kCheckCtrlZ}}},
        {"a closed section or a blank line reported at all", "EXENAME a.exe\nINI_FILE g.ini\n\n[ini]\na=b\n-\n", {}},
        {"a UTF-8 byte-order mark passed: the updater reads it into the first key",
         "\xEF\xBB\xBFTITLEBAR x\n", {Row{1, kCheckError, kCheckWrongEncoding}, Row{1, kCheckWarning, kCheckUnknownKey}}},
        {"a UTF-8 title passed: every player sees it garbled",
         std::string("EXENAME a.exe\n") + u8"TITLEBAR サンプル|ゲーム\n", {Row{2, kCheckError, kCheckWrongEncoding}}},
        {"Shift-JIS text taken for UTF-8", "TITLEBAR サンプル|ゲーム\nINSTTO 表示\n", {}},
        {"plain ASCII taken for UTF-8", "TITLEBAR Sample|Game\n", {}},
        {"CHKREGVER above CHKREGVERHIGH passed: every player is refused",
         "CHKREG Version\nCHKREGVER 200\nCHKREGVERHIGH 100\n", {Row{3, kCheckError, kCheckNoVersionPasses}}},
        {"CHKREGVERHIGH left out passed: it counts as 0, below CHKREGVER",
         "CHKREG Version\nCHKREGVER 100\n", {Row{2, kCheckError, kCheckNoVersionPasses}}},
        {"a range of one version refused", "CHKREG Version\nCHKREGVER 100\nCHKREGVERHIGH 100\n", {}},
        {"CHKREG alone refused: version 0 passes 0..0", "CHKREG Version\n", {}},
        {"CHKREGVER without CHKREG unsaid: the check is silently off",
         "CHKREGVER 100\nCHKREGVERHIGH 200\n", {Row{1, kCheckWarning, kCheckVersionCheckOff}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SettingsCheck check;
        CheckSettingsText(c.text, nullptr, &check);
        EXPECT_EQ(c.expected, Rows(check));
        int errors = 0;
        for (const Row& r : c.expected) errors += std::get<1>(r) == kCheckError ? 1 : 0;
        EXPECT_EQ(errors, check.errors);
        EXPECT_EQ(static_cast<int>(c.expected.size()) - errors, check.warnings);
    }
}

TEST(SettingsCheckTest, ShownTextConvertsWhatItCanCharacterByCharacter) {
    const struct {
        const char* fault;
        std::string sjis;
        std::string shown;
    } cases[] = {
        {"a whole Shift-JIS text not converted", "\x83\x7C\x83\x5C", u8"ポソ"},
        {"a lead byte cut off at the end spoils the character before it", std::string("\x83\x7C\x81"),
         u8"ポ\\x81"},
        {"a NUL byte ends the text shown", std::string("a\0b", 3), "a\\x00b"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, ShownSjis(c.sjis)) << c.fault;
}

}  // namespace
