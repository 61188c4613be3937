// The rehearsal: two small releases with Japanese names, a patch made from
// them by diff and pack, and the update rehearsed onto a copy of the first.
// Each row names the fault it guards: a rehearsal that calls a broken patch
// good, or a good one broken. Names are Shift-JIS literals; on disk UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "services/Platform.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/CapturedOutput.h"
#include "tools/DiffCommand.h"
#include "tools/PackCommand.h"
#include "tools/ToolText.h"
#include "tools/TryCommand.h"

namespace {

constexpr uint64_t kOldTime = 132592515670000000ULL;  // 2021-03-03 13:26:07 UTC
constexpr uint64_t kNewTime = 133536836960000000ULL;  // 2024-02-29 12:34:56 UTC

struct Release {
    std::vector<std::string> folders;                         // made first, parents before children
    std::vector<std::pair<std::string, std::string>> files;   // Shift-JIS name, bytes
    uint64_t time;
};

const Release kOld{{"データ", "音声"},
                   {{"データ\\シーン.dat", "scene v1"}, {"音声\\声.ogg", "voice"}, {"消える.dat", "gone"},
                    {"game.exe", "exe v1"}},
                   kOldTime};
const Release kNew{{"データ", "音声", "新規"},
                   {{"データ\\シーン.dat", "scene v2"}, {"音声\\声.ogg", "voice"}, {"新規\\追加.dat", "added"},
                    {"game.exe", "exe v2"}},
                   kNewTime};

void WriteRelease(const std::string& root, const Release& release) {
    ASSERT_EQ(0, PlatformCreateFolder(root.c_str()));
    for (const std::string& folder : release.folders) ASSERT_EQ(0, PlatformCreateFolder((root + "\\" + folder).c_str()));
    for (const auto& file : release.files) {
        std::string path = root + "\\" + file.first;
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(file.second))) << PrintableName(file.first.c_str());
        // The unchanged voice file keeps its old time in both releases.
        uint64_t time = file.first.rfind("音声\\", 0) == 0 ? kOldTime : release.time;
        ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), time));
    }
}

class TryCommandTest : public ::testing::Test {
public:
    void SetUp() override {
        ResetSettingsForTesting();
        WriteRelease(old_, kOld);
        WriteRelease(new_, kNew);
        std::string settings = root_ / "settings.env";
        ASSERT_TRUE(WriteFileBytes(settings, ToBytes("CHKREG Version\nCHKREGVER 100\nCHKREGVERHIGH 100\n"
                                                     "REG_GLOBAL HKEY_CURRENT_USER\nREG_LOCAL Software\\Game\n"
                                                     "INI_FILE " + game_ + "\\game.ini\nINI_SECTION Paths\n"
                                                     "[ini]\nData=REP_INSTALL\\データ\n-\n"
                                                     "[reg]\n\"InstallDir\"=\"REP_INSTALL\"\n-\n")));
        FILE* sink = tmpfile();
        ASSERT_EQ(0, DiffCommand(DiffRequest{old_, new_, out_, settings, nullptr}, sink, sink)) << ReadAll(sink);
        fclose(sink);
        ASSERT_TRUE(WriteFileBytes(out_ + "\\insttscr.rct", TinyRctPicture()));
        std::string image = root_ / "updater.exe";
        ASSERT_TRUE(WriteFileBytes(image, MakeUpdaterImage()));
        PackReport packed;
        ASSERT_EQ(kPackDone, PackUpdater(PackRequest{image, patch_, out_, "", kDefaultPackLevel, kPackLimit, nullptr}, &packed))
            << DescribePackReport(packed);
        ResetSettingsForTesting();
    }
    void TearDown() override { ResetSettingsForTesting(); }

    TempFolder root_;
    std::string old_ = root_ / "1.00";
    std::string new_ = root_ / "1.01";
    std::string out_ = root_ / "patch";
    std::string patch_ = root_ / "patch.exe";
    std::string game_ = root_ / "ゲーム";
    CurrentFolderGuard keep_;
};

