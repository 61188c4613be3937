// The updater on players' machines whose folders carry letters Shift-JIS
// cannot spell: user names such as José, Müller or 김민수 in the temporary
// folder, in the folder the updater was started from and in the install
// folder chosen by hand; and a game installed at a path that leaves only just
// room for the package's longest name. Every run must work or say plainly
// why, and nothing may appear outside the working folder and the game folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

const wchar_t* const kUserNames[] = {L"Jos\u00e9", L"M\u00fcller", L"\uae40\ubbfc\uc218", L"\u738b"};

std::vector<std::wstring> ListWide(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

bool WriteWide(const std::wstring& path, const Bytes& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::string ReadWide(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[256];
    DWORD got = 0;
    ReadFile(h, buffer, sizeof(buffer), &got, nullptr);
    CloseHandle(h);
    return std::string(buffer, got);
}

std::wstring WindowsTemp() {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\temp";
}

// What a run must leave as it found: the top of the drive, the user's folder,
// the tests' temporary folder and the Windows temp folder.
std::map<std::wstring, std::vector<std::wstring>> Surroundings() {
    wchar_t profile[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    std::map<std::wstring, std::vector<std::wstring>> seen;
    for (const std::wstring& folder : {std::wstring(L"C:"), std::wstring(profile), Wide(TestTempBase().c_str()),
                                       WindowsTemp()})
        seen[folder] = ListWide(folder);
    return seen;
}

void PointChildTempAt(const std::wstring& folder) {
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    SetEnvironmentVariableW(L"TMP", folder.c_str());
}

class ForeignPathsTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        home_ = Wide(users_.Path().c_str());
        DeleteGlobalKey(kTestGameKey);
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    // <users>\<name>\<sub>, made with its parent.
    std::wstring UserFolder(const std::wstring& name, const std::wstring& sub) {
        CreateDirectoryW((home_ + L"\\" + name).c_str(), nullptr);
        std::wstring folder = home_ + L"\\" + name + L"\\" + sub;
        CreateDirectoryW(folder.c_str(), nullptr);
        return folder;
    }
    Bytes Program() {
        Bytes entries = StartupEntries(GameSettings("Flow", "テスト"));
        AppendFile(&entries, "readme.txt", ToBytes("read me"));
        AppendFile(&entries, "game.dat", ToBytes("new"));
        return MakeProgramFile(image_, entries);
    }
    // Waits for the main window; then the working folder must be the only
    // thing in temp, holding the start-up files. Exit ends the run with 0 and
    // takes the working folder away.
    void ExpectWorkingFolderIn(const std::wstring& temp, const std::vector<std::wstring>& before,
                               const std::wstring& what) {
        main_ = WaitFor(kMainWindowTitle);
        ASSERT_NE(nullptr, main_) << what;
        std::vector<std::wstring> now = ListWide(temp);
        std::vector<std::wstring> added;
        for (const std::wstring& n : now)
            if (std::find(before.begin(), before.end(), n) == before.end()) added.push_back(n);
        ASSERT_EQ(1u, added.size()) << what;
        EXPECT_EQ(0u, added[0].find(L"TempGPInstallFolder_")) << what;
        EXPECT_EQ((std::vector<std::wstring>{L"install.env", L"insttscr.rct", L"readme.txt"}),
                  ListWide(temp + L"\\" + added[0]))
            << what;
        ClickButton(main_, IDC_SLOT_FIRST);  // Exit
        EXPECT_EQ(0, Finish()) << what;
        EXPECT_EQ(before, ListWide(temp)) << what;
    }
    TempFolder users_;
    std::wstring home_;
};

TEST_F(ForeignPathsTest, TemporaryFolderOfEveryUserName) {
    for (const wchar_t* name : kUserNames) {
        std::wstring temp = UserFolder(name, L"Temp");
        PointChildTempAt(temp);
        auto before = Surroundings();
        Start(Program());
        ExpectWorkingFolderIn(temp, {}, name);
        EXPECT_EQ(before, Surroundings()) << name;
    }
}

TEST_F(ForeignPathsTest, StartedFromTheDownloadsOfSuchAUser) {
    std::wstring downloads = UserFolder(L"\uae40\ubbfc\uc218", L"Downloads");
    std::wstring temp = UserFolder(L"Jos\u00e9", L"Temp");
    PointChildTempAt(temp);
    std::wstring exe = downloads + L"\\\u66f4\u65b0 patch.exe";
    auto before = Surroundings();
    StartAt(exe, Program(), downloads.c_str());
    ExpectWorkingFolderIn(temp, {}, L"started from Downloads");
    EXPECT_EQ((std::vector<std::wstring>{L"\u66f4\u65b0 patch.exe"}), ListWide(downloads));
    EXPECT_EQ(before, Surroundings());
}

// A temporary folder with no Shift-JIS spelling and no short form (here: not
// there at all, as on a volume without short names it could not be spelled)
// sends the working folder under the Windows folder's temp.
TEST_F(ForeignPathsTest, TemporaryFolderWithoutAnySpellingFallsBackToWindowsTemp) {
    std::wstring temp = UserFolder(L"Jos\u00e9", L"Temp") + L"\\absent";
    PointChildTempAt(temp);
    std::vector<std::wstring> windowsTemp = ListWide(WindowsTemp());
    auto before = Surroundings();
    Start(Program());
    ExpectWorkingFolderIn(WindowsTemp(), windowsTemp, L"fallback");
    EXPECT_EQ(before, Surroundings());
}

// An install folder typed by hand: one that cannot be spelled at all is named
// in a box and the dialog stays; one with a short form is updated.
TEST_F(ForeignPathsTest, InstallFolderOfSuchAUserChosenByHand) {
    std::wstring game = UserFolder(L"Jos\u00e9", L"Game");
    ASSERT_TRUE(WriteWide(game + L"\\game.dat", ToBytes("old")));
    std::wstring absent = UserFolder(L"M\u00fcller", L"Games") + L"\\New";
    auto before = Surroundings();
    Start(Program());
    Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
    ASSERT_EQ(2u, Answer({IDOK, IDYES}).size());  // not installed; choose by hand
    HWND setup = WaitFor(kSetupTitle);
    ASSERT_NE(nullptr, setup);
    SetDlgItemTextW(setup, IDC_INSTALL_PATH, absent.c_str());
    PostMessageW(setup, WM_COMMAND, IDOK, 0);
    std::vector<std::wstring> texts = Answer({IDOK}, setup);
    ASSERT_EQ(1u, texts.size());
    EXPECT_NE(std::wstring::npos, texts[0].find(absent)) << "the box names the folder";
    EXPECT_TRUE(IsWindowVisible(setup)) << "the dialog stays for another choice";
    ASSERT_NO_FATAL_FAILURE(ChooseFolder(game));
    texts = Answer({IDYES});
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(0u, texts[0].find(L"[")) << "the confirmation";
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true));
    EXPECT_EQ(0, Finish());
    EXPECT_EQ("new", ReadWide(game + L"\\game.dat"));
    EXPECT_EQ((std::vector<std::wstring>{L"game.dat", L"install.env", L"insttscr.rct", L"readme.txt"}),
              ListWide(game));
    EXPECT_TRUE(ListWide(absent.substr(0, absent.rfind(L'\\'))).empty());
    EXPECT_EQ(before, Surroundings());
    EXPECT_TRUE(WorkingFolders().empty());
}

