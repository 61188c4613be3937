// The diff command: a patch folder made from two versions of a game tree
// (Japanese names, empty files, renames in letter case only, folders that
// empty), packed, and applied with the updater's own walk and after-install
// deletes to a copy of the old version, which must then hold the new one;
// every refusal with the fault it guards; the install.env merge read back
// with the updater's own section reader. Names are Shift-JIS literals (the
// build compiles them to code page 932); on disk they are native UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "services/DataFileOpener.h"
#include "services/Platform.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/CapturedOutput.h"
#include "tools/DiffCommand.h"
#include "tools/FolderScan.h"
#include "tools/InspectCommands.h"
#include "tools/PackCommand.h"
#include "tools/ProgressLine.h"
#include "tools/SettingsMerge.h"
#include "tools/ToolText.h"
#include "update/UpdateRules.h"

namespace {

constexpr uint64_t kOldTime = 132592515670000000ULL;  // 2021-03-03 13:26:07 UTC
constexpr uint64_t kNewTime = 133536836960000000ULL;  // 2024-02-29 12:34:56 UTC
constexpr uint64_t kAddTime = 116444736000000000ULL;  // 1970-01-01 00:00:00 UTC

// A tree to write: files with bytes and times, and folders (empty ones too).
struct TreeLayout {
    std::vector<std::pair<std::string, std::string>> files;  // Shift-JIS name, bytes
    std::vector<std::string> folders;
    uint64_t time;
    std::map<std::string, uint64_t> times;  // a file's own time instead of time
};

void MakeFolders(const std::string& root, const std::string& name) {
    std::string path = root;
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && IsLeadByte(static_cast<uint8_t>(name[i])) && i + 1 < name.size()) {
            part += name.substr(i++, 2);
            continue;
        }
        if (i == name.size() || name[i] == '\\') {
            path += "\\" + part;
            part.clear();
            PlatformCreateFolder(path.c_str());
            continue;
        }
        part += name[i];
    }
}

void WriteTree(const std::string& root, const TreeLayout& layout) {
    ASSERT_EQ(0, PlatformCreateFolder(root.c_str()));
    for (const std::string& folder : layout.folders) MakeFolders(root, folder);
    for (const auto& file : layout.files) {
        std::string parent = ParentOf(file.first);
        if (!parent.empty()) MakeFolders(root, parent);
        std::string path = root + "\\" + file.first;
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(file.second))) << PrintableName(file.first.c_str());
        auto own = layout.times.find(file.first);
        ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), own != layout.times.end() ? own->second : layout.time));
    }
}

// Every entry below root by its folded name: a file's bytes, or "<folder>".
std::map<std::string, std::string> FoldedTree(const std::string& root) {
    std::vector<ScannedEntry> entries;
    std::string where;
    EXPECT_EQ(kScanOk, ScanTree(root, &entries, &where)) << where;
    std::map<std::string, std::string> tree;
    for (const ScannedEntry& e : entries) {
        Bytes bytes;
        if (!e.isFolder) {
            EXPECT_TRUE(ReadFileBytes(root + "\\" + e.name, &bytes));
        }
        tree[FoldedName(e.name)] = e.isFolder ? "<folder>" : std::string(bytes.begin(), bytes.end());
    }
    return tree;
}

std::vector<std::string> SectionEntries(int section) {
    std::vector<std::string> kept;
    for (const StringEntry* e = SectionList(section)->first; e != nullptr; e = e->next) kept.push_back(e->text);
    return kept;
}

void ClearSections() {
    for (int s = 0; s < kSectionCount; ++s) ClearStringList(const_cast<StringList*>(SectionList(s)));
}

uint32_t s_tick = 0;
uint32_t SecondPerReading() { return s_tick += 1000; }

class DiffCommandTest : public ::testing::Test {
public:
    void SetUp() override {
        ClearSections();
        ResetSettingsForTesting();
        SetDirectOpenAllowed(1);
    }
    void TearDown() override {
        ClearSections();
        ResetSettingsForTesting();
    }

