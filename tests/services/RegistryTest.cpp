#include "services/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/RegistryStore.h"
#include "tests/support/TempFolder.h"

namespace {

// Every test works below its own global key, removed afterwards.
constexpr const char* kGlobal = "VornelUpdaterTest";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseFreshRegistry(files_.Path());
        DeleteGlobalKey(kGlobal);
        local_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override { DeleteGlobalKey(kGlobal); }
    std::string Read(const char* name, size_t capacity = 260, int* result = nullptr) {
        char out[600];
        int r = RegReadString(kGlobal, local_.c_str(), name, "def", out, capacity);
        if (result != nullptr) *result = r;
        return out;
    }
    void PutString(const char* name, const std::string& text) {
        StoreRawValue(kGlobal, local_, name, 1, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
    }
    TempFolder files_;
    std::string local_;
};

TEST_F(RegistryTest, MissingKeysValuesAndOtherTypesReadAsAbsent) {
    int r = 0;
    EXPECT_EQ("def", Read("IsInst", 260, &r));
    EXPECT_EQ(-1, r);
    EXPECT_EQ(5, RegReadInt(kGlobal, local_.c_str(), "IsInst", 5));
    StoreRawValue(kGlobal, local_, "IsInst", 4, {1, 0, 0, 0});  // a number value, not a string
    EXPECT_EQ(0, RegReadInt(kGlobal, local_.c_str(), "IsInst", 0));
    EXPECT_EQ(9, RegReadInt(kGlobal, local_.c_str(), "IsInst", 9));
    EXPECT_EQ("def", Read("Other", 260, &r));
    EXPECT_EQ(-1, r);
}

TEST_F(RegistryTest, NumbersAreReadAsDecimalText) {
    struct Case { const char* text; int expected; } cases[] = {
        {"abc", 0}, {"12abc", 12}, {"", 0}, {" 7", 7}, {"-3", -3}, {"1000", 1000}, {"99999999999", 2147483647},
    };
    for (const Case& c : cases) {
        PutString("Ver", c.text);
        EXPECT_EQ(c.expected, RegReadInt(kGlobal, local_.c_str(), "Ver", 42)) << c.text;
    }
}

TEST_F(RegistryTest, LongValuesAreCutOrRefused) {
    PutString("InstTo", std::string(300, 'p'));
    int r = -1;
    EXPECT_EQ(std::string(259, 'p'), Read("InstTo", 260, &r));
    EXPECT_EQ(0, r);
    PutString("InstTo", std::string(511, 'q'));
    EXPECT_EQ(std::string(511, 'q'), Read("InstTo", 512, &r));
    EXPECT_EQ(0, r);
    PutString("InstTo", std::string(600, 'x'));
    EXPECT_EQ("def", Read("InstTo", 512, &r));
    EXPECT_EQ(-1, r);
}

TEST_F(RegistryTest, WritesCreateEveryLevelAndReadBack) {
    EXPECT_FALSE(GameKeyExists(kGlobal, local_));
    EXPECT_EQ(0, RegWriteString(kGlobal, local_.c_str(), "InstTo", "C:\\ゲーム\\表示"));
    EXPECT_TRUE(GameKeyExists(kGlobal, local_));
    EXPECT_EQ("C:\\ゲーム\\表示", Read("InstTo"));
    EXPECT_EQ(0, RegWriteString(kGlobal, local_.c_str(), "空", ""));
    int r = -1;
    EXPECT_EQ("", Read("空", 260, &r));
    EXPECT_EQ(0, r);
    EXPECT_EQ(0, RegWriteStringFlush(kGlobal, local_.c_str(), "Flushed", "1", true));
    EXPECT_EQ(1, RegReadInt(kGlobal, local_.c_str(), "Flushed", 0));
}

TEST(RegistryPathTest, PathIsFormedFromBothNames) {
    char path[kRegistryPathBuffer];
    ASSERT_TRUE(FormatGameKeyPath("-", "-", path, sizeof(path)));
    EXPECT_STREQ("Software\\-\\-", path);
    std::string name(127, 'n');
    ASSERT_TRUE(FormatGameKeyPath(name.c_str(), name.c_str(), path, sizeof(path)));
    EXPECT_EQ(9u + 127 + 1 + 127, std::string(path).size());
    EXPECT_FALSE(FormatGameKeyPath(name.c_str(), std::string(400, 'm').c_str(), path, sizeof(path)));
}

}  // namespace
