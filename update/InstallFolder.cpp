#include "update/InstallFolder.h"

#include <cstring>

#include "services/DataFileOpener.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "update/UpdateDialogs.h"

namespace {

constexpr const char* kVersionTooOld = "アップデート元のバージョンが不適合です";
constexpr const char* kAlreadyUpdated = "既にアップデート適応済みです";
constexpr const char* kNotInstalled = "本体がインストールされていません";
constexpr const char* kFolderUnknown =
    "インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください";
constexpr const char* kNetworkDrive = "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。";
constexpr const char* kRootFolder = "ルートには適応できません";
constexpr const char* kGameNotFound = "指定されたフォルダには [ %s ] 本体は発見できませんでした";
constexpr const char* kConfirm = "[%s]をアップデートします";
constexpr const char* kProgramFiles = "Program Files\\";

char s_path[kInstallPathBuffer];

// Inserts text at position in path; false when it would not fit.
bool InsertText(char* path, size_t capacity, size_t position, const char* text) {
    size_t n = strlen(path), add = strlen(text);
    if (n + add + 1 > capacity) return false;
    memmove(path + position + add, path + position, n - position + 1);
    memcpy(path + position, text, add);
    return true;
}

struct CurrentFolderKeeper {
    char folder[kRememberedFolderBuffer];
    bool ok;
    CurrentFolderKeeper() { ok = PlatformGetCurrentFolder(folder, sizeof(folder)) == 0; }
    void Restore() const {
        if (ok) PlatformSetCurrentFolder(folder);
    }
};

bool KeyFileMissing(const char* folder) {
    const char* keyFile = KeyFileSetting();
    if (keyFile == nullptr) return false;
    char path[kInstallPathBuffer * 2];
    return !JoinPath(path, sizeof(path), folder, keyFile) || !DataFileExists(path);
}

bool Confirmed(const char* path, char* folder) {
    if (!AskYesNo(kConfirm, path)) return false;
    CopyText(folder, kInstallPathBuffer, path);
    return true;
}

}  // namespace

char* InstallPathBuffer() { return s_path; }

int NormalizeInstallPath(char* path, size_t capacity, const NormalizeOptions& options) {
    ReplaceSjisByte(path, '/', '\\');
    const char* doubled = strstr(path, "\\\\");
    if (doubled != nullptr && (doubled == path || !IsLeadByte(static_cast<uint8_t>(doubled[-1]))))
        return kNormalizeNetwork;
    StripTrailingBackslash(path);
    if (options.makeFolder && strstr(path, options.instTo) == nullptr) {
        bool fits = AppendText(path, capacity, "\\");
        if (options.instFol != nullptr)
            fits = fits && AppendText(path, capacity, options.instFol) && AppendText(path, capacity, "\\");
        if (!fits || !AppendText(path, capacity, options.instTo)) return kNormalizeTooLong;
    }
    if (strchr(path, ':') == nullptr) {
        const char* colon = strchr(options.windowsFolder, ':');
        if (colon != nullptr) {
            char drive[kInstallPathBuffer];
            size_t n = static_cast<size_t>(colon - options.windowsFolder) + 1;
            if (n >= sizeof(drive)) return kNormalizeTooLong;
            memcpy(drive, options.windowsFolder, n);
            drive[n] = '\0';
            if (!InsertText(path, capacity, 0, drive)) return kNormalizeTooLong;
        }
    }
    const char* colon = strchr(path, ':');
    if (colon != nullptr && colon[1] != '\\' &&
        !InsertText(path, capacity, static_cast<size_t>(colon - path) + 1, "\\"))
        return kNormalizeTooLong;
    return EndsInSeparator(path) ? kNormalizeRoot : kNormalizeOk;
}

bool VersionGate() {
    const char* valueName = ChkRegSetting();
    if (valueName == nullptr) return true;
    int version = RegReadInt(RegGlobalSetting(), RegLocalSetting(), valueName, 0);
    if (version < ChkRegVerSetting()) {
        ShowError(kVersionTooOld);
        return false;
    }
    if (version > ChkRegVerHighSetting()) {
        ShowError(kAlreadyUpdated);
        return false;
    }
    return true;
}

void DefaultInstallPath() {
    char windows[kInstallPathBuffer];
    s_path[0] = '\0';
    // The drive root: the Windows folder up to and including its first '\'.
    if (PlatformGetWindowsFolder(windows, sizeof(windows)) == 0) {
        char* separator = strchr(windows, '\\');
        if (separator != nullptr) {
            separator[1] = '\0';
            CopyText(s_path, sizeof(s_path), windows);
        }
    }
    AppendText(s_path, sizeof(s_path), kProgramFiles);
    const char* instFol = InstFolSetting();
    if (instFol != nullptr) {
        AppendText(s_path, sizeof(s_path), instFol);
        AppendText(s_path, sizeof(s_path), "\\");
    }
    AppendText(s_path, sizeof(s_path), InstToSetting());
}

int FindInstalledCopy(char* folder) {
    if (!VersionGate()) return -2;
    CurrentFolderKeeper current;
    if (RegReadInt(RegGlobalSetting(), RegLocalSetting(), "IsInst", 0) == 0) {
        ShowError(kNotInstalled);
        current.Restore();
        return -1;
    }
    RegReadString(RegGlobalSetting(), RegLocalSetting(), "InstTo", "", s_path, sizeof(s_path));
    if (s_path[0] == '\0' || KeyFileMissing(s_path)) {
        ShowError(kFolderUnknown);
        current.Restore();
        return -1;
    }
    current.Restore();
    return Confirmed(s_path, folder) ? 0 : -2;
}

int ChooseInstallFolder(char* folder) {
    CurrentFolderKeeper current;
    DefaultInstallPath();
    if (RegReadInt(RegGlobalSetting(), RegLocalSetting(), "IsInst", 0) != 0) {
        char proposal[kInstallPathBuffer];
        CopyText(proposal, sizeof(proposal), s_path);
        RegReadString(RegGlobalSetting(), RegLocalSetting(), "InstTo", proposal, s_path, sizeof(s_path));
    }
    if (!RunSetupDialog(s_path, sizeof(s_path))) {
        current.Restore();
        return -1;
    }
    char windows[kInstallPathBuffer];
    if (PlatformGetWindowsFolder(windows, sizeof(windows)) != 0) windows[0] = '\0';
    NormalizeOptions options{InstMakeFolSetting() != 0, InstFolSetting(), InstToSetting(), windows};
    switch (NormalizeInstallPath(s_path, sizeof(s_path), options)) {
        case kNormalizeNetwork:
            current.Restore();
            ShowError(kNetworkDrive);
            return -1;
        case kNormalizeTooLong:
            current.Restore();
            ShowError(kPathTooLongMessage);
            return -1;
        case kNormalizeRoot:
            ShowRetryError(kRootFolder);
            current.Restore();
            return -1;
        default:
            break;
    }
    current.Restore();
    if (KeyFileMissing(s_path)) {
        ShowError(kGameNotFound, TitleBarSetting());
        return -1;
    }
    if (!VersionGate()) return -1;
    return Confirmed(s_path, folder) ? 0 : -1;
}
