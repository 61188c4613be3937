// SHA-256 natively: OpenSSL's libcrypto, through its digest interface.
#include "services/Platform.h"

#include <openssl/evp.h>

#include <cstring>
#include <new>

struct PlatformSha256Hash {
    EVP_MD_CTX* context;
    bool failed;
};

PlatformSha256Hash* PlatformSha256Begin() {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) return nullptr;
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return nullptr;
    }
    PlatformSha256Hash* hash = new (std::nothrow) PlatformSha256Hash{context, false};
    if (hash == nullptr) EVP_MD_CTX_free(context);
    return hash;
}

int PlatformSha256Add(PlatformSha256Hash* hash, const void* data, size_t size) {
    if (hash == nullptr || hash->failed) return 1;
    if (size > 0 && EVP_DigestUpdate(hash->context, data, size) != 1) hash->failed = true;
    return hash->failed ? 1 : 0;
}

int PlatformSha256End(PlatformSha256Hash* hash, uint8_t digest[kSha256Bytes]) {
    memset(digest, 0, kSha256Bytes);
    if (hash == nullptr) return 1;
    unsigned int length = 0;
    bool ok = !hash->failed && EVP_DigestFinal_ex(hash->context, digest, &length) == 1 && length == kSha256Bytes;
    if (!ok) memset(digest, 0, kSha256Bytes);
    EVP_MD_CTX_free(hash->context);
    delete hash;
    return ok ? 0 : 1;
}