TEST_F(TryCommandTest, RehearsesTheUpdateAndComparesWithTheNewRelease) {
    const struct {
        const char* fault;
        std::function<void(const std::string& newRelease)> afterPacking;  // what changes in NEW after packing
        bool versionGiven;
        int version;
        int exitCode;
        std::vector<std::string> said;  // UTF-8, each somewhere in the output
    } rows[] = {
        {"a faithful patch called broken", nullptr, true, 100, 0,
         {"version gate: installed version 100 passes", u8"equal: ",
          "[reg] not applied: HKEY_CURRENT_USER\\Software\\Game  \"InstallDir\"=\"",
          "install.env (a start-up file the patch brings)", "game.ini (the INI file the update writes)",
          u8"[delfiles_afterinst] 消える.dat"}},
        {"the gate tried without an installed version", nullptr, false, 0, 0,
         {"version gate: not tried: CHKREG Version lets versions 100 to 100 through", u8"equal: "}},
        {"a file changed in NEW after packing not named",
         [](const std::string& release) {
             ASSERT_TRUE(WriteFileBytes(release + "\\データ\\シーン.dat", ToBytes("scene v3")));
             ASSERT_EQ(0, PlatformSetFileTime((release + "\\データ\\シーン.dat").c_str(), kNewTime));
         },
         true, 100, kTryDiffersExit, {u8"  bytes    データ\\シーン.dat\n", "differs: 1 difference"}},
        {"a file added to NEW after packing not named",
         [](const std::string& release) { ASSERT_TRUE(WriteFileBytes(release + "\\後で.txt", ToBytes("late"))); },
         true, 100, kTryDiffersExit, {u8"  missing  後で.txt\n"}},
        {"a time touched in NEW after packing not named",
         [](const std::string& release) { ASSERT_EQ(0, PlatformSetFileTime((release + "\\game.exe").c_str(), kOldTime)); },
         true, 100, kTryDiffersExit, {"  time     game.exe: 2024-02-29 12:34:56, 2021-03-03 13:26:07 in the new release\n"}},
        {"a file removed from NEW after packing not named",
         [](const std::string& release) { ASSERT_EQ(0, PlatformDeleteFile((release + "\\音声\\声.ogg").c_str())); },
         true, 100, kTryDiffersExit, {u8"  extra    音声\\声.ogg\n"}},
        {"a start-up file the new release also has left out of the comparison",
         [](const std::string& release) { ASSERT_TRUE(WriteFileBytes(release + "\\install.env", ToBytes("TITLEBAR x\n"))); },
         true, 100, kTryDiffersExit, {"  bytes    install.env\n"}},
        {"a version below the gate let through", nullptr, true, 99, kTryRefusedExit,
         {"the updater refuses installed version 99: too old for this patch"}},
        {"a version above the gate let through", nullptr, true, 101, kTryRefusedExit, {"already updated"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        std::string release = root_ / "expected";
        RemoveTree(release);
        WriteRelease(release, kNew);
        if (row.afterPacking) row.afterPacking(release);
        // The package's INI_FILE names game_, so every row rehearses there.
        RemoveTree(game_);
        WriteRelease(game_, kOld);
        TreeSnapshot before = SnapshotTree(game_);
        FILE* out = tmpfile();
        int code = TryCommand(TryRequest{patch_, game_, release, row.versionGiven, row.version}, out, out);
        std::string said = ReadAll(out);
        fclose(out);
        EXPECT_EQ(row.exitCode, code) << said;
        for (const std::string& text : row.said) EXPECT_NE(std::string::npos, said.find(text)) << text << "\n" << said;
        if (row.exitCode == kTryRefusedExit) {
            EXPECT_EQ(before, SnapshotTree(game_)) << "a refused gate changes nothing";
        }
        if (row.exitCode == 0) {
            Bytes ini;
            ASSERT_TRUE(ReadFileBytes(game_ + "\\game.ini", &ini));
            std::string text(ini.begin(), ini.end());
            EXPECT_NE(std::string::npos, text.find("Data=" + game_ + "\\データ")) << text;
        }
    }
}

TEST_F(TryCommandTest, AFolderThatIsNoGameCopyStartsNothing) {
    FILE* out = tmpfile();
    EXPECT_EQ(kTryCannotStartExit, TryCommand(TryRequest{patch_, root_ / "nowhere", "", false, 0}, out, out));
    EXPECT_EQ(kTryCannotStartExit, TryCommand(TryRequest{old_ + "\\game.exe", game_, "", false, 0}, out, out))
        << "a file without a package";
    EXPECT_FALSE(Exists(root_ / "nowhere"));
    fclose(out);
}

}  // namespace
