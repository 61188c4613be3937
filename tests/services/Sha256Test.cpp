// The program's SHA-256 against the published examples of FIPS 180, natively
// (libcrypto) and under Wine (BCrypt), in one call and fed in pieces.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "services/Platform.h"

namespace {

std::string Hex(const uint8_t* digest) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < kSha256Bytes; ++i) {
        snprintf(two, sizeof(two), "%02x", digest[i]);
        text += two;
    }
    return text;
}

struct Vector {
    const char* what;
    std::string message;
    const char* digest;
};

const Vector kVectors[] = {
    {"one block (\"abc\")", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"the empty message: padding alone", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"448 bits: the length spills into a second block",
     "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"a million 'a': many blocks", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256Test, PublishedVectorsInOneCall) {
    for (const Vector& v : kVectors) {
        uint8_t digest[kSha256Bytes];
        ASSERT_EQ(0, PlatformSha256(v.message.data(), v.message.size(), digest)) << v.what;
        EXPECT_EQ(v.digest, Hex(digest)) << v.what;
    }
}

// A file is hashed through a buffer whose pieces fall anywhere in the 64-byte
// blocks: pieces of 1, 63 and 1000 bytes must give the same digest.
TEST(Sha256Test, PublishedVectorsFedInPieces) {
    const size_t pieces[] = {1, 63, 1000};
    for (const Vector& v : kVectors) {
        for (size_t piece : pieces) {
            if (piece == 1 && v.message.size() > 100000) continue;  // a million calls add nothing
            PlatformSha256Hash* hash = PlatformSha256Begin();
            ASSERT_NE(nullptr, hash);
            for (size_t at = 0; at < v.message.size(); at += piece) {
                size_t n = v.message.size() - at < piece ? v.message.size() - at : piece;
                ASSERT_EQ(0, PlatformSha256Add(hash, v.message.data() + at, n));
            }
            uint8_t digest[kSha256Bytes];
            ASSERT_EQ(0, PlatformSha256End(hash, digest));
            EXPECT_EQ(v.digest, Hex(digest)) << v.what << ", pieces of " << piece;
        }
    }
}

// Hashes in progress side by side keep their own state, as the worker
// threads' files do.
TEST(Sha256Test, InterleavedHashesStayApart) {
    PlatformSha256Hash* first = PlatformSha256Begin();
    PlatformSha256Hash* second = PlatformSha256Begin();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(0, PlatformSha256Add(first, "ab", 2));
    ASSERT_EQ(0, PlatformSha256Add(second, "", 0));
    ASSERT_EQ(0, PlatformSha256Add(first, "c", 1));
    uint8_t a[kSha256Bytes], b[kSha256Bytes];
    ASSERT_EQ(0, PlatformSha256End(first, a));
    ASSERT_EQ(0, PlatformSha256End(second, b));
    EXPECT_EQ(kVectors[0].digest, Hex(a));
    EXPECT_EQ(kVectors[1].digest, Hex(b));
}

TEST(Sha256Test, NoHashGivesAZeroDigestAndAFailure) {
    uint8_t digest[kSha256Bytes];
    digest[0] = 0xAA;
    EXPECT_NE(0, PlatformSha256Add(nullptr, "x", 1));
    EXPECT_NE(0, PlatformSha256End(nullptr, digest));
    EXPECT_EQ(std::string(2 * kSha256Bytes, '0'), Hex(digest));
}

}  // namespace
