// The updater's two passes over install.env against the makers' check, which
// claims to read the file as the updater will: for every key, what the
// updater's table and accessors hold is what the check reports, and for a
// file the check lets start, the section lists are the entries it reports.
//
// The updater opens the file in text mode on Windows. The native build reads
// bytes as they are, so the target hands it what a Windows text-mode stream
// delivers (CR LF as LF, nothing from the first Ctrl-Z on), written out here
// on its own rather than taken from the check, which is under test.
#include <cstring>
#include <string>

#include "settings/SectionLists.h"
#include "settings/SettingsFile.h"
#include "services/DataFileOpener.h"
#include "tests/fuzz/FuzzKit.h"
#include "tests/support/PackageBuilder.h"
#include "tools/SettingsCheck.h"

namespace {

constexpr char kCtrlZ = 0x1A;

std::string WindowsTextMode(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && bytes[i] != kCtrlZ; ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetDirectOpenAllowed(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    SettingsCheck check;
    CheckSettingsText(bytes, nullptr, &check);

    ClearScratch();
    std::string path = ScratchFolder() + "\\install.env";
    WriteFileBytes(path, ToBytes(WindowsTextMode(bytes)));
    ResetSettingsForTesting();
    LoadSettingsTable(path.c_str());
    for (const EffectiveSetting& setting : check.settings) {
        const SettingEntry* entry = FindSetting(setting.key);
        FuzzCheck((entry == nullptr) == setting.isDefault, "the check and the updater agree whether a key is set");
        if (entry == nullptr) continue;
        FuzzCheck(setting.fullValue == entry->value, "the check reports the value the updater's table holds");
        if (setting.isInteger) {
            FuzzCheck(SettingInt(setting.key, 0) == setting.number, "the check reports the number the updater reads");
        } else {
            char value[kSettingBuffer];
            SettingString(setting.key, value, sizeof(value), "");
            FuzzCheck(setting.value == value, "the check reports the text the updater's accessor gives");
        }
    }

    // A file with an error ends the updater; one without fills the lists.
    if (check.errors != 0) return 0;
    ResetSectionListsForTesting();
    LoadSectionLists(path.c_str());
    for (int section = 0; section < kSectionCount; ++section) {
        size_t index = 0;
        for (const StringEntry* entry = SectionList(section)->first; entry != nullptr; entry = entry->next, ++index) {
            FuzzCheck(index < check.sections[section].size(), "the updater keeps no section line the check misses");
            FuzzCheck(check.sections[section][index] == entry->text, "the check reports each section line as kept");
        }
        FuzzCheck(index == check.sections[section].size(), "the check reports no section line the updater drops");
    }
    return 0;
}
