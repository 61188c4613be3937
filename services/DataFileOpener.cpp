#include "services/DataFileOpener.h"

#include <cstdlib>
#include <cstring>

#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "base/PathRules.h"

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

bool ContainsBackslash(const char* name) {
    for (const char* p = name; *p != '\0'; ++p) {
        if (IsLeadByte(static_cast<uint8_t>(*p))) {
            if (p[1] == '\0') break;
            ++p;
        } else if (*p == '\\') {
            return true;
        }
    }
    return false;
}

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

FILE* OpenUnderLock(const char* name, const char* mode) {
    bool sound = IsSoundName(name);
    if (!sound && s_directOpen) {
        FILE* file = PlatformOpenFile(name, mode);
        if (file != nullptr) return file;
    }
    if (ContainsBackslash(name)) return nullptr;
    if (sound && s_directOpen) return PlatformOpenFile(name, mode);
    return nullptr;
}

}  // namespace

void SetDirectOpenAllowed(int flag) { s_directOpen = flag != 0; }

bool IsSoundName(const char* name) {
    const char* filePart = name + FolderPartLength(name);
    const char* dot = strrchr(filePart, '.');
    if (dot == nullptr) return false;
    return EqualsIgnoringAsciiCase(dot, ".ogg") || EqualsIgnoringAsciiCase(dot, ".wav");
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
