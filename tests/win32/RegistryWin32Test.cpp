// The game key in Wine's real registry: Japanese key names, value names and
// data are stored as the right characters whatever the system's code page.
#include <windows.h>

#include <gtest/gtest.h>

#include "services/Registry.h"
#include "tests/robot/Robot_win32.h"
#include "tests/support/RegistryStore.h"

namespace {

TEST(RegistryWin32Test, JapaneseTextIsStoredAsItsCharacters) {
    const char* global = "VornelUpdaterTest表";
    DeleteGlobalKey(global);
    ASSERT_EQ(0, RegWriteString(global, "サンプル", "インストール先", "C:\\ゲーム\\ソフト"));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, Wide("Software\\VornelUpdaterTest表\\サンプル").c_str(),
                                           0, KEY_READ, &key));
    wchar_t data[64] = {};
    DWORD type = 0, size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, Wide("インストール先").c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(data), &size));
    RegCloseKey(key);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(Wide("C:\\ゲーム\\ソフト"), std::wstring(data));
    char back[260];
    EXPECT_EQ(0, RegReadString(global, "サンプル", "インストール先", "", back, sizeof(back)));
    EXPECT_STREQ("C:\\ゲーム\\ソフト", back);
    DeleteGlobalKey(global);
}

}  // namespace
