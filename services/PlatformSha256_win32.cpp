// SHA-256 on Windows: the system's BCrypt, which the updater delay-loads from
// the system folder like its other libraries.
#include "services/Platform.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <new>

namespace {

// BCryptHashData takes a 32-bit count; larger inputs go in pieces of this size.
constexpr size_t kLargestHashPiece = 1u << 30;

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

struct PlatformSha256Hash {
    BCRYPT_ALG_HANDLE algorithm;
    BCRYPT_HASH_HANDLE handle;
    unsigned char* object;  // the hash's state, which the caller provides
    bool failed;
};

namespace {

void Release(PlatformSha256Hash* hash) {
    if (hash->handle != nullptr) BCryptDestroyHash(hash->handle);
    if (hash->algorithm != nullptr) BCryptCloseAlgorithmProvider(hash->algorithm, 0);
    delete[] hash->object;
    delete hash;
}

}  // namespace

PlatformSha256Hash* PlatformSha256Begin() {
    PlatformSha256Hash* hash = new (std::nothrow) PlatformSha256Hash{nullptr, nullptr, nullptr, false};
    if (hash == nullptr) return nullptr;
    DWORD objectSize = 0;
    ULONG written = 0;
    bool ok = Succeeded(BCryptOpenAlgorithmProvider(&hash->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              Succeeded(BCryptGetProperty(hash->algorithm, BCRYPT_OBJECT_LENGTH,
                                          reinterpret_cast<PUCHAR>(&objectSize), sizeof(objectSize), &written, 0)) &&
              written == sizeof(objectSize) && objectSize > 0;
    if (ok) {
        hash->object = new (std::nothrow) unsigned char[objectSize];
        ok = hash->object != nullptr &&
             Succeeded(BCryptCreateHash(hash->algorithm, &hash->handle, hash->object, objectSize, nullptr, 0, 0));
    }
    if (!ok) {
        Release(hash);
        return nullptr;
    }
    return hash;
}

int PlatformSha256Add(PlatformSha256Hash* hash, const void* data, size_t size) {
    if (hash == nullptr || hash->failed) return 1;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (size > 0 && !hash->failed) {
        size_t piece = size < kLargestHashPiece ? size : kLargestHashPiece;
        if (!Succeeded(BCryptHashData(hash->handle, const_cast<PUCHAR>(bytes), static_cast<ULONG>(piece), 0)))
            hash->failed = true;
        bytes += piece;
        size -= piece;
    }
    return hash->failed ? 1 : 0;
}

int PlatformSha256End(PlatformSha256Hash* hash, uint8_t digest[kSha256Bytes]) {
    memset(digest, 0, kSha256Bytes);
    if (hash == nullptr) return 1;
    bool ok = !hash->failed && Succeeded(BCryptFinishHash(hash->handle, digest, kSha256Bytes, 0));
    if (!ok) memset(digest, 0, kSha256Bytes);
    Release(hash);
    return ok ? 0 : 1;
}