    DiffRequest Request() const { return DiffRequest{old_, new_, out_, "", nullptr}; }

    TempFolder root_;
    std::string old_ = root_ / "old";
    std::string new_ = root_ / "new";
    std::string out_ = root_ / "out";
};

// The released game and its new version, with every kind of change.
const TreeLayout kOld = {
    {
        {"sample.exe", "old program"},
        {"data\\シーン01.dat", "scene 1 v1"},
        {"data\\シーン00.dat", "a scene the new version drops"},
        {"data\\same.dat", "same bytes, other time"},
        {"data\\empty_same.bin", ""},
        {"data\\to_empty.bin", "x"},
        {"Readme.TXT", "read me"},
        {"セーブ\\スロット.dat", "slot"},
        {"表\\ソ.dat", "5C second bytes"},
        {"extra\\only.dat", "the folder goes with it"},
        {"deep\\sub\\x.dat", "two levels"},
        {"keep\\old.dat", "the folder stays, empty"},
    },
    {},
    kOldTime,
    {},
};
const TreeLayout kNew = {
    {
        {"sample.exe", "new program!"},
        {"data\\シーン01.dat", "scene 1 v2"},
        {"data\\same.dat", "same bytes, other time"},
        {"data\\empty_same.bin", ""},
        {"data\\to_empty.bin", ""},
        {"data\\new_empty.bin", ""},
        {"readme.txt", "read me"},
        {"セーブ\\スロット.dat", "slot"},
        {"表\\ソ.dat", "5C second byteZ"},
        {"新規\\追加.dat", "added"},
    },
    {"空", "keep"},
    kNewTime,
    {{"新規\\追加.dat", kAddTime}},
};

