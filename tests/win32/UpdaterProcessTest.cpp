// The updater program itself, started as a process on packages built here:
// its start-up extraction, its messages, exit codes and working folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/Extract.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "resources/resource.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "tests/support/RegistryStore.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

TEST_F(UpdaterProcessTest, BootExtractionTakesOnlyStartupFilesAndCleansUp) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR=テスト\r\n"));
    AppendFile(&entries, "insttscr.rct", TinyPicture());
    AppendFile(&entries, "表ソ説明.txt", ToBytes("readme"));
    AppendFile(&entries, "data.arc", Bytes(300000, 'd'));
    AppendFolder(&entries, "save\\");
    AppendFolder(&entries, "save\\sub\\");
    AppendFile(&entries, "late.txt", ToBytes("after a nested folder"));
    Start(MakeProgramFile(image_, entries));
    HWND box = WaitForDialog(process_.dwProcessId, L"", kProcessTimeoutMs);
    ASSERT_NE(nullptr, box);
    // While the updater waits, its working folder holds exactly the start-up files.
    std::vector<std::string> folders = WorkingFolders();
    ASSERT_EQ(1u, folders.size());
    std::string working = temp_ / folders[0];
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct", "表ソ説明.txt"}), ListTree(working));
    uint64_t t = 0;
    ASSERT_EQ(0, PlatformGetFileTime((working + "\\表ソ説明.txt").c_str(), &t));
    EXPECT_EQ(kTestFileTime, t);
    ClickButton(box, IDC_SLOT_FIRST);  // Exit
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
}

TEST_F(UpdaterProcessTest, DamagedPackageShowsTheMessageAndEndsWithMinusOne) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("x"));
    Bytes program = MakeProgramFile(image_, entries);
    program[image_.size() + 20] ^= 0xFF;  // inside the first stream
    struct Case { const char* what; Bytes file; } cases[] = {
        {"corrupt stream", program},
        {"trailer beyond the end", [&] { Bytes b = image_; b.push_back(0xFF); b.push_back(0xFF); b.push_back(0xFF); b.push_back(0x7F); return b; }()},
    };
    for (const Case& c : cases) {
        BoxAnswerer answerer{};
        Start(c.file);
        StartBoxAnswerer(&answerer, process_.dwProcessId, IDOK, kProcessTimeoutMs);
        ASSERT_TRUE(FinishBoxAnswerer(&answerer)) << c.what;
        EXPECT_EQ(Wide(kDamagedPackageMessage), answerer.text) << c.what;
        EXPECT_EQ(L"", answerer.caption) << c.what;
        EXPECT_EQ(-1, Finish()) << c.what;
        EXPECT_TRUE(WorkingFolders().empty()) << c.what;
        EXPECT_EQ(Wide(kDamagedPackageMessage), ClipboardUnicode()) << c.what;
    }
}

TEST_F(UpdaterProcessTest, PackageWithoutSettingsFileIsRefused) {
    Bytes entries;
    AppendFile(&entries, "readme.txt", ToBytes("r"));
    BoxAnswerer answerer{};
    Start(MakeProgramFile(image_, entries));
    StartBoxAnswerer(&answerer, process_.dwProcessId, IDOK, kProcessTimeoutMs);
    ASSERT_TRUE(FinishBoxAnswerer(&answerer));
    EXPECT_EQ(Wide("起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。"),
              answerer.text);
    EXPECT_EQ(-1, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
}

}  // namespace

namespace {

TEST_F(UpdaterProcessTest, SettingsAreLoadedAndNameTheReport) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR\tサンプル|ソフト\r\n[ini]\r\na\tb\r\n-\r\n"));
    AppendFile(&entries, "insttscr.rct", TinyPicture());
    Start(MakeProgramFile(image_, entries));
    HWND box = WaitForDialog(process_.dwProcessId, L"", kProcessTimeoutMs);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(Wide("サンプル ソフト アップデータ"), WindowText(box));
    ClickButton(box, IDC_SLOT_FIRST);  // Exit
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
}

