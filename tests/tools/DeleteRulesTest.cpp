// The [delfiles_afterinst] entries as the updater hands them to the system's
// file search: which files they find, and which removed
// files can be written as an entry at all. String literals are Shift-JIS.
#include "tools/DeleteRules.h"

#include <gtest/gtest.h>

namespace {

TEST(DeleteRulesTest, WhichFilesAnEntryFinds) {
    const struct {
        const char* entry;
        const char* file;
        bool found;
        const char* fault;
    } cases[] = {
        {"data\\old.dat", "data\\old.dat", true, "the exact name"},
        {"DATA\\OLD.DAT", "data\\old.dat", true, "letter case is ignored"},
        {"data/old.dat", "data\\old.dat", true, "a slash between folders"},
        {"data\\old.dat", "data\\old.dat.bak", false, "a longer name is another file"},
        {"data\\*.dat", "data\\scene01.dat", true, "a star"},
        {"data\\*.dat", "data\\sub\\scene01.dat", false, "the search does not go into subfolders"},
        {"data\\*.dat", "scene01.dat", false, "another folder"},
        {"*.*", "readme", true, "*.* finds names without a dot"},
        {"*.txt", "data\\a.txt", false, "a top-level pattern finds only top-level files"},
        {"scene0?.dat", "scene01.dat", true, "a question mark stands for one character"},
        {"scene0?.dat", "scene0.dat", true, "or for none before a dot"},
        {"scene0?.dat", "scene012.dat", false, "but never for two"},
        {"a?", "a", true, "or for none at the end"},
        {"readme.*", "readme", true, "a final .* finds a name without a dot"},
        {"readme.", "readme", true, "a final dot finds a name without a dot"},
        {"readme.", "readme.txt", false, "but not one with an extension"},
        {"d*\\x.dat", "data\\x.dat", false, "a wildcard in the folder part finds nothing"},
        {"表\\*.dat", "表\\a.dat", true, "表's 5C second byte is part of the folder name"},
        {"*表.dat", "a表.dat", true, "a star before a double-byte character"},
        {"?.dat", "表.dat", true, "one question mark takes a whole double-byte character"},
        {"ﾃﾞｰﾀ.dat", "ﾃﾞｰﾀ.DAT", true, "half-width katakana are single bytes"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.found, EntryMatchesFile(c.entry, c.file)) << c.fault;
}

TEST(DeleteRulesTest, RemovedFilesThatCannotBeWrittenAsAnEntry) {
    const struct {
        const char* name;
        bool listable;
        const char* fault;
    } cases[] = {
        {"data\\old.dat", true, "a plain name"},
        {"data\\-old.dat", true, "a dash further in is no terminator"},
        {"-old.dat", false, "a line beginning with a dash closes the section"},
        {"//old.dat", false, "a comment line"},
        {";old.dat", false, "a comment line too"},
        {"EOFdata.bin", false, "EOF at the start ends the section pass"},
        {"eofdata.bin", true, "the section pass matches EOF in capitals only"},
        {"[ini]old.dat", false, "a header opens another section"},
        {" old.dat", true, "the section pass keeps a leading blank"},
        {"a*.dat", false, "a star would find other files"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.listable, WhyNotListable(c.name) == nullptr) << c.fault;
}

}  // namespace