TEST_F(DiffCommandTest, ThePatchTurnsACopyOfTheOldVersionIntoTheNewOne) {
    WriteTree(old_, kOld);
    WriteTree(new_, kNew);
    SetProgressClockForTesting(SecondPerReading);
    DiffRequest request = Request();
    request.progress = tmpfile();
    DiffReport report;
    ASSERT_EQ(kDiffDone, DiffTrees(request, &report)) << DescribeDiffReport(report);
    std::string shown = ReadAll(request.progress);
    fclose(request.progress);
    SetProgressClockForTesting(nullptr);
    EXPECT_NE(std::string::npos, shown.find("comparing  ")) << shown;
    EXPECT_NE(std::string::npos, shown.find("copying  6/6 files")) << shown;
    EXPECT_EQ('\r', shown.back()) << "the line is wiped at the end";

    EXPECT_EQ(2, report.added);
    EXPECT_EQ(4, report.changed);
    EXPECT_EQ(4, report.unchanged) << "compared by bytes, not by time";
    EXPECT_EQ(2, report.newFolders);
    EXPECT_EQ(static_cast<int64_t>(5), report.addedBytes);
    EXPECT_EQ((std::vector<std::string>{"data\\シーン00.dat", "deep\\sub\\x.dat", "extra\\only.dat", "keep\\old.dat"}),
              report.removedNames);

    // OUT: the new and changed files with NEW's times, their folders, the new
    // empty folder, and install.env; nothing unchanged.
    std::vector<std::string> made = ListTree(out_);
    std::sort(made.begin(), made.end());
    EXPECT_EQ((std::vector<std::string>{"data\\", "data\\new_empty.bin", "data\\to_empty.bin", "data\\シーン01.dat",
                                        "install.env", "sample.exe", "空\\", "新規\\", "新規\\追加.dat", "表\\",
                                        "表\\ソ.dat"}),
              made);
    uint64_t time = 0;
    ASSERT_EQ(0, PlatformGetFileTime((out_ + "\\新規\\追加.dat").c_str(), &time));
    EXPECT_EQ(kAddTime, time);
    ASSERT_EQ(0, PlatformGetFileTime((out_ + "\\data\\new_empty.bin").c_str(), &time));
    EXPECT_EQ(kNewTime, time);

    // What the maker is told: a rename in letter case only, the folders the
    // updater leaves behind, and the one it takes away.
    ASSERT_EQ(3u, report.notes.size());
    EXPECT_NE(std::string::npos, report.notes[0].find("\"Readme.TXT\" is \"readme.txt\"")) << report.notes[0];
    EXPECT_NE(std::string::npos, report.notes[1].find("\"deep\", \"deep\\sub\" stay behind")) << report.notes[1];
    EXPECT_NE(std::string::npos, report.notes[2].find("\"keep\", empty in the new version")) << report.notes[2];

    // The starting install.env lists exactly the removed files for the
    // updater's own section reader and sets no key.
    LoadSectionLists((out_ + "\\install.env").c_str());
    EXPECT_EQ(report.removedNames, SectionEntries(kSectionDelfilesAfterinst));
    ASSERT_EQ(0, LoadSettingsTable((out_ + "\\install.env").c_str()));
    for (int k = 0; k < KnownSettingCount(); ++k) EXPECT_EQ(nullptr, FindSetting(KnownSettingKey(k))) << KnownSettingKey(k);

    // pack takes OUT as it is; the updater then writes the package over a
    // copy of the old version and deletes what install.env lists.
    std::string image = root_ / "updater.exe";
    ASSERT_TRUE(WriteFileBytes(image, MakeUpdaterImage()));
    ASSERT_TRUE(WriteFileBytes(out_ + "\\insttscr.rct", TinyRctPicture()));
    std::string patch = root_ / "patch.exe";
    PackReport packed;
    ASSERT_EQ(kPackDone, PackUpdater(PackRequest{image, patch, out_, "", kDefaultPackLevel, kPackLimit, nullptr}, &packed))
        << DescribePackReport(packed);
    EXPECT_TRUE(packed.settingsFindings.empty());
    VerifyReport verify;
    EXPECT_TRUE(VerifyPackage(patch.c_str(), &verify)) << verify.reason;

    std::string installed = root_ / "installed";
    WriteTree(installed, kOld);
    PackageStream package;
    ASSERT_EQ(kPackageOk, OpenPackageStream(patch.c_str(), &package));
    ASSERT_EQ(kPackageOk, WalkPackage(&package, installed.c_str(), kFullMode, nullptr));
    ClosePackageStream(&package);
    DeleteAfterInstall(installed.c_str());

    std::map<std::string, std::string> expected = FoldedTree(new_);
    // The folders the notes named: two stay behind, one goes; and the
    // updater writes install.env too, as every entry of its package.
    expected["deep"] = expected["deep\\sub"] = "<folder>";
    expected.erase("keep");
    Bytes settings;
    ASSERT_TRUE(ReadFileBytes(out_ + "\\install.env", &settings));
    expected["install.env"] = std::string(settings.begin(), settings.end());
    Bytes picture = TinyRctPicture();
    expected["insttscr.rct"] = std::string(picture.begin(), picture.end());
    EXPECT_EQ(expected, FoldedTree(installed));
    ASSERT_EQ(0, PlatformGetFileTime((installed + "\\表\\ソ.dat").c_str(), &time));
    EXPECT_EQ(kNewTime, time);
}

TEST_F(DiffCommandTest, ARenameInLetterCaseOnlyIsNeverADeletion) {
    // On Windows the deletes run after the package is written and find names
    // without letter case: listing Data\Scene.dat would delete data\scene.dat.
    WriteTree(old_, TreeLayout{{{"Data\\Scene.dat", "v1"}, {"MOVIE.AVI", "same"}, {"gone.dat", "x"}}, {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"data\\scene.dat", "v2"}, {"movie.avi", "same"}}, {}, kNewTime, {}});
    DiffReport report;
    ASSERT_EQ(kDiffDone, DiffTrees(Request(), &report)) << DescribeDiffReport(report);
    EXPECT_EQ((std::vector<std::string>{"gone.dat"}), report.removedNames);
    EXPECT_EQ(1, report.changed) << "the changed file comes under its new spelling";
    EXPECT_EQ(0, report.added);
    EXPECT_EQ(1, report.unchanged);
    EXPECT_TRUE(Exists(out_ + "\\data\\scene.dat"));
    EXPECT_FALSE(Exists(out_ + "\\movie.avi"));
    EXPECT_EQ(0, report.newFolders) << "data is Data to Windows";
    ASSERT_EQ(1u, report.notes.size());
    EXPECT_NE(std::string::npos, report.notes[0].find("\"MOVIE.AVI\" is \"movie.avi\"")) << report.notes[0];
}

