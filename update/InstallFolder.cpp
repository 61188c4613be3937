#include "update/InstallFolder.h"

#include <cstring>

#include "services/DataFileOpener.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "services/Registry.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "update/UpdateDialogs.h"

namespace {

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

// Puts the current folder back as it was when the keeper was made, on every
// way out of the scope.
struct CurrentFolderKeeper {
    char folder[kRememberedFolderBuffer];
    bool kept;
    CurrentFolderKeeper() { kept = PlatformGetCurrentFolder(folder, sizeof(folder)) == 0; }
    ~CurrentFolderKeeper() {
        if (kept) PlatformSetCurrentFolder(folder);
    }
    CurrentFolderKeeper(const CurrentFolderKeeper&) = delete;
    CurrentFolderKeeper& operator=(const CurrentFolderKeeper&) = delete;
};

bool KeyFileMissing(const char* folder) {
    const char* keyFile = KeyFileSetting();
    if (keyFile == nullptr) return false;
    char path[kInstallPathBuffer * 2];
    return !JoinPath(path, sizeof(path), folder, keyFile) || !DataFileExists(path);
}

bool Confirmed(const char* path, char* folder) {
    if (!ShowMessage(kMsgConfirmUpdate, path)) return false;
    CopyText(folder, kInstallPathBuffer, path);
    return true;
}

}  // namespace

NormalizeResult NormalizeInstallPath(char* path, size_t capacity, const NormalizeOptions& options) {
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

VersionVerdict JudgeInstalledVersion(int version, int lowest, int highest) {
    if (version < lowest) return kVersionTooOld;
    if (version > highest) return kVersionAlreadyUpdated;
    return kVersionAccepted;
}

bool VersionGate() {
    const char* valueName = ChkRegSetting();
    if (valueName == nullptr) return true;
    int version = RegReadInt(RegGlobalSetting(), RegLocalSetting(), valueName, 0);
    VersionVerdict verdict = JudgeInstalledVersion(version, ChkRegVerSetting(), ChkRegVerHighSetting());
    if (verdict == kVersionTooOld) {
        ShowMessage(kMsgVersionTooOld);
        return false;
    }
    if (verdict == kVersionAlreadyUpdated) {
        ShowMessage(kMsgAlreadyUpdated);
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

FolderResult FindInstalledCopy(char* folder) {
    if (!VersionGate()) return kFolderRefused;
    {
        CurrentFolderKeeper current;
        if (RegReadInt(RegGlobalSetting(), RegLocalSetting(), "IsInst", 0) == 0) {
            ShowMessage(kMsgNotInstalled);
            return kFolderNotFound;
        }
        RegReadString(RegGlobalSetting(), RegLocalSetting(), "InstTo", "", s_path, sizeof(s_path));
        if (s_path[0] == '\0' || KeyFileMissing(s_path)) {
            ShowMessage(kMsgFolderUnknown);
            return kFolderNotFound;
        }
    }
    return Confirmed(s_path, folder) ? kFolderConfirmed : kFolderRefused;
}

// The box a refused hand-chosen path gets, or kMsgCount for none.
static Message RefusalMessage(NormalizeResult result) {
    switch (result) {
        case kNormalizeNetwork: return kMsgNetworkDrive;
        case kNormalizeTooLong: return kMsgPathTooLong;
        case kNormalizeRoot: return kMsgRootFolder;
        default: return kMsgCount;
    }
}

FolderResult ChooseInstallFolder(char* folder) {
    {
        CurrentFolderKeeper current;
        DefaultInstallPath();
        if (RegReadInt(RegGlobalSetting(), RegLocalSetting(), "IsInst", 0) != 0) {
            char proposal[kInstallPathBuffer];
            CopyText(proposal, sizeof(proposal), s_path);
            RegReadString(RegGlobalSetting(), RegLocalSetting(), "InstTo", proposal, s_path, sizeof(s_path));
        }
        if (!RunSetupDialog(s_path, sizeof(s_path))) return kFolderNotFound;
        char windows[kInstallPathBuffer];
        if (PlatformGetWindowsFolder(windows, sizeof(windows)) != 0) windows[0] = '\0';
        NormalizeOptions options{InstMakeFolSetting() != 0, InstFolSetting(), InstToSetting(), windows};
        Message refusal = RefusalMessage(NormalizeInstallPath(s_path, sizeof(s_path), options));
        if (refusal != kMsgCount) {
            ShowMessage(refusal);
            return kFolderNotFound;
        }
    }
    if (KeyFileMissing(s_path)) {
        ShowMessage(kMsgGameNotFound, TitleBarSetting());
        return kFolderNotFound;
    }
    if (!VersionGate()) return kFolderNotFound;
    return Confirmed(s_path, folder) ? kFolderConfirmed : kFolderNotFound;
}