TEST_F(UpdaterProcessTest, UnterminatedSectionEndsWithMinusOneAndLeavesTheWorkingFolder) {
    Bytes entries;
    AppendFile(&entries, "install.env", ToBytes("TITLEBAR x\r\n[reg]\r\nKey\tValue\r\n[EOF]\r\n"));
    AppendFile(&entries, "readme.txt", ToBytes("r"));
    BoxAnswerer answerer{};
    Start(MakeProgramFile(image_, entries));
    StartBoxAnswerer(&answerer, process_.dwProcessId, IDRETRY, kProcessTimeoutMs);
    ASSERT_TRUE(FinishBoxAnswerer(&answerer));
    EXPECT_EQ(Wide("[設定.env]の[reg]が終了していません"), answerer.text);
    EXPECT_EQ(L"", answerer.caption);
    EXPECT_EQ(-1, Finish());
    ExpectWorkingFolderLeftWith({"install.env", "readme.txt"});
}

}  // namespace

namespace {

// The whole update, answered by the robot: the game key in Wine's registry
// names the folder, the package lands in it, the [ini] and [reg] lines and
// the deletes are applied, and the finish dialog closes the run.
TEST_F(UpdaterProcessTest, UpdateFoundThroughTheRegistryIsApplied) {
    TempFolder game;
    TempFolder other;
    ASSERT_TRUE(WriteFileBytes(game / "game.dat", ToBytes("old")));
    ASSERT_EQ(0, PlatformCreateFolder((game / "data").c_str()));
    ASSERT_TRUE(WriteFileBytes(game / "data\\old.dat", ToBytes("stale")));
    DeleteGlobalKey(kTestGameKey);
    ASSERT_EQ(0, RegisterGame("Flow", game.Path()));
    std::string ini = other / "設定.ini";
    std::string settings = "REG_GLOBAL VornelUpdaterTest\r\nREG_LOCAL Flow\r\nINI_FILE " + ini +
                           "\r\nINI_SECTION 表示\r\nINSTREADME 読む\r\n"
                           "[ini]\r\nパス=REP_INSTALL\\save\r\n-\r\n"
                           "[reg]\r\n\"InstallDir\"=\"REP_INSTALL\"\r\n-\r\n"
                           "[delfiles_afterinst]\r\ndata\\old.dat\r\n-\r\n";
    Bytes entries = StartupEntries(settings);
    AppendFile(&entries, "game.dat", ToBytes("new"));
    AppendFile(&entries, "ソフト表.dat", Bytes(300000, 's'));
    Start(MakeProgramFile(image_, entries));

    ASSERT_NO_FATAL_FAILURE(Press(IDC_SLOT_FIRST + 2));  // Exit, the readme, Update
    std::vector<std::wstring> texts = Answer({IDYES});
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(Wide(("[" + game.Path() + "]をアップデートします").c_str()), texts[0]);
    HWND finish = WaitFor(kFinishTitle);
    ASSERT_NE(nullptr, finish);
    EXPECT_EQ(Wide("読む"), WindowText(GetDlgItem(finish, IDC_README_CHECK)));
    EXPECT_EQ(BST_CHECKED, SendDlgItemMessageW(finish, IDC_RUN_GAME_CHECK, BM_GETCHECK, 0, 0));
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(false));
    EXPECT_EQ(0, Finish());

    Bytes bytes;
    ASSERT_TRUE(ReadFileBytes(game / "game.dat", &bytes));
    EXPECT_EQ(ToBytes("new"), bytes);
    EXPECT_TRUE(Exists(game / "ソフト表.dat"));
    EXPECT_FALSE(Exists(game / "data"));
    ASSERT_TRUE(ReadFileBytes(ini, &bytes));
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, text.find("[表示]")) << text;
    EXPECT_NE(std::string::npos, text.find("パス=" + game.Path() + "\\save")) << text;
    char value[260];
    ASSERT_EQ(0, RegReadString(kTestGameKey, "Flow", "InstallDir", "", value, sizeof(value)));
    EXPECT_EQ(game.Path(), std::string(value));
    EXPECT_TRUE(WorkingFolders().empty());
    DeleteGlobalKey(kTestGameKey);
}

}  // namespace

