#include "services/ProfileWriter.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

std::string Contents(const std::string& path) {
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(path, &bytes));
    return std::string(bytes.begin(), bytes.end());
}

TEST(ProfileWriterTest, EntriesKeepTheirBytesAndTheirPlaces) {
    TempFolder dir;
    std::string ini = dir / "ゲーム.ini";
    ASSERT_EQ(0, WriteProfileEntry("設定", "パス", "D:\\表\\save", ini.c_str()));
    ASSERT_EQ(0, WriteProfileEntry("設定", "音量", "5", ini.c_str()));
    ASSERT_EQ(0, WriteProfileEntry("Other", "a", "", ini.c_str()));
    // An existing key, written in another case and with blanks, is replaced in place.
    ASSERT_TRUE(WriteFileBytes(ini, ToBytes(Contents(ini) + "[Third]\r\n Key = old\r\n\r\n")));
    ASSERT_EQ(0, WriteProfileEntry("third", "KEY", "new", ini.c_str()));
    ASSERT_EQ(0, WriteProfileEntry("設定", "パス", "E:\\", ini.c_str()));
    EXPECT_EQ("[設定]\r\nパス=E:\\\r\n音量=5\r\n[Other]\r\na=\r\n[Third]\r\nKEY=new\r\n\r\n", Contents(ini));
}

TEST(ProfileWriterTest, AFileInAFolderThatDoesNotExistFails) {
    TempFolder dir;
    EXPECT_NE(0, WriteProfileEntry("s", "k", "v", (dir / "missing\\x.ini").c_str()));
}

}  // namespace
