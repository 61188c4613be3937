// No DLL planting: DLLs that bear the names of system libraries, placed beside
// the updater as a web page could leave them in the Downloads folder, are never
// loaded, through a whole update with the folder browser, the progress window
// and the finish dialog. Wine is made to prefer such DLLs to its own
// (WINEDLLOVERRIDES name=n,b), as Windows prefers a DLL in the program's
// folder to a system library that is not a "known DLL".
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "resources/resource.h"
#include "services/Registry.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

// Each planted name, with the load that would take it from the program's folder.
const struct {
    const char* name;
    const char* loadedBy;
} kPlanted[] = {
    {"comctl32", "the updater's own import, for the progress window's controls"},
    {"winmm", "the updater's own import, for the working folder's name"},
    {"version", "the window library as it starts (Wine's imports it)"},
    {"uxtheme", "the common controls, to draw themed controls"},
    // Wine's folder browser loads it through COM by its full path; the
    // Windows one through the search order.
    {"propsys", "the shell's folder browser"},
    {"msacm32", "the multimedia library's own import"},
    {"msvfw32", "the animation control of the progress window"},
};
constexpr const char* kMarkerSuffix = ".dll.loaded";
// Room for the overrides the test run already has.
constexpr DWORD kOverridesChars = 1024;
constexpr const char* kSystemLibraryNames[] = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"};
// The import directory is the second data directory; a descriptor is 20 bytes
// with the name's address at +12.
constexpr size_t kImportDirectory = 1;
constexpr size_t kImportDescriptorSize = 20;

// A running process whose program file is named name (not one of known), or 0.
DWORD FindProcess(const std::wstring& name, const std::vector<DWORD>& known) {
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0; more = Process32NextW(snapshot, &entry)) {
        bool old = false;
        for (DWORD id : known) old = old || id == entry.th32ProcessID;
        if (!old && lstrcmpiW(entry.szExeFile, name.c_str()) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

class LibraryPlantingTest : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey(kTestGameKey);
        for (const auto& p : kPlanted) {
            Bytes dll;
            std::string name = std::string(p.name) + ".dll";
            ASSERT_TRUE(ReadFileBytes(BesideTests(("planted\\" + name).c_str()), &dll)) << name;
            ASSERT_TRUE(WriteFileBytes(programs_ / name, dll));
        }
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    // Starts the program file as Wine starts a program the user runs, told by
    // WINEDLLOVERRIDES to prefer a DLL in the program's folder for every
    // planted name. Wine's loader reads that variable from the Unix
    // environment only, so a Unix shell starts the program with it.
    void StartPreferringPlanted(const Bytes& programFile, const char* name) {
        std::vector<DWORD> known;
        for (DWORD id = FindProcess(Wide(name), known); id != 0; id = FindProcess(Wide(name), known))
            known.push_back(id);
        Launch(programFile, name);
        DWORD id = 0;
        for (DWORD waited = 0; id == 0 && waited < kProcessTimeoutMs; waited += kWindowPollMs) {
            Sleep(kWindowPollMs);
            id = FindProcess(Wide(name), known);
        }
        ASSERT_NE(0u, id) << name << " did not start";
        process_.dwProcessId = id;
        process_.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        ASSERT_NE(nullptr, process_.hProcess);
    }
    // Saves the program file under name beside the planted DLLs and starts it
    // through the shell, without waiting for it.
    void Launch(const Bytes& programFile, const char* name) {
        std::string exe = programs_ / name;
        ASSERT_TRUE(WriteFileBytes(exe, programFile));
        wchar_t base[kOverridesChars];
        DWORD n = GetEnvironmentVariableW(L"WINEDLLOVERRIDES", base, kOverridesChars);
        std::string overrides = n > 0 && n < kOverridesChars ? std::string(base, base + n) + ";" : "";
        for (size_t i = 0; i < sizeof(kPlanted) / sizeof(kPlanted[0]); ++i)
            overrides += std::string(i == 0 ? "" : ",") + kPlanted[i].name;
        ASSERT_TRUE(StartUnixShell("WINEDLLOVERRIDES='" + overrides + "=n,b' exec wine '" + UnixPath(exe) + "'"));
    }
    // The planted DLLs that left their trace, each with what would load it.
    std::vector<std::string> Loaded() {
        std::vector<std::string> loaded;
        for (const auto& p : kPlanted)
            if (Exists(programs_ / (std::string(p.name) + kMarkerSuffix)))
                loaded.push_back(std::string(p.name) + " (" + p.loadedBy + ")");
        return loaded;
    }
};

// The harness finds a planted DLL when one is taken: a program that imports
// the window library directly (the robot, in the same folder) loads the
// planted version.dll under Wine. Without this, a passing test below could
// mean that the planting does not work at all.
TEST_F(LibraryPlantingTest, AProgramThatImportsTheWindowLibraryTakesThePlantedVersionDll) {
    Bytes robot;
    ASSERT_TRUE(ReadFileBytes(BesideTests("robot.exe"), &robot));
    // The robot ends at once, too soon to be caught running: the file it
    // leaves says that it ran, after its libraries were loaded.
    Launch(robot, "robot.exe");
    bool ran = false;
    for (DWORD waited = 0; !ran && waited < kProcessTimeoutMs; waited += kWindowPollMs, Sleep(kWindowPollMs))
        ran = Exists(programs_ / "robot.exe.ran");
    ASSERT_TRUE(ran);
    EXPECT_TRUE(Exists(programs_ / (std::string("version") + kMarkerSuffix)));
}

// A whole update, chosen by hand through the folder browser: nothing planted
// is loaded at any step.
TEST_F(LibraryPlantingTest, NothingIsLoadedFromTheUpdatersFolder) {
    TempFolder game;
    ASSERT_TRUE(WriteFileBytes(game / "game.dat", ToBytes("old")));
    Bytes entries = StartupEntries(GameSettings("Planting", "植え込み") + "INSTREADME -\r\n");
    AppendFile(&entries, "game.dat", ToBytes("new"));
    // Large enough that the progress window and its animation stay up a while.
    AppendFile(&entries, "voice.arc", Bytes(48u << 20, 0));
    StartPreferringPlanted(MakeProgramFile(image_, entries), "update.exe");
    ASSERT_NO_FATAL_FAILURE(Press(IDC_SLOT_FIRST + 1));  // Update, above Exit
    ASSERT_EQ(2u, Answer({IDOK, IDYES}).size());  // not installed; choose by hand
    HWND setup = WaitFor(kSetupTitle);
    ASSERT_NE(nullptr, setup);
    ClickButton(setup, IDC_BROWSE);
    HWND browser = WaitForOtherDialog(process_.dwProcessId, {setup, main_}, kProcessTimeoutMs);
    ASSERT_NE(nullptr, browser) << "the folder browser did not open";
    ClickButton(browser, IDCANCEL);
    ASSERT_TRUE(WaitForWindowGone(browser, kProcessTimeoutMs));
    ASSERT_NO_FATAL_FAILURE(ChooseFolder(Wide(game.Path().c_str())));
    ASSERT_EQ(1u, Answer({IDYES}).size());
    EXPECT_NE(nullptr, WaitFor(kProgressTitle));
    ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(false));
    EXPECT_EQ(0, Finish());
    Bytes data;
    ASSERT_TRUE(ReadFileBytes(game / "game.dat", &data));
    EXPECT_EQ(ToBytes("new"), data);
    EXPECT_EQ(std::vector<std::string>{}, Loaded());
}

