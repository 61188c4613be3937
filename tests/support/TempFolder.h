// A fresh folder under the temporary folder for one test, removed with
// everything in it afterwards. Paths are Shift-JIS, as the program uses them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }
    // path_ + '\' + name
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// The temporary folder the tests work under, with a final separator.
std::string TestTempBase();
// An emptied folder of a fixed name under it, for death tests: a child process
// that re-runs the test must find the same folder as its parent.
std::string FixedTestFolder(const std::string& name);
// Removes a folder and everything below it, read-only files included.
void RemoveTree(const std::string& path);
// Names (files and folders, without "." and "..") directly inside folder, sorted.
std::vector<std::string> ListFolder(const std::string& folder);
// Every file below folder as relative paths with '\', sorted.
std::vector<std::string> ListTree(const std::string& folder);
bool Exists(const std::string& path);

// Every entry below folder with its bytes and last-write time (folders: none),
// to show that a folder is exactly as it was.
using TreeSnapshot = std::map<std::string, std::pair<std::vector<uint8_t>, uint64_t>>;
TreeSnapshot SnapshotTree(const std::string& folder);
bool IsFolder(const std::string& path);

// Makes the user's temporary folder, as the platform reports it, be folder
// for as long as it lives; then the tests' own temporary folder again.
struct TempPathOverride {
    explicit TempPathOverride(const std::string& folder);
    ~TempPathOverride();
};
// Keeps the current folder and restores it at scope exit.
struct CurrentFolderGuard {
    CurrentFolderGuard();
    ~CurrentFolderGuard();
    char saved[1024];
};