namespace {

// Zeros for a large file, and how long its progress window is given to paint.
constexpr size_t kLargeFileBytes = 160u << 20;
constexpr DWORD kProgressShotSettleMs = 100;

// One more update run of the updater, for the ways it can go.
class UpdateFlowTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey(kTestGameKey);
        ASSERT_TRUE(WriteFileBytes(game_ / "game.dat", ToBytes("old")));
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    void StartUpdater(const std::string& extraSettings, size_t extraBytes = 0) {
        Bytes entries = StartupEntries(GameSettings("Flow", "テスト") + extraSettings);
        AppendFile(&entries, "readme.txt", ToBytes("read me"));
        AppendFile(&entries, "game.dat", ToBytes("new"));
        AppendFile(&entries, "game.bat", ToBytes("@echo ran> launched.txt\r\n"));
        if (extraBytes != 0) AppendFile(&entries, "voice.arc", Bytes(extraBytes, 0));
        Start(MakeProgramFile(image_, entries));
    }
    std::string GameData() {
        Bytes b;
        ReadFileBytes(game_ / "game.dat", &b);
        return std::string(b.begin(), b.end());
    }
    TempFolder game_;
};

TEST_F(UpdateFlowTest, NotInstalledDeclinedOrRefusedChangesNothing) {
    struct Case {
        const char* what;
        const char* isInst;
        const char* version;
        std::vector<int> answers;
        const char* firstBox;
    } cases[] = {
        {"not installed, no manual choice", nullptr, nullptr, {IDOK, IDNO, IDOK}, "本体がインストールされていません"},
        {"found but declined", "1", nullptr, {IDNO, IDOK}, nullptr},
        {"refused by the version gate", "1", "9", {IDOK, IDOK}, "既にアップデート適応済みです"},
    };
    for (const Case& c : cases) {
        DeleteGlobalKey(kTestGameKey);
        if (c.isInst != nullptr) {
            RegWriteString(kTestGameKey, "Flow", "IsInst", c.isInst);
            RegWriteString(kTestGameKey, "Flow", "InstTo", game_.Path().c_str());
        }
        if (c.version != nullptr) RegWriteString(kTestGameKey, "Flow", "Ver", c.version);
        StartUpdater("CHKREG Ver\r\nCHKREGVERHIGH 5\r\n");
        Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
        std::vector<std::wstring> texts = Answer(c.answers);
        ASSERT_EQ(c.answers.size(), texts.size()) << c.what;
        if (c.firstBox != nullptr) {
            EXPECT_EQ(Wide(c.firstBox), texts[0]) << c.what;
        }
        EXPECT_EQ(Wide("アップデートを中止しました"), texts.back()) << c.what;
        // The main window stays after an abandoned update; Exit ends the program.
        EXPECT_TRUE(IsWindowVisible(main_)) << c.what;
        ClickButton(main_, IDC_SLOT_FIRST);
        EXPECT_EQ(0, Finish()) << c.what;
        EXPECT_EQ("old", GameData()) << c.what;
        EXPECT_TRUE(WorkingFolders().empty()) << c.what;
    }
}

// A package whose start-up files are sound but whose game data is damaged:
// the start-up passes over the data, the update meets the damage, says so
// and ends with -1, and the game folder is exactly as it was.
TEST_F(UpdateFlowTest, DamageFoundDuringTheUpdateLeavesTheGameFolderAsItWas) {
    ASSERT_EQ(0, PlatformCreateFolder((game_ / "data").c_str()));
    ASSERT_TRUE(WriteFileBytes(game_ / "data\\scene.dat", ToBytes("old scene")));
    TreeSnapshot before = SnapshotTree(game_.Path());
    ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
    Bytes entries = StartupEntries(GameSettings("Flow", "破損"));
    AppendFile(&entries, "game.dat", ToBytes("new"));
    AppendFolder(&entries, "data\\");
    size_t damagedEntry = entries.size();
    Bytes scene;
    for (int i = 0; i < 200000; ++i) scene.push_back(static_cast<uint8_t>(i * 7 + i / 251));
    AppendFile(&entries, "data\\scene.dat", scene);
    size_t middle = damagedEntry + (entries.size() - damagedEntry) / 2;
    AppendFile(&entries, "after.dat", ToBytes("after the damage"));
    Bytes program = MakeProgramFile(image_, entries);
    program[image_.size() + middle] ^= 0x55;
    Start(program);
    Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
    std::vector<std::wstring> texts = Answer({IDYES, IDOK});
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ(Wide(kDamagedPackageMessage), texts[1]);
    EXPECT_EQ(-1, Finish());
    EXPECT_TRUE(SnapshotTree(game_.Path()) == before);
    EXPECT_TRUE(WorkingFolders().empty());
}

