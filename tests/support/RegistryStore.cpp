#include "tests/support/RegistryStore.h"

#ifdef _WIN32
#include <windows.h>

static std::wstring WideOf(const std::string& sjis) {
    std::vector<wchar_t> buffer(sjis.size() + 1);
    MultiByteToWideChar(932, 0, sjis.c_str(), -1, buffer.data(), static_cast<int>(buffer.size()));
    return buffer.data();
}

void UseFreshRegistry(const std::string&) {}

void StoreRawValue(const std::string& global, const std::string& local, const std::string& name, uint32_t type,
                   const std::vector<uint8_t>& data) {
    HKEY key;
    std::wstring path = WideOf("Software\\" + global + "\\" + local);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (type == REG_SZ) {
        // The program's text is Shift-JIS; the system keeps strings as UTF-16.
        std::string text(data.begin(), data.end());
        std::wstring wide = WideOf(text.c_str());
        RegSetValueExW(key, WideOf(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    } else {
        RegSetValueExW(key, WideOf(name).c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    RegCloseKey(key);
}

bool GameKeyExists(const std::string& global, const std::string& local) {
    HKEY key;
    std::wstring path = WideOf("Software\\" + global + "\\" + local);
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteGlobalKey(const std::string& global) {
    RegDeleteTreeW(HKEY_CURRENT_USER, WideOf("Software\\" + global).c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, WideOf("Software\\" + global).c_str());
}
#else
#include <unistd.h>

#include "services/RegistryFile.h"

void UseFreshRegistry(const std::string& folder) {
    // One file per process and call, so that test runs side by side never share one.
    static unsigned s_count = 0;
    std::string native = folder;  // the tests' folders are ASCII: only the separators differ
    for (char& c : native)
        if (c == '\\') c = '/';
    SetRegistryFile(native + "/registry-" + std::to_string(getpid()) + "-" + std::to_string(++s_count) + ".txt");
}

void StoreRawValue(const std::string& global, const std::string& local, const std::string& name, uint32_t type,
                   const std::vector<uint8_t>& data) {
    StoreRegistryValue("Software\\" + global + "\\" + local, name, type, data);
}

bool GameKeyExists(const std::string& global, const std::string& local) {
    return RegistryKeyExists("Software\\" + global + "\\" + local);
}

void DeleteGlobalKey(const std::string&) {}
#endif
