// The main window as a player meets it: its buttons as the settings and the
// working folder make them, its layout against the template, the picture's
// place, the guard that keeps a running update from being re-entered or
// closed, the single running copy, and Cancel in a retry box.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "services/Registry.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/DialogLayout_win32.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

constexpr int kPictureSide = 256;
constexpr COLORREF kPictureColour = RGB(0xD0, 0x90, 0x30);
// A start-up file large enough that its extraction gives the test time to act
// in the fresh working folder before the main window looks into it.
constexpr size_t kSlowStartupFileBytes = 48u << 20;
// How long a window is watched for something that must not happen.
constexpr DWORD kQuietMs = 1500;

struct TemplateButton {
    int id;
    int x, y, width, height;  // dialog units
};
// MAINDIALOG's buttons, in template (and tab) order.
const TemplateButton kTemplateButtons[] = {
    {IDC_SLOT_FIRST + 7, 155, 55, 75, 14},  {IDC_SLOT_FIRST + 6, 155, 70, 75, 14},
    {IDC_SLOT_FIRST + 5, 155, 85, 75, 14},  {IDC_SLOT_FIRST + 4, 155, 100, 75, 14},
    {IDC_SLOT_FIRST + 3, 155, 115, 75, 14}, {IDC_SLOT_FIRST + 2, 155, 130, 75, 14},
    {IDC_SLOT_FIRST + 1, 155, 145, 75, 14}, {IDC_SLOT_FIRST, 155, 160, 75, 14},
    {IDC_SLOT_FIRST + 8, 177, 7, 50, 14},
};

// Puts a folder or a file named DirectX into the updater's working folder as
// soon as it appears, while the start-up extraction is still under way.
struct DirectXPlanter {
    std::string temp;
    bool asFolder;
    std::string robot;  // copied in as DirectX\dxsetup.exe when a folder
    std::atomic<bool> planted{false};
    std::atomic<bool> beforeSettings{false};  // install.env not yet extracted then
    std::string working;
    HANDLE thread = nullptr;
};

DWORD WINAPI PlantDirectX(LPVOID context) {
    DirectXPlanter* p = static_cast<DirectXPlanter*>(context);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kProcessTimeoutMs) {
        for (const std::string& name : ListFolder(p->temp)) {
            if (name.find("TempGPInstallFolder_") != 0) continue;
            p->working = p->temp + "\\" + name;
            std::string target = p->working + "\\DirectX";
            bool made = p->asFolder ? PlatformCreateFolder(target.c_str()) == 0
                                    : WriteFileBytes(target, ToBytes("not a folder"));
            p->beforeSettings = !Exists(p->working + "\\install.env");
            if (made && p->asFolder) {
                Bytes robot;
                made = ReadFileBytes(p->robot, &robot) && WriteFileBytes(target + "\\dxsetup.exe", robot);
            }
            p->planted = made;
            return 0;
        }
        Sleep(1);
    }
    return 0;
}

class MainWindowTest : public UpdaterProcessTest {
protected:
    // Starts an updater whose working folder gets a DirectX folder (or file)
    // planted in it, and returns its main window.
    HWND StartWithDirectX(const std::string& settings, bool asFolder, DirectXPlanter* planter) {
        Bytes entries;
        AppendFile(&entries, "aaa_slow.txt", Bytes(kSlowStartupFileBytes, 'x'));
        AppendFile(&entries, "install.env", ToBytes(settings));
        AppendFile(&entries, "insttscr.rct", SquarePicture(kPictureSide, kPictureColour));
        AppendFile(&entries, "readme.txt", ToBytes("read me"));
        Bytes program = MakeProgramFile(image_, entries);
        planter->temp = temp_.Path();
        planter->asFolder = asFolder;
        planter->robot = BesideTests("robot.exe");
        planter->thread = CreateThread(nullptr, 0, PlantDirectX, planter, 0, nullptr);
        Start(program);
        WaitForSingleObject(planter->thread, INFINITE);
        CloseHandle(planter->thread);
        return WaitFor(kMainWindowTitle);
    }
};

