#include "services/DataFileOpener.h"

#include <cstdlib>
#include <cstring>

#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "base/PathRules.h"
#include "base/SjisText.h"

namespace {

bool s_directOpen = false;
bool s_lockCreated = false;
PlatformLock* s_lock = nullptr;

void DeleteOpenerLock() {
    PlatformDeleteLock(s_lock);
    s_lock = nullptr;
}

// Creates the lock on first use; an exit handler deletes it.
void EnsureOpenerLock() {
    if (s_lockCreated) return;
    s_lock = PlatformCreateLock();
    atexit(DeleteOpenerLock);
    s_lockCreated = true;
}

FILE* OpenUnderLock(const char* name, const char* mode) {
    bool sound = IsSoundName(name);
    if (!sound && s_directOpen) {
        FILE* file = PlatformOpenFile(name, mode);
        if (file != nullptr) return file;
    }
    if (ContainsSjis(name, "\\")) return nullptr;
    if (sound && s_directOpen) return PlatformOpenFile(name, mode);
    return nullptr;
}

}  // namespace

void SetDirectOpenAllowed(int flag) { s_directOpen = flag != 0; }

bool IsSoundName(const char* name) {
    const char* filePart = name + FolderPartLength(name);
    const char* dot = strrchr(filePart, '.');
    if (dot == nullptr) return false;
    return EqualsFoldedSjis(dot, ".ogg") || EqualsFoldedSjis(dot, ".wav");
}

FILE* OpenDataFile(const char* name, const char* mode) {
    if (s_lock != nullptr) PlatformEnterLock(s_lock);
    FILE* file = OpenUnderLock(name, mode);
    if (s_lock != nullptr) PlatformLeaveLock(s_lock);
    return file;
}

FILE* OpenDataFileRetry(const char* name, const char* mode) {
    EnsureOpenerLock();
    for (;;) {
        FILE* file = OpenDataFile(name, mode);
        if (file != nullptr) return file;
        ShowMessage(kMsgOpenFailed, name);
    }
}

bool DataFileExists(const char* name) {
    EnsureOpenerLock();
    FILE* file = OpenDataFile(name, "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}
