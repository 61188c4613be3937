#include "settings/SectionLists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/MessageBoxes.h"
#include "services/ScriptedBoxes.h"
#include "tests/support/BoxReport.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

std::vector<std::string> Lines(int section) {
    std::vector<std::string> out;
    for (const StringEntry* e = SectionList(section)->first; e != nullptr; e = e->next) out.push_back(e->text);
    return out;
}

class SectionListsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kSectionCount; ++i) ClearStringList(const_cast<StringList*>(SectionList(i)));
        ResetScriptedBoxes();
    }
    std::string Write(const std::string& text) {
        std::string path = dir_ / "install.env";
        EXPECT_TRUE(WriteFileBytes(path, ToBytes(text)));
        return path;
    }
    TempFolder dir_;
};

TEST_F(SectionListsTest, SectionsCollectTheirLines) {
    LoadSectionLists(Write("TITLEBAR before the first header\r\n"
                           "[ini]\r\n"
                           "  Path\tREP_INSTALLDIR   // kept with its comment\t \r\n"
                           "// a comment\r\n"
                           "; another\r\n"
                           "\r\n"
                           "[EOF]\r\n"
                           "-\t\t// end\r\n"
                           "stray line\r\n"
                           "[reg]// header with a comment\n"
                           "Key\tValue|with|bars\n"
                           "[delfiles_afterinst]\n"    // a header while [reg] is open
                           "old\\*.dat\n"
                           "-\n"
                           "[EOF]\n"
                           "EOF\n"
                           "[delfiles]\n")               // after EOF: not read
                         .c_str());
    EXPECT_EQ((std::vector<std::string>{"  Path\tREP_INSTALLDIR   // kept with its comment", "[EOF]"}),
              Lines(kSectionIni));
    EXPECT_EQ((std::vector<std::string>{"Key\tValue|with|bars"}), Lines(kSectionReg));
    EXPECT_EQ((std::vector<std::string>{"old\\*.dat"}), Lines(kSectionDelfilesAfterinst));
    EXPECT_TRUE(Lines(kSectionDelfiles).empty());
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(SectionListsTest, AHeaderClearsOnlyItsOwnList) {
    LoadSectionLists(Write("[ini]\na\n-\n[delfiles]\nd\n-\n[ini]\nb\n-\n").c_str());
    EXPECT_EQ((std::vector<std::string>{"b"}), Lines(kSectionIni));
    EXPECT_EQ((std::vector<std::string>{"d"}), Lines(kSectionDelfiles));
    LoadSectionLists(Write("no sections at all\n").c_str());
    EXPECT_EQ((std::vector<std::string>{"b"}), Lines(kSectionIni));
}

TEST_F(SectionListsTest, HeadersAndNamesMatchByPrefix) {
    EXPECT_EQ(kSectionDelfilesUser, MatchSectionHeader("[delfiles_user]"));
    EXPECT_EQ(kSectionDelfiles, MatchSectionHeader("[delfiles]// x"));
    EXPECT_EQ(-1, MatchSectionHeader(" [ini]"));
    EXPECT_STREQ("delfiles_afterinst", SectionName(kSectionDelfilesAfterinst));
    char line[] = "text \t\r\n";
    EXPECT_EQ(4u, StripTrailingSeparators(line));
}

TEST_F(SectionListsTest, UnterminatedSectionOrMissingFileEndsTheProgram) {
    std::string path = Write("[ini]\nentry\n-\n[delfiles_user]\nentry\nEOF\n");
    // Whichever button is chosen, the program ends with -1 after the box.
    for (int answer : {kAnswerRetry, kAnswerCancel}) {
        EXPECT_EXIT(
            {
                ReportBoxesAtExit();
                QueueBoxAnswer(answer);
                LoadSectionLists(path.c_str());
            },
            ::testing::ExitedWithCode(kExitCodeMinusOne), "box 21: .*\\[delfiles_user\\]");
    }
    std::string missing = dir_ / "missing.env";
    EXPECT_EXIT(
        {
            ReportBoxesAtExit();
            QueueBoxAnswer(kAnswerRetry);
            LoadSectionLists(missing.c_str());
        },
        ::testing::ExitedWithCode(kExitCodeMinusOne), "box 21: \\[.*missing.env\\]");
}

}  // namespace