// A game at a 230-byte path takes a 28-byte name: 259 bytes in all, while the
// staged names beside it are longer.
TEST_F(ForeignPathsTest, LongInstallFolderTakesTheLongestName) {
    std::string game = users_.Path();
    while (game.size() + 12 < 230) {
        game += "\\dddddddddd";
        ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
    }
    game += "\\" + std::string(230 - game.size() - 1, 'g');
    ASSERT_EQ(0, PlatformCreateFolder(game.c_str()));
    ASSERT_EQ(230u, game.size());
    const std::string name = "セーブ_0123456789abcdefg.dat";
    ASSERT_EQ(28u, name.size());
    ASSERT_TRUE(WriteFileBytes(game + "\\" + name, ToBytes("old")));
    ASSERT_EQ(0, RegisterGame("Flow", game));
    Bytes entries = StartupEntries(GameSettings("Flow", "テスト"));
    AppendFile(&entries, name, ToBytes("new"));
    AppendFolder(&entries, "追加フォルダ_012345678abc\\");  // a 256-byte folder
    Start(MakeProgramFile(image_, entries));
    Press(IDC_SLOT_FIRST + 1);  // Update, above Exit
    ASSERT_EQ(1u, Answer({IDYES}).size());
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(true));
    EXPECT_EQ(0, Finish());
    Bytes bytes;
    ASSERT_TRUE(ReadFileBytes(game + "\\" + name, &bytes));
    EXPECT_EQ(ToBytes("new"), bytes);
    EXPECT_EQ((std::vector<std::string>{"install.env", "insttscr.rct", name, "追加フォルダ_012345678abc\\"}),
              ListTree(game));
    EXPECT_TRUE(WorkingFolders().empty());
}

}  // namespace