TEST_F(DiffCommandTest, ARenameInFullWidthLetterCaseIsNeverADeletion) {
    // NTFS folds full-width letters too: deleting Ａ.dat after the package
    // wrote ａ.dat would take away the file the patch just wrote.
    WriteTree(old_, TreeLayout{{{"Ａ.dat", "v1"}, {"ΩＸ.dat", "same"}, {"gone.dat", "x"}}, {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"ａ.dat", "v2"}, {"ωｘ.dat", "same"}}, {}, kNewTime, {}});
    DiffReport report;
    ASSERT_EQ(kDiffDone, DiffTrees(Request(), &report)) << DescribeDiffReport(report);
    EXPECT_EQ((std::vector<std::string>{"gone.dat"}), report.removedNames);
    EXPECT_EQ(1, report.changed);
    EXPECT_EQ(1, report.unchanged);
}

// What ships is visible: every name added, changed and removed is printed,
// and a settings file or picture the released game had at its top is never
// listed for deletion, as the patch brings its own.
TEST_F(DiffCommandTest, PrintsTheNamesItShipsAndNeverListsWhatThePatchBrings) {
    WriteTree(old_, TreeLayout{{{"install.env", "TITLEBAR old"},
                                {"InstTscr.rct", "old picture"},
                                {"data\\シーン.dat", "v1"},
                                {"gone.dat", "x"},
                                {"same.dat", "same"}},
                               {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"data\\シーン.dat", "v2"}, {"same.dat", "same"}, {"新規.dat", "new"}}, {}, kNewTime, {}});
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ASSERT_EQ(0, DiffCommand(Request(), out, err)) << ReadAll(err);
    std::string said = ReadAll(out);
    fclose(out);
    fclose(err);
    const struct {
        const char* fault;
        std::string line;
    } lines[] = {
        {"an added name not shown", u8"  added    新規.dat\n"},
        {"a changed name not shown", u8"  changed  data\\シーン.dat\n"},
        {"a removed name not shown", "  removed  gone.dat\n"},
        {"the released install.env not said to stay", "\"install.env\" is gone from the new version but not listed"},
        {"the released picture not said to stay", "\"InstTscr.rct\" is gone from the new version but not listed"},
    };
    for (const auto& l : lines) EXPECT_NE(std::string::npos, said.find(l.line)) << l.fault << "\n" << said;
    EXPECT_EQ(std::string::npos, said.find("  changed  same.dat")) << said;
    // The updater writes the patch's install.env and then deletes what the section lists.
    LoadSectionLists((out_ + "\\install.env").c_str());
    EXPECT_EQ((std::vector<std::string>{"gone.dat"}), SectionEntries(kSectionDelfilesAfterinst));
}

