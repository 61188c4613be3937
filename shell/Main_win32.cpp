// Entry point of the updater. Until the main window exists it runs the
// start-up slice: working folder, start-up extraction, the settings-file check,
// then reports what it prepared and cleans up.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <string>

#include "package/Extract.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "shell/FileSearch.h"
#include "shell/PathRules.h"
#include "shell/WorkingFolder.h"

namespace {

constexpr const char* kSettingsFile = "install.env";
constexpr const char* kMissingStartupFiles =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";
// Caption and text of the report shown in place of the main window.
constexpr const char* kStartupReadyCaption = "アップデータ";
constexpr const char* kStartupReadyText = "起動ファイルを展開しました。";

void UninitializeCom() { CoUninitialize(); }

void ReportStartupFiles() {
    char text[kMessageBuffer];
    CopyText(text, sizeof(text), kStartupReadyText);
    if (FindFirstMatch("*.*") == 0) {
        for (const char* name = FindNextMatch(); name != nullptr; name = FindNextMatch()) {
            AppendText(text, sizeof(text), "\n");
            AppendText(text, sizeof(text), name);
        }
    }
    BoxShow(text, kStartupReadyCaption, MB_OK | MB_ICONINFORMATION, false);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    atexit(UninitializeCom);
    CreateWorkingFolder();
    ExtractPackage(WorkingFolderPath(), kBootMode);
    uint32_t attributes = 0;
    if (PlatformGetAttributes(kSettingsFile, &attributes) != 0) {
        ShowError(kMissingStartupFiles);
        shell::FatalExit(-1);
    }
    ReportStartupFiles();
    RemoveWorkingFolder();
    return 0;
}