// Four buttons, stacked from the bottom in their fixed order, placed where the
// template puts their slots; the unused five gone; the window's own frame,
// size and place; the picture centred in the square at the left.
TEST_F(MainWindowTest, FourButtonsMatchTheTemplateAndThePictureIsCentred) {
    DirectXPlanter planter;
    HWND main = StartWithDirectX("TITLEBAR 体験版\r\nINSTREADME 説明書を読む\r\n", true, &planter);
    ASSERT_TRUE(planter.planted);
    ASSERT_TRUE(planter.beforeSettings) << "the DirectX folder came too late to be seen";
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(Wide("体験版 アップデータ"), WindowText(main));
    EXPECT_EQ(L"#32770", ClassName(main));

    // The same template made into a hidden window here gives the sizes that
    // dialog units come to with this system's fonts.
    HWND model = MakeModelDialog(IDD_MAINDIALOG);
    ASSERT_NE(nullptr, model);
    LONG style = GetWindowLongW(main, GWL_STYLE);
    const LONG wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(wanted, style & wanted);
    EXPECT_EQ(0, style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD));
    EXPECT_EQ(nullptr, GetMenu(main));
    RECT client;
    GetClientRect(main, &client);
    ExpectRect(DialogUnits(model, 0, 0, 234, 179), client, "client area");
    // Centred on the screen.
    RECT frame, work;
    GetWindowRect(main, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(abs((frame.left + frame.right) - (work.left + work.right)), 2);
    EXPECT_LE(abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);

    // The buttons left, in tab order, with their texts and template places;
    // in the template none is the default button.
    const wchar_t* labels[] = {L"終了", L"DirectXインストール", L"説明書を読む", L"アップデート"};
    std::vector<int> order;
    for (HWND c = GetWindow(main, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        order.push_back(GetDlgCtrlID(c));
    EXPECT_EQ((std::vector<int>{IDC_SLOT_FIRST + 3, IDC_SLOT_FIRST + 2, IDC_SLOT_FIRST + 1, IDC_SLOT_FIRST}), order);
    HWND modelButton = GetWindow(model, GW_CHILD);
    for (const TemplateButton& b : kTemplateButtons) {
        ASSERT_NE(nullptr, modelButton) << b.id;
        EXPECT_EQ(b.id, GetDlgCtrlID(modelButton));
        EXPECT_EQ(L"Button" + std::to_wstring(b.id - IDC_SLOT_FIRST + 1), WindowText(modelButton));
        EXPECT_EQ(BS_PUSHBUTTON, GetWindowLongW(modelButton, GWL_STYLE) & BS_TYPEMASK) << b.id;
        RECT want = DialogUnits(model, b.x, b.y, b.width, b.height);
        ExpectRect(want, ClientRectOf(model, modelButton), "template");
        modelButton = GetWindow(modelButton, GW_HWNDNEXT);
        HWND button = GetDlgItem(main, b.id);
        if (b.id > IDC_SLOT_FIRST + 3) {
            EXPECT_EQ(nullptr, button) << b.id;
            continue;
        }
        ASSERT_NE(nullptr, button) << b.id;
        EXPECT_EQ(L"Button", ClassName(button));
        EXPECT_EQ(labels[b.id - IDC_SLOT_FIRST], WindowText(button)) << b.id;
        LONG bs = GetWindowLongW(button, GWL_STYLE);
        EXPECT_EQ(WS_CHILD | WS_VISIBLE | WS_TABSTOP, bs & (WS_CHILD | WS_VISIBLE | WS_TABSTOP)) << b.id;
        ExpectRect(want, ClientRectOf(main, button), "main window");
    }
    DestroyWindow(model);

    // The picture at its own size, centred in the square of the client height
    // (for 268 pixels: at 6, 6).
    ExpectSquarePainted(main, (client.bottom - kPictureSide) / 2, kPictureSide, kPictureColour);
    EXPECT_TRUE(SaveShot(main, L"main-window"));

    // DirectX install starts DirectX\dxsetup.exe from the working folder.
    ClickButton(main, IDC_SLOT_FIRST + 1);
    bool ran = false;
    for (int i = 0; i < 100 && !ran; ++i, Sleep(100)) ran = Exists(planter.working + "\\DirectX\\dxsetup.exe.ran");
    EXPECT_TRUE(ran);
    ClickButton(main, IDC_SLOT_FIRST);
    EXPECT_EQ(0, Finish());
    // The working folder's own files are gone; the planted folder is the test's.
    EXPECT_FALSE(Exists(planter.working + "\\install.env"));
    RemoveTree(planter.working);
}

// A file named DirectX makes no button, and a readme label that begins with
// '-' none either: Exit and Update only.
TEST_F(MainWindowTest, DirectXFileAndDashedReadmeLeaveExitAndUpdate) {
    DirectXPlanter planter;
    HWND main = StartWithDirectX("TITLEBAR 体験版\r\nINSTREADME -説明書\r\n", false, &planter);
    ASSERT_TRUE(planter.planted);
    ASSERT_TRUE(planter.beforeSettings) << "the DirectX file came too late to be seen";
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(L"終了", WindowText(GetDlgItem(main, IDC_SLOT_FIRST)));
    EXPECT_EQ(L"アップデート", WindowText(GetDlgItem(main, IDC_SLOT_FIRST + 1)));
    for (int id = IDC_SLOT_FIRST + 2; id <= IDC_SLOT_FIRST + 8; ++id) EXPECT_EQ(nullptr, GetDlgItem(main, id)) << id;
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
}

}  // namespace

namespace {

class MainWindowFlowTest : public UpdaterProcessTest {
protected:
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    // The updater with these settings and picture (none when empty).
    Bytes Program(const std::string& settings, const Bytes& picture = TinyPicture()) {
        Bytes entries;
        AppendFile(&entries, "install.env", ToBytes(settings));
        if (!picture.empty()) AppendFile(&entries, "insttscr.rct", picture);
        AppendFile(&entries, "readme.txt", ToBytes("read me"));
        AppendFile(&entries, "game.dat", ToBytes("new"));
        return MakeProgramFile(image_, entries);
    }
    TempFolder game_;
};

// While an update runs (here: its question is showing), a second Update, the
// close box and Esc reach the main window and change nothing; afterwards the
// window works again.
TEST_F(MainWindowFlowTest, CommandsCloseAndEscAreIgnoredWhileAnUpdateRuns) {
    ASSERT_TRUE(WriteFileBytes(game_ / "game.dat", ToBytes("old")));
    DeleteGlobalKey(kTestGameKey);
    ASSERT_EQ(0, RegisterGame("Flow", game_.Path()));
    Start(Program("REG_GLOBAL VornelUpdaterTest\r\nREG_LOCAL Flow\r\nTITLEBAR 二重\r\n"));
    HWND main = WaitFor(kMainWindowTitle);
    ASSERT_NE(nullptr, main);
    ClickButton(main, IDC_SLOT_FIRST + 1);  // Update, twice in quick succession
    ClickButton(main, IDC_SLOT_FIRST + 1);
    HWND question = WaitForDialogExcept(process_.dwProcessId, main, kProcessTimeoutMs);
    ASSERT_NE(nullptr, question);
    EXPECT_EQ(Wide(("[" + game_.Path() + "]をアップデートします").c_str()), MessageBoxText(question));
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(main, WM_CLOSE, 0, 0);
    ClickButton(main, IDC_SLOT_FIRST);  // Exit, too, waits its turn: it is refused
    Sleep(kQuietMs);
    EXPECT_TRUE(IsWindowVisible(question));
    ClickButton(question, IDNO);
    ASSERT_TRUE(WaitForWindowGone(question, kProcessTimeoutMs));
    HWND stopped = WaitForDialogExcept(process_.dwProcessId, main, kProcessTimeoutMs);
    ASSERT_NE(nullptr, stopped);
    EXPECT_EQ(Wide("アップデートを中止しました"), MessageBoxText(stopped));
    ClickButton(stopped, IDOK);
    ASSERT_TRUE(WaitForWindowGone(stopped, kProcessTimeoutMs));
    // No second run of the update follows, and the window stays.
    EXPECT_EQ(nullptr, WaitForDialogExcept(process_.dwProcessId, main, kQuietMs));
    EXPECT_TRUE(IsWindowVisible(main));

    // Esc, pressed on the focused button, does nothing either.
    HWND focused = GetDlgItem(main, IDC_SLOT_FIRST + 1);
    PostMessageW(focused, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(focused, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process_.hProcess, kQuietMs));
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_EQ(nullptr, WaitForDialogExcept(process_.dwProcessId, main, 0));

    // Idle again: the close box ends the program.
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
    Bytes data;
    ReadFileBytes(game_ / "game.dat", &data);
    EXPECT_EQ(ToBytes("old"), data);
}

// A second copy with the same title finds the first, says so without touching
// the clipboard, and leaves no working folder; the first goes on, and once it
// has ended a new copy starts normally.
TEST_F(MainWindowFlowTest, SecondCopyMeetsTheFirstAndLeaves) {
    Bytes program = Program("INSTREADME -\r\n");  // the default title
    Start(program, "first.exe");
    PROCESS_INFORMATION first = process_;
    HWND main = WaitForDialog(first.dwProcessId, Wide(kMainWindowTitle), kProcessTimeoutMs);
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(Wide("ＶＯＲＮＥＬ アプリケーション アップデータ"), WindowText(main));
    std::wstring clipboard = ClipboardUnicode();

    Start(program, "second.exe");
    BoxAnswerer answerer{};
    StartBoxAnswerer(&answerer, process_.dwProcessId, IDOK, kProcessTimeoutMs);
    ASSERT_TRUE(FinishBoxAnswerer(&answerer));
    EXPECT_EQ(Wide("[ ＶＯＲＮＥＬ アプリケーション アップデータ ] は既に起動中です"), answerer.text);
    EXPECT_EQ(Wide("ＶＯＲＮＥＬ アプリケーション"), answerer.caption);
    EXPECT_EQ(0, Finish());
    EXPECT_EQ(clipboard, ClipboardUnicode());
    EXPECT_EQ(1u, WorkingFolders().size());  // the first copy's

    process_ = first;
    EXPECT_TRUE(IsWindowVisible(main));
    ClickButton(main, IDC_SLOT_FIRST);
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());

    Start(program, "second.exe");
    main = WaitFor(kMainWindowTitle);
    ASSERT_NE(nullptr, main);
    ClickButton(main, IDC_SLOT_FIRST);
    EXPECT_EQ(0, Finish());
}

// Another kind of object already holds the guard's name, so the guard cannot
// be made: the program ends at once with 0, silently, and removes its
// working folder.
TEST_F(MainWindowFlowTest, GuardThatCannotBeMadeEndsSilentlyWithZero) {
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, Wide("衝突 アップデータ").c_str());
    ASSERT_NE(nullptr, squatter);
    Start(Program("TITLEBAR 衝突\r\n"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_.hProcess, kProcessTimeoutMs));
    EXPECT_EQ(nullptr, WaitForDialog(process_.dwProcessId, L"", 0));
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
    CloseHandle(squatter);
}