// Names left out of both versions: neither shipped nor listed for deletion,
// and each said.
TEST_F(DiffCommandTest, LeavesOutTheDefaultAndTheMakersPatternsAndSaysSo) {
    const struct {
        const char* fault;   // what would ship or be deleted by accident
        std::string name;    // Shift-JIS, in NEW and, changed, in OLD ("old:" prefix: in OLD only)
        bool leftOut;
    } cases[] = {
        {"a folder view's file shipped", "Thumbs.db", true},
        {"one deep in a folder shipped", "data\\DESKTOP.INI", true},
        {"a removed one listed for deletion", "old:.DS_Store", true},
        {"a name anywhere not matched by a pattern without a separator", "save\\x.bak", true},
        {"a pattern with a folder matched elsewhere", "other\\y.tmp", false},
        {"a pattern with a folder not matched there", "save\\y.tmp", true},
        {"a folder matched takes what it holds", "作業\\note.txt2", true},
        {"an ordinary file left out", "data\\シーン.dat", false},
    };
    TreeLayout oldTree{{}, {}, kOldTime, {}}, newTree{{}, {}, kNewTime, {}};
    for (const auto& c : cases) {
        if (c.name.compare(0, 4, "old:") == 0) {
            oldTree.files.push_back({c.name.substr(4), "x"});
        } else {
            oldTree.files.push_back({c.name, "v1"});
            newTree.files.push_back({c.name, "v2"});
        }
    }
    WriteTree(old_, oldTree);
    WriteTree(new_, newTree);
    DiffRequest request = Request();
    request.excludes = {"*.bak", "save\\*.tmp", "作業"};
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ASSERT_EQ(0, DiffCommand(request, out, err)) << ReadAll(err);
    std::string said = ReadAll(out);
    fclose(out);
    fclose(err);
    EXPECT_NE(std::string::npos, said.find(u8"(Thumbs.db, desktop.ini and .DS_Store by default, *.bak, save\\*.tmp, 作業)"))
        << said;
    LoadSectionLists((out_ + "\\install.env").c_str());
    std::vector<std::string> listed = SectionEntries(kSectionDelfilesAfterinst);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        bool oldOnly = c.name.compare(0, 4, "old:") == 0;
        std::string name = oldOnly ? c.name.substr(4) : c.name;
        std::string utf8;
        ASSERT_TRUE(SjisToUtf8(name.c_str(), &utf8));
        EXPECT_EQ(c.leftOut, said.find("  left out " + utf8 + "\n") != std::string::npos) << said;
        if (oldOnly) {
            EXPECT_EQ(c.leftOut, std::find(listed.begin(), listed.end(), name) == listed.end());
        } else {
            EXPECT_EQ(c.leftOut, !Exists(out_ + "\\" + name));
        }
    }
}

// One run names every name the patch cannot carry or list, not one per run.
TEST_F(DiffCommandTest, NamesEveryBadNameOfARunAtOnce) {
    WriteTree(old_, TreeLayout{{{"kind", "a file"}, {"EOF.dat", "removed, unlistable"}, {"ok.dat", "1"}}, {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"kind\\in.dat", "a folder now"}, {"data\\con.txt", "device"}, {"end.", "dot"},
                                {"ok.dat", "2"}},
                               {}, kNewTime, {}});
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    EXPECT_EQ(1, DiffCommand(Request(), out, err));
    std::string said = ReadAll(err);
    fclose(out);
    fclose(err);
    const char* const names[] = {"\"kind\" is a file", "con.txt", "\"end.\"", "\"EOF.dat\""};
    EXPECT_NE(std::string::npos, said.find("refused: 4 names")) << said;
    for (const char* name : names) EXPECT_NE(std::string::npos, said.find(name)) << name << "\n" << said;
    EXPECT_FALSE(Exists(out_));
}

