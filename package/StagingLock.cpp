#include "package/StagingLock.h"

#include <cstring>

#include "base/PathRules.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "services/Platform.h"
#include "services/PlatformHold.h"

namespace {

// Tries when another updater removes the staging folder as it lets go of it.
constexpr int kHoldAttempts = 3;

PlatformHold* s_hold = nullptr;
char s_heldFolder[kStagedPathBuffer];

bool IsFolder(const char* path) {
    uint32_t attributes = 0;
    return PlatformGetAttributes(path, &attributes) == 0 && (attributes & kAttrFolder) != 0;
}

bool HeldHere(const char* folder) { return s_hold != nullptr && strcmp(folder, s_heldFolder) == 0; }

// Holds the lock file of folder, the staging folder of destination; kPackageOk,
// kPackageFolderBusy (the destination noted as the failure) or kPackageCannotWrite.
int HoldFolder(const char* destination, const char* folder) {
    char lock[kStagedPathBuffer];
    if (!JoinPath(lock, sizeof(lock), folder, kStagingLockName)) return kPackagePathTooLong;
    PlatformHold* hold = nullptr;
    switch (PlatformHoldFile(lock, &hold)) {
        case kHoldTaken:
            ReleaseStagingFolder();
            s_hold = hold;
            CopyText(s_heldFolder, sizeof(s_heldFolder), folder);
            return kPackageOk;
        case kHoldBusy:
            NoteWriteFailureReason(destination, kWriteFailureInUse);
            return kPackageFolderBusy;
        case kHoldFailed:
        default:
            NoteWriteFailure(folder);
            return kPackageCannotWrite;
    }
}

}  // namespace

int HoldStagingFolder(const char* destination) {
    char folder[kStagedPathBuffer];
    if (!JoinPath(folder, sizeof(folder), destination, kStagingFolderName)) return kPackagePathTooLong;
    if (HeldHere(folder)) return kPackageOk;
    for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
        uint32_t attributes = 0;
        if (PlatformGetAttributes(folder, &attributes) == 0 && (attributes & kAttrFolder) == 0) {
            NoteWriteFailureReason(folder, kWriteFailureFolder);
            return kPackageCannotWrite;
        }
        if (!IsFolder(folder) && PlatformCreateFolder(folder) != 0) {
            // Looking again sets the system's last error: the reason is the create's.
            WriteFailureReason reason = WriteFailureReasonNow();
            if (!IsFolder(folder)) {
                NoteWriteFailureReason(destination, reason);
                return kPackageCannotWrite;
            }
        }
        int held = HoldFolder(destination, folder);
        // The last holder may have removed the folder between: make it again.
        if (held != kPackageCannotWrite || IsFolder(folder)) return held;
    }
    NoteWriteFailure(destination);
    return kPackageCannotWrite;
}

void ReleaseStagingFolder() {
    if (s_hold == nullptr) return;
    PlatformReleaseHold(s_hold);
    s_hold = nullptr;
    // Fails, keeping the folder, while anything else is left in it.
    PlatformRemoveFolder(s_heldFolder);
    s_heldFolder[0] = '\0';
}

int WithStagingFolderHeld(const char* destination, int (*work)(const char* destination)) {
    char folder[kStagedPathBuffer];
    if (!JoinPath(folder, sizeof(folder), destination, kStagingFolderName)) return kPackagePathTooLong;
    if (HeldHere(folder) || !IsFolder(folder)) return work(destination);
    int held = HoldFolder(destination, folder);
    // A folder removed meanwhile by its last holder leaves nothing to do.
    if (held == kPackageCannotWrite && !IsFolder(folder)) return work(destination);
    if (held != kPackageOk) return held;
    int result = work(destination);
    ReleaseStagingFolder();
    return result;
}
