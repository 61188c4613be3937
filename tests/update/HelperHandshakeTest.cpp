#include "update/HelperHandshake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kParent = 4242;
const uint8_t kNonce[kNonceBytes] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                     0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
const std::u16string kFolder = u"C:\\Program Files (x86)\\ゲーム";

HelperRequest Request(const std::u16string& folder) {
    HelperRequest r;
    r.parentId = kParent;
    memcpy(r.nonce, kNonce, kNonceBytes);
    r.folder = folder;
    return r;
}

HandshakeBlock Block(const std::u16string& folder) {
    HandshakeBlock b;
    b.parentId = kParent;
    memcpy(b.nonce, kNonce, kNonceBytes);
    b.installFolder = folder;
    b.workingFolder = u"C:\\Users\\김민수\\Temp\\TempGPInstallFolder_000001234";
    return b;
}

std::vector<uint8_t> Laid(const HandshakeBlock& block) {
    std::vector<uint8_t> bytes(kHandshakeBlockSize);
    bytes.resize(WriteHandshakeBlock(block, bytes.data(), bytes.size()));
    return bytes;
}

TEST(HelperHandshakeTest, ArgumentsReadBackAsTheFolderTheParentChose) {
    struct Case {
        const char* fault;
        std::u16string folder;
    } cases[] = {
        {"a folder with spaces split into several arguments", kFolder},
        {"a final backslash taken as escaping the closing quote", u"C:\\"},
        {"a quote inside the folder ending the argument", u"D:\\a \"b\" c"},
        {"backslashes before a quote halved or lost", u"D:\\x\\\\\"y\\\\"},
        {"a tab taken as a separator", u"D:\\a\tb"},
        {"text past the Basic Multilingual Plane cut", u"D:\\\U0002000B"},
    };
    for (const Case& c : cases) {
        std::u16string line = u"\"C:\\Program Files\\updater.exe\" " + FormatHelperArguments(Request(c.folder));
        HelperRequest read;
        ASSERT_EQ(kHelperAsked, ParseHelperCommandLine(line.c_str(), &read)) << c.fault;
        EXPECT_TRUE(read.folder == c.folder) << c.fault;
        EXPECT_EQ(kParent, read.parentId) << c.fault;
        EXPECT_EQ(0, memcmp(kNonce, read.nonce, kNonceBytes)) << c.fault;
    }
}

TEST(HelperHandshakeTest, CommandLinesThatAreNotAWholeRequest) {
    struct Case {
        const char* fault;
        std::u16string line;
        HelperCommand expected;
    } cases[] = {
        {"the updater started plainly taken for a helper", u"updater.exe", kNotHelper},
        {"other arguments taken for a helper", u"updater.exe /S D:\\g", kNotHelper},
        {"the switch only inside the program's quoted name", u"\"x --elevated-helper\" 1 2 3", kNotHelper},
        {"a missing folder accepted", u"updater.exe --elevated-helper 42 00112233445566778899aabbccddeeff",
         kHelperMalformed},
        {"an empty folder accepted", u"updater.exe --elevated-helper 42 00112233445566778899aabbccddeeff \"\"",
         kHelperMalformed},
        {"an extra argument ignored",
         u"updater.exe --elevated-helper 42 00112233445566778899aabbccddeeff D:\\g D:\\h", kHelperMalformed},
        {"a short nonce accepted", u"updater.exe --elevated-helper 42 0011 D:\\g", kHelperMalformed},
        {"a nonce with a non-hex digit accepted",
         u"updater.exe --elevated-helper 42 0011223344556677889900aabbccddzz D:\\g", kHelperMalformed},
        {"a process id that is not a number accepted",
         u"updater.exe --elevated-helper 4x2 00112233445566778899aabbccddeeff D:\\g", kHelperMalformed},
        {"a process id past 32 bits wrapped",
         u"updater.exe --elevated-helper 4294967338 00112233445566778899aabbccddeeff D:\\g", kHelperMalformed},
        {"a folder longer than the limit accepted",
         u"updater.exe --elevated-helper 42 00112233445566778899aabbccddeeff " +
             std::u16string(kMaxHandshakeFolder + 1, u'a'),
         kHelperMalformed},
    };
    for (const Case& c : cases) {
        HelperRequest read = Request(u"untouched");
        EXPECT_EQ(c.expected, ParseHelperCommandLine(c.line.c_str(), &read)) << c.fault;
        EXPECT_TRUE(read.folder == u"untouched") << c.fault;
    }
    HelperRequest read;
    std::u16string line = u"updater.exe --elevated-helper 42 00112233445566778899AABBCCDDEEFF D:\\g";
    ASSERT_EQ(kHelperAsked, ParseHelperCommandLine(line.c_str(), &read));
    EXPECT_EQ(42u, read.parentId);
    EXPECT_EQ(0xff, read.nonce[15]);
}

