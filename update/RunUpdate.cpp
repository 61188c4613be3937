#include "update/RunUpdate.h"

#include <string>
#include <vector>

#include "package/Extract.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "services/ProfileWriter.h"
#include "services/Registry.h"
#include "services/WorkingFolder.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "base/PathRules.h"
#include "update/Elevation.h"
#include "update/FinishDialog.h"
#include "update/InstallFolder.h"
#include "update/UpdateDialogs.h"
#include "update/UpdateRules.h"

namespace {

Message IniFailureMessage(int result) {
    if (result == kProfileCannotRead) return kMsgIniUnreadable;
    if (result == kProfileReadOnly) return kMsgIniReadOnly;
    return kMsgIniNotWritten;
}

void ApplyRegLine(const char* name, const char* data, void*) {
    RegWriteString(RegGlobalSetting(), RegLocalSetting(), name, data);
}

}  // namespace

int WriteIniLines(char* path, size_t capacity) {
    CopyText(path, capacity, "");
    const char* file = IniFileSetting();
    if (file[0] == '\0') return kProfileOk;
    std::vector<std::string> keys, values;
    char key[kExpandBuffer], value[kExpandBuffer];
    for (const StringEntry* e = SectionList(kSectionIni)->first; e != nullptr; e = e->next) {
        if (SplitIniLine(e->text, key, sizeof(key), value, sizeof(value)) != kSplitOk) continue;
        keys.push_back(key);
        values.push_back(value);
    }
    if (keys.empty()) return kProfileOk;
    if (!ResolveProfilePath(file, path, capacity)) CopyText(path, capacity, file);
    std::vector<ProfileEntry> entries;
    for (size_t i = 0; i < keys.size(); ++i) entries.push_back(ProfileEntry{keys[i].c_str(), values[i].c_str()});
    return WriteProfileEntries(IniSectionSetting(), entries.data(), entries.size(), file);
}

void ForEachRegLine(void (*use)(const char* name, const char* data, void* context), void* context) {
    if (RegGlobalSetting()[0] == '-') return;
    char name[kExpandBuffer], data[kExpandBuffer];
    for (const StringEntry* e = SectionList(kSectionReg)->first; e != nullptr; e = e->next)
        if (SplitRegLine(e->text, name, sizeof(name), data, sizeof(data)) == kSplitOk) use(name, data, context);
}

// Tells why an extraction did not end in kExtractDone: a damaged package, or
// an installed file a delta does not apply to (Cancel was the player's own).
static void TellFailedExtraction(ExtractResult result) {
    if (result == kExtractDamaged) ShowMessage(kMsgDamagedPackage);
    if (result == kExtractSourceMismatch) ShowMessage(kMsgSourceMismatch, LastFailedEntry(), kKeptAsItWas);
}

void EndAfterFailedExtraction(ExtractResult result) {
    TellFailedExtraction(result);
    EndProgram(-1);
}

HelperExit WriteInstallFolder(const char* folder) {
    ExtractResult extracted = ExtractPackage(folder, kFullMode);
    if (extracted != kExtractDone) {
        TellFailedExtraction(extracted);
        return kHelperExitFailed;
    }
    SetInstallFolderToken(folder);
    // A failed [ini] write is told with the file's name, and the update goes on.
    char iniPath[kMaxPath];
    int iniResult = WriteIniLines(iniPath, sizeof(iniPath));
    if (iniResult != kProfileOk) ShowMessage(IniFailureMessage(iniResult), iniPath);
    DeleteAfterInstall(folder);
    return kHelperExitDone;
}

// Writes into folder as this account, or through the elevated helper when the
// folder refuses this account and the player agrees. Returns only when the
// folder is updated; every failure was told and ends the program with -1.
static void UpdateInstallFolder(const char* folder) {
    if (DestinationRefusesWrites(folder)) {
        if (!AskContinueAsAdministrator(folder)) EndProgram(-1);
        HelperOutcome outcome = RunElevatedHelper(folder);
        if (outcome == kHelperFinished) return;
        if (outcome == kHelperFailedTold) EndProgram(-1);
        // Refused elevation: the walk below meets the refusal and asks Retry/Cancel as ever.
    }
    if (WriteInstallFolder(folder) != kHelperExitDone) EndProgram(-1);
}

UpdateResult RunUpdate() {
    char folder[kInstallPathBuffer] = "";
    FolderResult found = FindInstalledCopy(folder);
    if (found == kFolderNotFound && ShowMessage(kMsgAskManualChoice, TitleBarSetting()))
        found = ChooseInstallFolder(folder);
    if (found != kFolderConfirmed) {
        ShowMessage(kMsgUpdateCancelled);
        return kUpdateAbandoned;
    }
    UpdateInstallFolder(folder);
    // The registry values and the launches are the player's own, never the helper's.
    SetInstallFolderToken(folder);
    ForEachRegLine(ApplyRegLine, nullptr);
    FinishChoices choices{false, false};
    FinishDialog(&choices);
    PlatformSetCurrentFolder(folder);
    if (choices.runGame) StartProgram(ExeNameSetting());
    if (choices.openReadme) {
        char readme[kLongSettingBuffer];
        OpenDocument(SettingString("INSTREADMEFL", readme, sizeof(readme), kDefaultReadmeFile));
    }
    return kUpdateApplied;
}