TEST_F(DiffCommandTest, RefusesEveryPatchThatCannotWorkAndWritesNothing) {
    struct Case {
        const char* fault;
        TreeLayout oldTree;
        TreeLayout newTree;
        std::function<void(DiffCommandTest*, DiffRequest*)> prepare;
        int refusal;
        std::string entry;  // UTF-8
    };
    auto none = [](DiffCommandTest*, DiffRequest*) {};
    const Case cases[] = {
        {"a file turned into a folder: the installed file would stand where the package's folder must go",
         {{{"data\\voice", "a file"}}, {}, kOldTime, {}},
         {{{"data\\voice\\01.wav", "a file in a folder"}}, {}, kNewTime, {}},
         none, kDiffKindChanged, "data\\voice"},
        {"a folder turned into a file: the installed folder would stand where the file must go",
         {{{"save\\a.dat", "x"}}, {}, kOldTime, {}},
         {{{"SAVE", "now a file"}}, {}, kNewTime, {}},
         none, kDiffKindChanged, "SAVE"},
        {"two new names one to Windows",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"b.dat", "1"}, {"B.dat", "2"}}, {}, kNewTime, {}},
         none, kDiffCaseClash, ""},
        {"two old names one to Windows: which one was installed is unknown",
         {{{"x.dat", "1"}, {"X.DAT", "2"}}, {}, kOldTime, {}},
         {{{"y.dat", "y"}}, {}, kNewTime, {}},
         none, kDiffCaseClash, ""},
        {"a device name the updater refuses",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"data\\aux.dat", "x"}}, {}, kNewTime, {}},
         none, kDiffBadName, "data\\aux.dat"},
        {"a new folder named like the updater's staging folder",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"a.dat", "x"}}, {"TempGPUpdateStaging_3"}, kNewTime, {}},
         none, kDiffBadName, "TempGPUpdateStaging_3\\"},
        {"a removed name that would close the section",
         {{{"-old.dat", "x"}}, {}, kOldTime, {}},
         {{{"new.dat", "y"}}, {}, kNewTime, {}},
         none, kDiffNotListable, "-old.dat"},
        {"a removed name that would end the section pass",
         {{{"EOFscene.dat", "x"}}, {}, kOldTime, {}},
         {{{"new.dat", "y"}}, {}, kNewTime, {}},
         none, kDiffNotListable, "EOFscene.dat"},
        {"a new text file inside a folder would stop the updater's start",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"a.dat", "x"}, {"docs\\manual.txt", "m"}}, {}, kNewTime, {}},
         none, kDiffStartupInFolder, "docs\\manual.txt"},
        {"the game's own install.env changed: the patch's settings take its name",
         {{{"install.env", "game settings"}}, {}, kOldTime, {}},
         {{{"install.env", "other game settings"}}, {}, kNewTime, {}},
         none, kDiffGameInstallEnv, "install.env"},
        {"a maker's install.env with a section left open: the updater would not start",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"a.dat", "y"}}, {}, kNewTime, {}},
         [](DiffCommandTest* t, DiffRequest* r) {
             r->settings = t->root_ / "maker.env";
             WriteFileBytes(r->settings, ToBytes("TITLEBAR game\r\n[ini]\r\nA=1\r\n"));
         },
         kDiffSettingsError, ""},
        {"an output folder that holds something",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"a.dat", "y"}}, {}, kNewTime, {}},
         [](DiffCommandTest* t, DiffRequest*) {
             PlatformCreateFolder(t->out_.c_str());
             WriteFileBytes(t->out_ + "\\stale.dat", ToBytes("from an earlier patch"));
         },
         kDiffOutputExists, ""},
        {"no released game",
         {{{"a.dat", "x"}}, {}, kOldTime, {}},
         {{{"a.dat", "y"}}, {}, kNewTime, {}},
         [](DiffCommandTest* t, DiffRequest* r) { r->oldFolder = t->root_ / "missing"; },
         kDiffCannotRead, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        RemoveTree(root_.Path());
        ASSERT_EQ(0, PlatformCreateFolder(root_.Path().c_str()));
        WriteTree(old_, c.oldTree);
        WriteTree(new_, c.newTree);
        DiffRequest request = Request();
        c.prepare(this, &request);
        bool outBefore = Exists(out_);
        DiffReport report;
        EXPECT_EQ(c.refusal, DiffTrees(request, &report)) << DescribeDiffReport(report);
        if (!c.entry.empty()) {
            EXPECT_EQ(c.entry, report.entry);
        }
        EXPECT_FALSE(DescribeDiffReport(report).empty());
        EXPECT_EQ(outBefore, Exists(out_)) << "the output folder was made";
        if (c.refusal == kDiffSettingsError) {
            EXPECT_NE(std::string::npos, report.detail.find("line 2")) << report.detail;
        }
        FILE* out = tmpfile();
        FILE* err = tmpfile();
        EXPECT_EQ(1, DiffCommand(request, out, err));
        EXPECT_NE(std::string::npos, ReadAll(err).find("patchtool: refused: ")) << ReadAll(err);
        fclose(out);
        fclose(err);
    }

    // Names without a Shift-JIS form, made natively.
    RemoveTree(root_.Path());
    ASSERT_EQ(0, PlatformCreateFolder(root_.Path().c_str()));
    WriteTree(old_, TreeLayout{{{"a.dat", "x"}}, {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"a.dat", "x"}}, {}, kNewTime, {}});
    std::string native;
    ASSERT_TRUE(SjisToUtf8(new_.c_str(), &native));
    std::replace(native.begin(), native.end(), '\\', '/');
    const std::string hangulName = u8"한국.dat";
    FILE* hangul = fopen((native + "/" + hangulName).c_str(), "wb");
    ASSERT_NE(nullptr, hangul);
    fclose(hangul);
    DiffReport report;
    EXPECT_EQ(kDiffNoShiftJis, DiffTrees(Request(), &report));
    EXPECT_EQ(hangulName, report.entry);
    EXPECT_FALSE(Exists(out_));
}