// The picture cannot be opened: its retry box, and Cancel there ends the
// program with -1, leaving the working folder and its start-up files.
TEST_F(MainWindowFlowTest, CancelInTheRetryBoxEndsWithMinusOneAndLeavesTheWorkingFolder) {
    Start(Program("TITLEBAR 取消\r\n", Bytes()));
    BoxAnswerer answerer{};
    StartBoxSequence(&answerer, process_.dwProcessId, {IDRETRY, IDCANCEL}, kProcessTimeoutMs);
    ASSERT_TRUE(FinishBoxAnswerer(&answerer));
    ASSERT_EQ(2u, answerer.texts.size());
    EXPECT_NE(std::wstring::npos, answerer.texts[0].find(L"insttscr.rct")) << answerer.texts[0].c_str();
    EXPECT_EQ(answerer.texts[0], answerer.texts[1]);
    EXPECT_EQ(-1, Finish());
    ExpectWorkingFolderLeftWith({"install.env", "readme.txt"});
}

}  // namespace

namespace {

// An updater whose main window template cannot be found: the failure is told
// once and the program ends with -1, removing its working folder, instead of
// trying again and again.
TEST_F(MainWindowFlowTest, MissingMainWindowTemplateIsReportedOnce) {
    // The template's name in the resource directory, in UTF-16, renamed.
    const std::wstring name = L"MAINDIALOG";
    Bytes wanted(reinterpret_cast<const uint8_t*>(name.data()),
                 reinterpret_cast<const uint8_t*>(name.data() + name.size()));
    auto at = std::search(image_.begin(), image_.end(), wanted.begin(), wanted.end());
    ASSERT_NE(image_.end(), at);
    at[wanted.size() - 2] = 'X';
    Start(Program("TITLEBAR 欠落\r\n"));
    BoxAnswerer answerer{};
    StartBoxAnswerer(&answerer, process_.dwProcessId, IDOK, kProcessTimeoutMs);
    ASSERT_TRUE(FinishBoxAnswerer(&answerer));
    EXPECT_EQ(Wide("メインウィンドウを作成できませんでした。"), answerer.text);
    EXPECT_EQ(-1, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
}

}  // namespace

namespace {

// A picture file that cannot be decoded: the main window comes up and paints
// its background where the picture would be, and works as ever.
TEST_F(MainWindowFlowTest, UndecodablePictureLeavesItsPlaceEmpty) {
    Bytes damaged = TinyPicture();
    damaged[8] = 65;  // one column wider than its pixel stream fills
    Start(Program("TITLEBAR 無地\r\n", damaged));
    HWND main = WaitFor(kMainWindowTitle);
    ASSERT_NE(nullptr, main);
    InvalidateRect(main, nullptr, TRUE);
    Sleep(kQuietMs);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), ClientPixel(main, 20, 20));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process_.hProcess, 0));
    ClickButton(main, IDC_SLOT_FIRST);
    EXPECT_EQ(0, Finish());
    EXPECT_TRUE(WorkingFolders().empty());
}

}  // namespace