TEST(HelperHandshakeTest, TheHelperAcceptsOnlyTheFolderItsParentChose) {
    std::vector<uint8_t> bytes = Laid(Block(kFolder));
    ASSERT_FALSE(bytes.empty());
    HandshakeBlock block;
    ASSERT_TRUE(ReadHandshakeBlock(bytes.data(), bytes.size(), &block));
    EXPECT_TRUE(block.workingFolder == Block(kFolder).workingFolder);
    struct Case {
        const char* fault;
        HelperRequest request;
        bool accepted;
    } cases[] = {
        {"the parent's own request refused", Request(kFolder), true},
        {"a folder from an arbitrary command line accepted", Request(u"C:\\Windows\\System32"), false},
        {"a folder differing in letter case accepted", Request(u"c:\\program files (x86)\\ゲーム"), false},
        {"a folder with a final backslash more accepted", Request(kFolder + u"\\"), false},
        {"a prefix of the folder accepted", Request(u"C:\\Program Files (x86)"), false},
        {"another nonce accepted", [] { HelperRequest r = Request(kFolder); r.nonce[7] ^= 1; return r; }(), false},
        {"another parent accepted", [] { HelperRequest r = Request(kFolder); r.parentId = 1; return r; }(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.accepted, AcceptHelperRequest(c.request, block)) << c.fault;
}

TEST(HelperHandshakeTest, BlocksThatAreNotWholeAreRefused) {
    const std::vector<uint8_t> good = Laid(Block(kFolder));
    ASSERT_FALSE(good.empty());
    auto changed = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> b = good;
        b[at] = value;
        return b;
    };
    std::vector<uint8_t> oversized = good;
    oversized[28] = static_cast<uint8_t>((kMaxHandshakeFolder + 1) & 0xFF);
    oversized[29] = static_cast<uint8_t>((kMaxHandshakeFolder + 1) >> 8);
    oversized.resize(kHandshakeBlockSize * 2);
    struct Case {
        const char* fault;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"another magic read as a block", changed(0, 'X')},
        {"another version guessed at", changed(4, 2)},
        {"an empty install folder read", changed(28, 0)},
        {"a working folder cut short by a NUL read", changed(good.size() - 2, 0)},
        {"a folder longer than the limit read", oversized},
        {"a working folder running past the block read", changed(30 + kFolder.size() * 2,
                                                                 static_cast<uint8_t>(good[30 + kFolder.size() * 2] + 1))},
        {"an all-zero mapping read as a block", std::vector<uint8_t>(kHandshakeBlockSize, 0)},
    };
    for (const Case& c : cases) {
        HandshakeBlock block = Block(u"untouched");
        EXPECT_FALSE(ReadHandshakeBlock(c.bytes.data(), c.bytes.size(), &block)) << c.fault;
        EXPECT_TRUE(block.installFolder == u"untouched") << c.fault;
    }
    // Cut anywhere, nothing is read; the mapping's unused rest is ignored.
    for (size_t size = 0; size < good.size(); ++size) {
        HandshakeBlock block;
        EXPECT_FALSE(ReadHandshakeBlock(good.data(), size, &block)) << size;
    }
    std::vector<uint8_t> padded = good;
    padded.resize(kHandshakeBlockSize, 0xCC);
    HandshakeBlock block;
    EXPECT_TRUE(ReadHandshakeBlock(padded.data(), padded.size(), &block));
}

TEST(HelperHandshakeTest, AFolderThatDoesNotFitIsNotLaidOut) {
    uint8_t out[kHandshakeBlockSize];
    memset(out, 0xEE, sizeof(out));
    struct Case {
        const char* fault;
        HandshakeBlock block;
        size_t capacity;
    } cases[] = {
        {"an empty folder laid out", Block(u""), sizeof(out)},
        {"a folder past the limit laid out", Block(std::u16string(kMaxHandshakeFolder + 1, u'a')), sizeof(out)},
        {"a block written past the capacity", Block(kFolder), 40},
    };
    for (const Case& c : cases) EXPECT_EQ(0u, WriteHandshakeBlock(c.block, out, c.capacity)) << c.fault;
    EXPECT_EQ(0xEE, out[0]);
    // The longest folders on both sides still fit the shared block.
    HandshakeBlock longest = Block(std::u16string(kMaxHandshakeFolder, u'a'));
    longest.workingFolder = longest.installFolder;
    EXPECT_NE(0u, WriteHandshakeBlock(longest, out, sizeof(out)));
}

}  // namespace
