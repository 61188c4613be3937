#include "update/RunUpdate.h"

#include "package/Extract.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "services/ProfileWriter.h"
#include "services/Registry.h"
#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "update/FinishDialog.h"
#include "update/InstallFolder.h"
#include "update/UpdateDialogs.h"
#include "update/UpdateRules.h"

namespace {

constexpr const char* kAskManualChoice =
    "[ %s ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？";
constexpr const char* kUpdateCancelled = "アップデートを中止しました";

void WriteIniLines() {
    const char* file = IniFileSetting();
    if (file[0] == '\0') return;
    char key[kExpandBuffer], value[kExpandBuffer];
    for (const StringEntry* e = SectionList(kSectionIni)->first; e != nullptr; e = e->next)
        if (SplitIniLine(e->text, key, sizeof(key), value, sizeof(value)) == 0)
            WriteProfileEntry(IniSectionSetting(), key, value, file);
}

void WriteRegLines() {
    if (RegGlobalSetting()[0] == '-') return;
    char name[kExpandBuffer], data[kExpandBuffer];
    for (const StringEntry* e = SectionList(kSectionReg)->first; e != nullptr; e = e->next)
        if (SplitRegLine(e->text, name, sizeof(name), data, sizeof(data)) == 0)
            RegWriteString(RegGlobalSetting(), RegLocalSetting(), name, data);
}

}  // namespace

int RunUpdate() {
    char folder[kInstallPathBuffer] = "";
    int found = FindInstalledCopy(folder);
    if (found == -1 && AskYesNo(kAskManualChoice, TitleBarSetting())) found = ChooseInstallFolder(folder);
    if (found != 0) {
        ShowError(kUpdateCancelled);
        return -1;
    }
    ExtractPackage(folder, kFullMode);
    SetInstallFolderToken(folder);
    WriteIniLines();
    WriteRegLines();
    DeleteAfterInstall(folder);
    FinishChoices choices{false, false};
    FinishDialog(&choices);
    PlatformSetCurrentFolder(folder);
    if (choices.runGame) StartProgram(ExeNameSetting());
    if (choices.openReadme) {
        char readme[kLongSettingBuffer];
        OpenDocument(SettingString("INSTREADMEFL", readme, sizeof(readme), kDefaultReadmeFile));
    }
    return 0;
}
