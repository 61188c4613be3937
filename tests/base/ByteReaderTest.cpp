#include "base/ByteReader.h"

#include <gtest/gtest.h>

TEST(ByteReaderTest, ReadsLittleEndianAndRefusesShortReadsWithoutMoving) {
    const uint8_t data[] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA};
    ByteReader r;
    InitReader(&r, data, sizeof(data));
    uint16_t a = 0;
    uint32_t b = 0;
    int32_t c = 0;
    ASSERT_TRUE(ReadU16(&r, &a));
    ASSERT_TRUE(ReadU32(&r, &b));
    ASSERT_TRUE(ReadI32(&r, &c));
    EXPECT_EQ(0x1234, a);
    EXPECT_EQ(0x12345678u, b);
    EXPECT_EQ(-1, c);
    uint64_t d = 7;
    EXPECT_FALSE(ReadU64(&r, &d));
    EXPECT_EQ(7u, d);
    EXPECT_EQ(1u, RemainingBytes(&r));
    EXPECT_FALSE(ReadU16(&r, &a));
    EXPECT_FALSE(SkipBytes(&r, 2));
    uint8_t last = 0;
    EXPECT_TRUE(ReadBytes(&r, &last, 1));
    EXPECT_EQ(0xAA, last);
}

TEST(ByteReaderTest, StoresRoundTrip) {
    uint8_t raw[8];
    StoreU64(raw, 0x0102030405060708ULL);
    ByteReader r;
    InitReader(&r, raw, sizeof(raw));
    uint64_t v = 0;
    ASSERT_TRUE(ReadU64(&r, &v));
    EXPECT_EQ(0x0102030405060708ULL, v);
}