// A game file held open by the running game, or read-only: the box names the
// file and the cause instead of a damaged download; Cancel ends with -1 and
// the folder as it was, Retry after the cause is gone updates it.
TEST_F(UpdateFlowTest, WriteFailuresAreToldAndCanBeRetried) {
    ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
    std::string file = game_ / "game.dat";
    std::wstring wideFile = Wide(file.c_str());
    struct Case {
        const char* what;
        bool held;
        const char* cause;
    } cases[] = {
        {"held open by the running game", true, "」は他のプログラムが使用しているため"},
        {"read-only", false, "」は読み取り専用のため"},
    };
    for (const Case& c : cases) {
        for (int answer : {IDCANCEL, IDRETRY}) {
            SetFileAttributesW(wideFile.c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(WriteFileBytes(file, ToBytes("old")));
            HANDLE held = INVALID_HANDLE_VALUE;
            if (c.held) {
                held = CreateFileW(wideFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
                ASSERT_NE(INVALID_HANDLE_VALUE, held);
            } else {
                ASSERT_TRUE(SetFileAttributesW(wideFile.c_str(), FILE_ATTRIBUTE_READONLY));
            }
            TreeSnapshot before = SnapshotTree(game_.Path());
            StartUpdater("");
            Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
            ASSERT_EQ(1u, Answer({IDYES}).size()) << c.what;
            HWND box = WaitForBox(process_.dwProcessId, main_, kProcessTimeoutMs);
            ASSERT_NE(nullptr, box) << c.what;
            std::wstring text = MessageBoxText(box);
            EXPECT_EQ(0u, text.find(Wide(("ファイル「" + file + c.cause).c_str()))) << c.what;
            EXPECT_EQ(text, ClipboardUnicode()) << c.what;
            EXPECT_TRUE(SnapshotTree(game_.Path()) == before) << c.what;
            if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
            SetFileAttributesW(wideFile.c_str(), FILE_ATTRIBUTE_NORMAL);
            ClickButton(box, answer);
            if (answer == IDCANCEL) {
                EXPECT_EQ(-1, Finish()) << c.what;
                EXPECT_EQ("old", GameData()) << c.what;
            } else {
                ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true)) << c.what;
                EXPECT_EQ(0, Finish()) << c.what;
                EXPECT_EQ("new", GameData()) << c.what;
            }
            EXPECT_FALSE(Exists(game_ / kStagingFolderName)) << c.what;
            EXPECT_TRUE(WorkingFolders().empty()) << c.what;
        }
    }
}

// A drive that fills while the update writes: the box says so with the room
// the update needs; Cancel leaves the game as it was, Retry after space was
// made updates it. The test script maps a small drive for this where the
// machine lets it mount one.
TEST_F(UpdateFlowTest, FullDiskIsToldWithTheSpaceNeededAndCanBeRetried) {
    char drive[16] = "";
    if (GetEnvironmentVariableA("UPDATER_SMALL_DRIVE", drive, sizeof(drive)) == 0)
        GTEST_SKIP() << "no small drive is mapped";
    std::string game = std::string(drive) + "game";
    std::string filler = std::string(drive) + "filler.bin";
    ASSERT_EQ(0, RegisterGame("Flow", game));
    Bytes big(1u << 20);
    uint32_t seed = 1;
    for (uint8_t& b : big) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    Bytes entries = StartupEntries(GameSettings("Flow", "テスト"));
    AppendFile(&entries, "big.dat", big);
    Bytes program = MakeProgramFile(image_, entries);
    for (int answer : {IDCANCEL, IDRETRY}) {
        RemoveTree(game);
        ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
        ASSERT_TRUE(WriteFileBytes(game + "\\game.dat", ToBytes("old")));
        ASSERT_TRUE(WriteFileBytes(filler, Bytes(1500u << 10, 'f'))) << "the drive holds 2 MiB";
        TreeSnapshot before = SnapshotTree(game);
        Start(program);
        Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
        ASSERT_EQ(1u, Answer({IDYES}).size());
        HWND box = WaitForBox(process_.dwProcessId, main_, kProcessTimeoutMs);
        ASSERT_NE(nullptr, box);
        std::wstring text = MessageBoxText(box);
        EXPECT_EQ(0u, text.find(Wide("ディスクの空き容量が足りないため"))) << answer;
        EXPECT_NE(std::wstring::npos, text.find(Wide("約 1.0 MB"))) << answer;
        EXPECT_TRUE(SnapshotTree(game) == before) << answer;
        PlatformDeleteFile(filler.c_str());
        ClickButton(box, answer);
        if (answer == IDCANCEL) {
            EXPECT_EQ(-1, Finish());
            EXPECT_TRUE(SnapshotTree(game) == before);
        } else {
            ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true));
            EXPECT_EQ(0, Finish());
            Bytes got;
            ASSERT_TRUE(ReadFileBytes(game + "\\big.dat", &got));
            EXPECT_TRUE(got == big);
        }
        EXPECT_FALSE(Exists(game + "\\" + kStagingFolderName)) << answer;
    }
    RemoveTree(game);
}

