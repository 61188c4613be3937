// Entry point of the updater. Until the main window exists it runs the
// start-up steps (working folder, start-up extraction, the settings-file
// check, both settings passes), reports what it prepared and asks, in place
// of the main window's Update button, whether to update; then cleans up.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <string>

#include "package/Extract.h"
#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "shell/FileSearch.h"
#include "shell/PathRules.h"
#include "shell/WorkingFolder.h"
#include "update/RunUpdate.h"

namespace {

constexpr const char* kMissingStartupFiles =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";
// Text of the question shown in place of the main window, captioned with the
// updater's title.
constexpr const char* kStartupReadyText = "起動ファイルを展開しました。";
constexpr const char* kStartUpdateQuestion = "\nアップデートを開始しますか？";

void UninitializeCom() { CoUninitialize(); }

// Lists the start-up files and asks whether to update; true for Yes.
bool AskToUpdate() {
    char text[kMessageBuffer];
    CopyText(text, sizeof(text), kStartupReadyText);
    if (FindFirstMatch("*.*") == 0) {
        for (const char* name = FindNextMatch(); name != nullptr; name = FindNextMatch()) {
            AppendText(text, sizeof(text), "\n");
            AppendText(text, sizeof(text), name);
        }
    }
    AppendText(text, sizeof(text), kStartUpdateQuestion);
    return BoxShow(text, UpdaterTitle(), MB_YESNO | MB_ICONQUESTION, false) == IDYES;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    atexit(UninitializeCom);
    SetDirectOpenAllowed(1);
    CreateWorkingFolder();
    ExtractPackage(WorkingFolderPath(), kBootMode);
    if (!DataFileExists(kSettingsFileName)) {
        ShowError(kMissingStartupFiles);
        shell::FatalExit(-1);
    }
    LoadSettingsTable(kSettingsFileName);
    LoadSectionLists(kSettingsFileName);
    if (AskToUpdate()) RunUpdate();
    RemoveWorkingFolder();
    return 0;
}
