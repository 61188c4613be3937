#include "update/FinishDialog.h"

#include "settings/SettingsFile.h"

namespace {

// INSTREADME values starting with this byte mean "no readme to offer".
constexpr char kNoReadmeMark = '-';

}  // namespace

void FinishDialog(FinishChoices* choices) {
    choices->runGame = false;
    choices->openReadme = false;
    char label[kLongSettingBuffer];
    SettingString("INSTREADME", label, sizeof(label), kDefaultReadmeLabel);
    if (label[0] == kNoReadmeMark) {
        RunFinishDialog(nullptr, choices);
        // The short template has no readme box, whatever the dialog reported.
        choices->openReadme = false;
        return;
    }
    RunFinishDialog(label, choices);
}
