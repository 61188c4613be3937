#include "tools/WriteFailureText.h"

#include "services/Platform.h"

WriteFailureReason WriteFailureAt(const char* path) {
    PlatformError error = PlatformLastError();
    uint32_t attributes = 0;
    if (PlatformGetAttributes(path, &attributes) == 0) {
        if ((attributes & kAttrFolder) != 0) return kWriteFailureFolder;
        if ((attributes & kAttrReadOnly) != 0 && error != kPlatformErrorDiskFull) return kWriteFailureReadOnly;
    }
    switch (error) {
        case kPlatformErrorInUse: return kWriteFailureInUse;
        case kPlatformErrorDenied: return kWriteFailureDenied;
        case kPlatformErrorDiskFull: return kWriteFailureDiskFull;
        default: return kWriteFailureOther;
    }
}

const char* DescribeWriteFailure(WriteFailureReason reason) {
    switch (reason) {
        case kWriteFailureInUse: return "another program holds the file open";
        case kWriteFailureDenied: return "no permission to write there (or a read-only disk)";
        case kWriteFailureDiskFull: return "the disk is full";
        case kWriteFailureReadOnly: return "the file is read-only";
        case kWriteFailureFolder: return "a folder is in the way, or a file where a folder goes";
        default: return "the system refused the write";
    }
}