// The updater's import table names only libraries whose own imports are known
// DLLs; every other library is delay-loaded from the system folder.
TEST(UpdaterImportsTest, OnlyKernelAdvapiAndTheRuntimeAreImportedDirectly) {
    Bytes image = UpdaterImage();
    ASSERT_GT(image.size(), 0x400u);
    auto u32 = [&](size_t at) { return at + 4 <= image.size() ? image[at] | image[at + 1] << 8 | image[at + 2] << 16 | static_cast<uint32_t>(image[at + 3]) << 24 : 0u; };
    auto u16 = [&](size_t at) { return at + 2 <= image.size() ? static_cast<uint16_t>(image[at] | image[at + 1] << 8) : 0; };
    size_t pe = u32(0x3C);
    size_t optional = pe + 24;
    ASSERT_EQ(0x20Bu, u16(optional));
    size_t sections = optional + u16(pe + 20);
    // A relative address as a file offset, through the section table.
    auto offset = [&](uint32_t rva) -> size_t {
        for (size_t i = 0; i < static_cast<size_t>(u16(pe + 6)); ++i) {
            size_t s = sections + i * 40;
            uint32_t address = u32(s + 12), size = u32(s + 8);
            if (rva >= address && rva - address < size) return u32(s + 20) + (rva - address);
        }
        return 0;
    };
    size_t descriptor = offset(u32(optional + 112 + kImportDirectory * 8));
    ASSERT_NE(0u, descriptor);
    std::vector<std::string> imported;
    for (; u32(descriptor + 12) != 0; descriptor += kImportDescriptorSize) {
        size_t name = offset(u32(descriptor + 12));
        ASSERT_NE(0u, name);
        std::string text;
        for (size_t i = name; i < image.size() && image[i] != 0; ++i)
            text += static_cast<char>(image[i] >= 'A' && image[i] <= 'Z' ? image[i] + 32 : image[i]);
        imported.push_back(text);
    }
    EXPECT_FALSE(imported.empty());
    for (const std::string& name : imported) {
        bool allowed = false;
        for (const char* system : kSystemLibraryNames) allowed = allowed || name == system;
        EXPECT_TRUE(allowed) << name << " is imported directly";
    }
}

}  // namespace