// The game still running while its program is replaced: the old copy moves
// aside but cannot be deleted yet; the update completes, and the next run,
// with the game ended, leaves no trace of it.
TEST_F(UpdateFlowTest, RunningGamesOldProgramIsDeletedByTheNextRun) {
    ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
    // The running game: an updater of its own, waiting in its main window.
    Bytes gameEntries;
    AppendFile(&gameEntries, "install.env", ToBytes("TITLEBAR ゲーム本体\r\n"));
    AppendFile(&gameEntries, "insttscr.rct", TinyPicture());
    std::string gameExe = game_ / "game.exe";
    ASSERT_TRUE(WriteFileBytes(gameExe, MakeProgramFile(image_, gameEntries)));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION running{};
    std::wstring command = L"\"" + Wide(gameExe.c_str()) + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &running));
    ASSERT_NE(nullptr, WaitForDialog(running.dwProcessId, Wide("ゲーム本体"), kProcessTimeoutMs));
    Bytes entries = StartupEntries(GameSettings("Flow", "テスト"));
    AppendFile(&entries, "game.exe", ToBytes("the new program"));
    Bytes program = MakeProgramFile(image_, entries);
    for (int run = 0; run < 2; ++run) {
        Start(program);
        Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
        ASSERT_EQ(1u, Answer({IDYES}).size()) << run;
        ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true)) << run;
        EXPECT_EQ(0, Finish()) << run;
        Bytes b;
        ASSERT_TRUE(ReadFileBytes(gameExe, &b));
        EXPECT_EQ(ToBytes("the new program"), b) << run;
        std::vector<std::string> left = ListFolder(game_ / kStagingFolderName);
        if (run == 0) {
            // What stays is only the old program, marked for deletion.
            ASSERT_EQ(1u, left.size());
            EXPECT_EQ(".del", left[0].substr(left[0].size() - 4)) << left[0];
            TerminateProcess(running.hProcess, 0);
            WaitForSingleObject(running.hProcess, kProcessTimeoutMs);
            CloseHandle(running.hProcess);
            CloseHandle(running.hThread);
        } else {
            EXPECT_FALSE(Exists(game_ / kStagingFolderName));
        }
    }
}

