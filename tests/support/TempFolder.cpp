#include "tests/support/TempFolder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>

#include "services/Platform.h"
#include "base/PathRules.h"

std::string InheritedTestBase();
void HandDownTestBase(const char* base);

std::string TestTempBase() {
    // Taken once, before any test points the temp path elsewhere, and handed
    // down to child processes (death tests) that inherit a changed temp path.
    static char s_base[kMaxPath];
    if (s_base[0] == '\0') {
        std::string inherited = InheritedTestBase();
        if (!inherited.empty()) {
            CopyText(s_base, sizeof(s_base), inherited.c_str());
        } else {
            PlatformGetTempPath(s_base, sizeof(s_base));
            size_t n = strlen(s_base);
            if (n == 0 || s_base[n - 1] != '/') EnsureTrailingBackslash(s_base, sizeof(s_base));
            HandDownTestBase(s_base);
        }
    }
    return s_base;
}

std::string FixedTestFolder(const std::string& name) {
    std::string path = TestTempBase() + name;
    RemoveTree(path);
    PlatformCreateFolder(path.c_str());
    return path;
}

TempFolder::TempFolder() {
    static unsigned s_counter = 0;
    std::string base = TestTempBase();
    char name[64];
    for (int attempt = 0;; ++attempt) {
        if (attempt == 1000) abort();
        snprintf(name, sizeof(name), "updtest_%u_%u", PlatformTickCount(), ++s_counter);
        path_ = base + name;
        if (PlatformCreateFolder(path_.c_str()) == 0) break;
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

static std::vector<std::string> Entries(const std::string& folder, bool withAttributes,
                                        std::vector<uint32_t>* attributes) {
    std::vector<std::string> names;
    PlatformFindData data;
    PlatformFind* find = PlatformFindFirst((folder + "\\*").c_str(), &data);
    if (find == nullptr) return names;
    do {
        std::string n = data.name;
        if (n == "." || n == "..") continue;
        names.push_back(n);
        if (withAttributes) attributes->push_back(data.attributes);
    } while (PlatformFindNext(find, &data) == 0);
    PlatformFindClose(find);
    return names;
}

void RemoveTree(const std::string& path) {
    std::vector<uint32_t> attributes;
    std::vector<std::string> names = Entries(path, true, &attributes);
    for (size_t i = 0; i < names.size(); ++i) {
        std::string child = path + "\\" + names[i];
        if (attributes[i] & kAttrFolder) {
            RemoveTree(child);
        } else {
            PlatformSetAttributes(child.c_str(), 0);
            PlatformDeleteFile(child.c_str());
        }
    }
    PlatformRemoveFolder(path.c_str());
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names = Entries(folder, false, nullptr);
    std::sort(names.begin(), names.end());
    return names;
}

static void Collect(const std::string& root, const std::string& relative, std::vector<std::string>* out) {
    std::vector<uint32_t> attributes;
    std::string folder = relative.empty() ? root : root + "\\" + relative;
    std::vector<std::string> names = Entries(folder, true, &attributes);
    for (size_t i = 0; i < names.size(); ++i) {
        std::string child = relative.empty() ? names[i] : relative + "\\" + names[i];
        if (attributes[i] & kAttrFolder) {
            out->push_back(child + "\\");
            Collect(root, child, out);
        } else {
            out->push_back(child);
        }
    }
}

std::vector<std::string> ListTree(const std::string& folder) {
    std::vector<std::string> out;
    Collect(folder, "", &out);
    std::sort(out.begin(), out.end());
    return out;
}

bool Exists(const std::string& path) {
    uint32_t a;
    return PlatformGetAttributes(path.c_str(), &a) == 0;
}

bool IsFolder(const std::string& path) {
    uint32_t a;
    return PlatformGetAttributes(path.c_str(), &a) == 0 && (a & kAttrFolder) != 0;
}

#ifdef _WIN32
#include <windows.h>
std::string InheritedTestBase() {
    wchar_t native[1024];
    if (GetEnvironmentVariableW(L"UPDATER_TEST_TEMP", native, 1024) == 0) return "";
    char sjis[1024];
    WideCharToMultiByte(932, 0, native, -1, sjis, sizeof(sjis), nullptr, nullptr);
    return sjis;
}
void HandDownTestBase(const char* base) {
    wchar_t native[1024];
    MultiByteToWideChar(932, 0, base, -1, native, 1024);
    SetEnvironmentVariableW(L"UPDATER_TEST_TEMP", native);
}
static void PointTempPathAt(const std::string& folder) {
    CurrentFolderGuard guard;
    wchar_t native[1024];
    // A folder that does not exist is named as it is.
    if (PlatformSetCurrentFolder(folder.c_str()) == 0) GetCurrentDirectoryW(1024, native);
    else MultiByteToWideChar(932, 0, folder.c_str(), -1, native, 1024);
    SetEnvironmentVariableW(L"TMP", native);
    SetEnvironmentVariableW(L"TEMP", native);
}
#else
#include <unistd.h>
#include <cstdlib>
std::string InheritedTestBase() {
    const char* base = getenv("UPDATER_TEST_BASE_SJIS");
    return base != nullptr ? base : "";
}
void HandDownTestBase(const char* base) { setenv("UPDATER_TEST_BASE_SJIS", base, 1); }
static void PointTempPathAt(const std::string& folder) {
    CurrentFolderGuard guard;
    char native[1024];
    // A folder that does not exist is named as it is.
    if (PlatformSetCurrentFolder(folder.c_str()) == 0 && getcwd(native, sizeof(native)) != nullptr)
        setenv("TMPDIR", native, 1);
    else
        setenv("TMPDIR", folder.c_str(), 1);
}
#endif

CurrentFolderGuard::CurrentFolderGuard() {
    if (PlatformGetCurrentFolder(saved, sizeof(saved)) != 0) saved[0] = '\0';
}
CurrentFolderGuard::~CurrentFolderGuard() {
    if (saved[0] != '\0') PlatformSetCurrentFolder(saved);
}

TreeSnapshot SnapshotTree(const std::string& folder) {
    TreeSnapshot tree;
    for (const std::string& name : ListTree(folder)) {
        std::vector<uint8_t> bytes;
        uint64_t time = 0;
        if (name.back() != '\\') {
            std::string path = folder + "\\" + name;
            FILE* f = PlatformOpenFile(path.c_str(), "rb");
            if (f != nullptr) {
                uint8_t buffer[4096];
                size_t n;
                while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
                fclose(f);
            }
            PlatformGetFileTime(path.c_str(), &time);
        }
        tree[name] = {bytes, time};
    }
    return tree;
}

TempPathOverride::TempPathOverride(const std::string& folder) {
    TestTempBase();  // taken before the first change
    PointTempPathAt(folder);
}

TempPathOverride::~TempPathOverride() {
    std::string base = TestTempBase();
    if (base.size() > 3 && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    PointTempPathAt(base);
}
