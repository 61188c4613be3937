// Entry point of the updater: prepares the process, creates the working
// folder and extracts the start-up files into it, loads the settings, makes
// sure only one copy with the same title runs, and runs the main window.
//
// Started by another updater as its elevated helper (update/Elevation.h), it
// checks the handshake before anything else, uses that updater's working
// folder and settings, writes the install folder behind its progress window
// and ends with a HelperExit code; it shows no main window and takes no guard.
//
// Exit codes: 0 when the main window closed, or when another copy runs or the
// guard cannot be had; -1 for every failure, and when the Windows session ends
// during the update (rolled back first); a quit message's own code when one
// reaches the extraction's message pump (after the same roll-back).
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "package/Extract.h"
#include "services/DataFileOpener.h"
#include "services/Messages.h"
#include "services/SystemLibraries_win32.h"
#include "services/TextCodec_win32.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "shell/MainWindow_win32.h"
#include "base/PathRules.h"
#include "update/Elevation_win32.h"
#include "update/RunUpdate.h"
#include "services/WorkingFolder.h"

namespace {

void UninitializeCom() { CoUninitialize(); }

// Takes the named mutex of this title; ends the program with 0 when it cannot
// be made or another copy holds it.
void TakeSingleInstanceGuard() {
    char name[kTitleBuffer];
    snprintf(name, sizeof(name), "%s", UpdaterTitle());
    wchar_t wideName[kWideTextBuffer];
    if (!SjisToWide(name, wideName, kWideTextBuffer)) EndProgram(0);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, wideName);
    if (mutex == nullptr) EndProgram(0);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        ShowMessage(kMsgAlreadyRunning, name, TitleBarSetting());
        EndProgram(0);
    }
}

// The helper's whole run: ends the process with a HelperExit code.
[[noreturn]] void RunAsHelper(const char* installFolder, const char* workingFolder) {
    if (BorrowWorkingFolder(workingFolder) != 0 || !DataFileExists(kSettingsFileName)) {
        ShowMessage(kMsgMissingStartupFiles);
        EndProgram(kHelperExitFailed);
    }
    LoadSettingsTable(kSettingsFileName);
    LoadSectionLists(kSettingsFileName);
    EndProgram(WriteInstallFolder(installFolder));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before the first call into a delay-loaded library (COM is the first).
    RestrictLibrarySearch();
    CoInitialize(nullptr);
    atexit(UninitializeCom);
    SetDirectOpenAllowed(1);
    char installFolder[kMaxPath], workingFolder[kMaxPath];
    HelperCommand helper = ReadHelperHandshake(installFolder, workingFolder, kMaxPath);
    // A helper command line that its parent did not hand over touches nothing.
    if (helper == kHelperMalformed) exit(kHelperExitRefused);
    if (helper == kHelperAsked) RunAsHelper(installFolder, workingFolder);
    if (CreateWorkingFolder() != 0) {
        ShowMessage(kMsgNoWorkingFolder);
        EndProgram(-1);
    }
    ExtractResult extracted = ExtractPackage(WorkingFolderPath(), kBootMode);
    if (extracted != kExtractDone) EndAfterFailedExtraction(extracted);
    if (!DataFileExists(kSettingsFileName)) {
        ShowMessage(kMsgMissingStartupFiles);
        EndProgram(-1);
    }
    LoadSettingsTable(kSettingsFileName);
    LoadSectionLists(kSettingsFileName);
    TakeSingleInstanceGuard();
    if (RunMainWindow(instance) == kMainWindowFailed) {
        ShowMessage(kMsgNoMainWindow);
        EndProgram(-1);
    }
    return 0;
}