// The updater killed while it stages and while it moves hundreds of files into
// place: the folder is then wholly old or wholly new once recovered, and the
// next run, which starts with that recovery, updates it completely and leaves
// no staging folder behind.
TEST_F(UpdateFlowTest, KilledDuringTheUpdateThenRunAgain) {
    constexpr int kFiles = 300;
    constexpr uint64_t kOldTime = 130000000000000000ULL;
    ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
    Bytes entries = StartupEntries(GameSettings("Flow", "テスト"));
    AppendFolder(&entries, "data\\");
    for (int i = 0; i < kFiles; ++i) {
        AppendFile(&entries, "data\\old" + std::to_string(i) + ".dat", ToBytes("new " + std::to_string(i)));
        AppendFile(&entries, "data\\new" + std::to_string(i) + ".dat", ToBytes("added " + std::to_string(i)));
    }
    Bytes program = MakeProgramFile(image_, entries);
    auto makeOld = [&] {
        RemoveTree(game_.Path());
        PlatformCreateFolder(game_.Path().c_str());
        PlatformCreateFolder((game_ / "data").c_str());
        for (int i = 0; i < kFiles; ++i) {
            std::string path = game_ / ("data\\old" + std::to_string(i) + ".dat");
            WriteFileBytes(path, ToBytes("old"));
            PlatformSetFileTime(path.c_str(), kOldTime);
        }
    };
    makeOld();
    TreeSnapshot oldTree = SnapshotTree(game_.Path());
    std::string saved = programs_ / "patch.exe";
    ASSERT_TRUE(WriteFileBytes(saved, program));
    PackageStream stream;
    ASSERT_EQ(kPackageOk, OpenPackageStream(saved.c_str(), &stream));
    ASSERT_EQ(kPackageOk, WalkPackage(&stream, game_.Path().c_str(), kFullMode, nullptr));
    ClosePackageStream(&stream);
    TreeSnapshot newTree = SnapshotTree(game_.Path());
    std::string journal = game_ / (std::string(kStagingFolderName) + "\\journal.txt");
    std::string staged = game_ / (std::string(kStagingFolderName) + "\\00000200.new");
    struct Point {
        const char* what;
        const char* seen;  // killed once the journal holds this; null: once a file is staged
        bool recoverHere;  // recovered by the test before the next run
    } points[] = {
        {"while staging", nullptr, true},
        {"while moving", "\nE\n", true},
        {"while moving, recovered by the next run", "\nE\n", false},
    };
    for (const Point& p : points) {
        makeOld();
        Start(program);
        Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
        ASSERT_EQ(1u, Answer({IDYES}).size()) << p.what;
        bool seen = false;
        for (DWORD start = GetTickCount(); !seen && GetTickCount() - start < kProcessTimeoutMs;) {
            Bytes b;
            seen = p.seen == nullptr ? Exists(staged)
                                     : ReadFileBytes(journal, &b) &&
                                           std::string(b.begin(), b.end()).find(p.seen) != std::string::npos;
            if (!seen) Sleep(kFilePollMs);
        }
        TerminateProcess(process_.hProcess, 9);
        EXPECT_EQ(9, Finish()) << p.what;
        EXPECT_TRUE(seen) << p.what;
        if (p.recoverHere) {
            ASSERT_EQ(kPackageOk, RecoverStaging(game_.Path().c_str())) << p.what;
            TreeSnapshot recovered = SnapshotTree(game_.Path());
            EXPECT_TRUE(recovered == oldTree || recovered == newTree) << p.what;
        }
        Start(program);
        Press(IDC_SLOT_FIRST + 1);
        ASSERT_EQ(1u, Answer({IDYES}).size()) << p.what;
        ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true)) << p.what;
        EXPECT_EQ(0, Finish()) << p.what;
        EXPECT_TRUE(SnapshotTree(game_.Path()) == newTree) << p.what;
    }
}

// Lets the shell open .txt files with the system's editor, as a player's
// system would; a fresh test prefix has no such association.
void AssociateTextFiles(bool on) {
    if (!on) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"vornel.testtext");
        RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, L"txtfile", 0);
        return;
    }
    RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, L"vornel.testtext", 0);
    RegSetValueW(HKEY_CLASSES_ROOT, L"vornel.testtext\\shell\\open\\command", REG_SZ,
                 L"notepad.exe \"%1\"", 0);
}