TEST_F(DiffCommandTest, AnEmptyOutputFolderAndUnchangedStartupNamesInFoldersAreFine) {
    WriteTree(old_, TreeLayout{{{"docs\\manual.txt", "m"}, {"a.dat", "1"}}, {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"docs\\manual.txt", "m"}, {"a.dat", "2"}}, {}, kNewTime, {}});
    ASSERT_EQ(0, PlatformCreateFolder(out_.c_str()));
    DiffReport report;
    ASSERT_EQ(kDiffDone, DiffTrees(Request(), &report)) << DescribeDiffReport(report);
    EXPECT_EQ(1, report.changed);
    EXPECT_EQ((std::vector<std::string>{"a.dat", "install.env"}), ListTree(out_));
}

// The maker's install.env keeps every byte; the entries land in the section
// the updater keeps, or in a new one where both passes read it well.
TEST_F(DiffCommandTest, RemovedFilesAreMergedIntoTheMakersInstallEnv) {
    const std::vector<std::string> removed = {"data\\old.dat", "表\\古.dat"};
    const struct {
        const char* fault;
        std::string maker;
        std::string merged;
    } cases[] = {
        {"an entry already listed, in other letter case, is not listed twice; the new one goes before the \"-\"",
         "TITLEBAR game\r\n[delfiles_afterinst]\r\nDATA\\OLD.DAT\r\n-\t// end\r\n[EOF]\r\n",
         "TITLEBAR game\r\n[delfiles_afterinst]\r\nDATA\\OLD.DAT\r\n表\\古.dat\r\n-\t// end\r\n[EOF]\r\n"},
        {"no section: a new one before [EOF], where the key/value pass has stopped reading keys",
         "TITLEBAR game\r\n[ini]\r\nA=1\r\n-\r\n[EOF]\r\n",
         "TITLEBAR game\r\n[ini]\r\nA=1\r\n-\r\n[delfiles_afterinst]\r\ndata\\old.dat\r\n表\\古.dat\r\n"
         "-\t// end of [delfiles_afterinst]\r\n[EOF]\r\n"},
        {"a section that another header ends: the entries go before that header",
         "[delfiles_afterinst]\nsave\\*.tmp\n[ini]\nA=1\n-\n",
         "[delfiles_afterinst]\nsave\\*.tmp\ndata\\old.dat\n表\\古.dat\n[ini]\nA=1\n-\n"},
        {"an EOF line, where the section pass stops, comes before [EOF]",
         "TITLEBAR game\nEOF\n[EOF]\n",
         "TITLEBAR game\n[delfiles_afterinst]\ndata\\old.dat\n表\\古.dat\n-\t// end of [delfiles_afterinst]\nEOF\n[EOF]\n"},
        {"[EOF] inside an open section is an entry there, not a place to insert",
         "[reg]\n[EOF]\n-\n",
         "[reg]\n[EOF]\n-\n[delfiles_afterinst]\ndata\\old.dat\n表\\古.dat\n-\t// end of [delfiles_afterinst]\n"},
        {"a last line without its line end, and text after a Ctrl-Z that the updater never reads",
         "TITLEBAR game\x1A junk",
         "TITLEBAR game\n[delfiles_afterinst]\ndata\\old.dat\n表\\古.dat\n-\t// end of [delfiles_afterinst]\n\x1A junk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SettingsCheck check;
        CheckSettingsText(c.maker, nullptr, &check);
        ASSERT_EQ(0, check.errors);
        int added = 0;
        std::string merged = MergeDeleteEntries(c.maker, check, removed, &added);
        EXPECT_EQ(c.merged, merged);
        // The updater's own reader sees every removed file, once.
        std::string path = root_ / "merged.env";
        ASSERT_TRUE(WriteFileBytes(path, ToBytes(merged)));
        ClearSections();
        LoadSectionLists(path.c_str());
        std::vector<std::string> kept = SectionEntries(kSectionDelfilesAfterinst);
        for (const std::string& name : removed) {
            std::string folded = FoldedName(name);
            EXPECT_EQ(1, std::count_if(kept.begin(), kept.end(),
                                       [&](const std::string& k) { return FoldedName(k) == folded; }))
                << PrintableName(name.c_str());
        }
        SettingsCheck after;
        CheckSettingsText(merged, nullptr, &after);
        EXPECT_EQ(0, after.errors);
    }

    // Through the command: the maker's file is copied with what it lacked.
    WriteTree(old_, TreeLayout{{{"data\\old.dat", "x"}, {"表\\古.dat", "y"}, {"a.dat", "1"}}, {}, kOldTime, {}});
    WriteTree(new_, TreeLayout{{{"a.dat", "2"}}, {}, kNewTime, {}});
    DiffRequest request = Request();
    request.settings = root_ / "maker.env";
    ASSERT_TRUE(WriteFileBytes(request.settings, ToBytes(cases[0].maker)));
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ASSERT_EQ(0, DiffCommand(request, out, err)) << ReadAll(err);
    std::string said = ReadAll(out);
    EXPECT_NE(std::string::npos, said.find("with 1 entry added to [delfiles_afterinst]")) << said;
    EXPECT_NE(std::string::npos, said.find("removed    2 files")) << said;
    fclose(out);
    fclose(err);
    Bytes written;
    ASSERT_TRUE(ReadFileBytes(out_ + "\\install.env", &written));
    EXPECT_EQ(cases[0].merged, std::string(written.begin(), written.end()));
}

TEST_F(DiffCommandTest, TheStartingInstallEnvSetsNothingAndChecksClean) {
    std::string text = StartingSettingsText({"data\\old.dat"});
    SettingsCheck check;
    std::vector<std::string> package = {"install.env"};
    CheckSettingsText(text, &package, &check);
    EXPECT_EQ(0, check.errors);
    EXPECT_EQ(0, check.warnings) << check.findings[0].text;
    std::string path = root_ / "install.env";
    ASSERT_TRUE(WriteFileBytes(path, ToBytes(text)));
    ASSERT_EQ(0, LoadSettingsTable(path.c_str()));
    for (int k = 0; k < KnownSettingCount(); ++k) {
        EXPECT_EQ(nullptr, FindSetting(KnownSettingKey(k))) << KnownSettingKey(k);
        // Each key is there to be uncommented, with its default.
        std::string line = std::string("//") + KnownSettingKey(k) + "\t";
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    }
    EXPECT_NE(std::string::npos, text.find("//TITLEBAR\tＶＯＲＮＥＬ|アプリケーション\r\n"));
    LoadSectionLists(path.c_str());
    EXPECT_EQ((std::vector<std::string>{"data\\old.dat"}), SectionEntries(kSectionDelfilesAfterinst));
    // Without removed files there is no section to close.
    EXPECT_EQ(std::string::npos, StartingSettingsText({}).find("[delfiles_afterinst]\r\n"));
}

}  // namespace
