// The one-call SHA-256, the same on both sides over their hash in pieces.
#include "services/Platform.h"

#include <cstring>

int PlatformSha256(const void* data, size_t size, uint8_t digest[kSha256Bytes]) {
    PlatformSha256Hash* hash = PlatformSha256Begin();
    if (hash == nullptr) {
        memset(digest, 0, kSha256Bytes);
        return 1;
    }
    PlatformSha256Add(hash, data, size);
    return PlatformSha256End(hash, digest);
}