TEST_F(UpdateFlowTest, ChosenByHandThenTheGameLaunchedAndTheReadmeOpened) {
    AssociateTextFiles(true);
    // A large file keeps the progress window up long enough to be seen.
    StartUpdater("EXENAME game.bat\r\nINSTREADME 説明\r\n", kLargeFileBytes);
    Press(IDC_SLOT_FIRST + 2);  // Exit, the readme, Update
    std::vector<std::wstring> texts = Answer({IDOK, IDYES});
    ASSERT_EQ(2u, texts.size());
    HWND setup = WaitFor(kSetupTitle);
    ASSERT_NE(nullptr, setup);
    SetDlgItemTextW(setup, IDC_INSTALL_PATH, Wide(game_.Path().c_str()).c_str());
    EXPECT_TRUE(SaveShot(setup, L"setup-dialog"));
    ASSERT_NO_FATAL_FAILURE(ChooseFolder(Wide(game_.Path().c_str())));
    texts = Answer({IDYES});
    EXPECT_EQ(Wide(("[" + game_.Path() + "]をアップデートします").c_str()), texts[0]);
    HWND progress = WaitFor(kProgressTitle);
    EXPECT_NE(nullptr, progress);
    if (progress != nullptr) SaveShot(progress, L"progress-window", kProgressShotSettleMs);
    HWND finish = WaitFor(kFinishTitle);
    ASSERT_NE(nullptr, finish);
    EXPECT_TRUE(SaveShot(finish, L"finish-dialog"));
    SendDlgItemMessageW(finish, IDC_README_CHECK, BM_SETCHECK, BST_CHECKED, 0);
    ClickButton(finish, IDOK);
    EXPECT_EQ(0, Finish());
    EXPECT_EQ("new", GameData());
    // The game ran in the install folder; the readme opened in the shell's editor.
    bool launched = false;
    for (int i = 0; i < 100 && !launched; ++i, Sleep(100)) launched = Exists(game_ / "launched.txt");
    EXPECT_TRUE(launched);
    HWND readme = WaitForAnyWindow(L"readme", kProcessTimeoutMs);
    EXPECT_NE(nullptr, readme);
    if (readme != nullptr) PostMessageW(readme, WM_CLOSE, 0, 0);
    AssociateTextFiles(false);
}

// [delfiles_afterinst] lists files of the game: a line that climbs out of
// the game's folder (a ".." part, a drive, a leading backslash) is skipped
// and nothing beside the folder goes, while the lines inside still delete.
TEST_F(UpdateFlowTest, DeletionLinesThatLeaveTheGameFolderDeleteNothingOutsideIt) {
    TempFolder outer;
    std::string game = outer / "game";
    ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
    ASSERT_EQ(0, PlatformCreateFolder((game + "\\data").c_str()));
    const char* const outside[] = {"win.ini", "system.ini", "victim.dat", "drive.dat", "root.dat"};
    for (const char* name : outside) ASSERT_TRUE(WriteFileBytes(outer / name, ToBytes("keep")));
    ASSERT_TRUE(WriteFileBytes(game + "\\data\\old.dat", ToBytes("stale")));
    ASSERT_TRUE(WriteFileBytes(game + "\\cache.tmp", ToBytes("stale")));
    ASSERT_TRUE(WriteFileBytes(game + "\\keep.ini", ToBytes("keep")));
    RegWriteString("VornelUpdaterTest", "Flow", "IsInst", "1");
    RegWriteString("VornelUpdaterTest", "Flow", "InstTo", game.c_str());
    std::string drivePath = outer / "drive.dat";
    std::string rootPath = (outer / "root.dat").substr(2);  // without "C:"
    ASSERT_EQ('\\', rootPath[0]);
    StartUpdater("[delfiles_afterinst]\r\n"
                 "..\\*.ini\r\n"
                 "data\\..\\..\\victim.dat\r\n" +
                 drivePath + "\r\n" + rootPath + "\r\n"
                 "data\\old.dat\r\n"
                 "*.tmp\r\n"
                 "-\r\n");
    Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
    std::vector<std::wstring> texts = Answer({IDYES});
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(Wide(("[" + game + "]をアップデートします").c_str()), texts[0]);
    HWND finish = WaitForDialog(process_.dwProcessId, Wide("インストール終了"), kProcessTimeoutMs);
    ASSERT_NE(nullptr, finish);
    SendDlgItemMessageW(finish, IDC_RUN_GAME_CHECK, BM_SETCHECK, BST_UNCHECKED, 0);
    ClickButton(finish, IDOK);
    EXPECT_EQ(0, Finish());

    for (const char* name : outside) EXPECT_TRUE(Exists(outer / name)) << name;
    EXPECT_FALSE(Exists(game + "\\data")) << "an entry inside the folder still deletes, and its emptied folder goes";
    EXPECT_FALSE(Exists(game + "\\cache.tmp"));
    EXPECT_TRUE(Exists(game + "\\keep.ini"));
    EXPECT_TRUE(Exists(game + "\\game.dat"));
}

}  // namespace
