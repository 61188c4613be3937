// Test access to the registry behind the store: the system's under Windows,
// the file-backed one elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Points the file-backed store at a fresh file (no effect under Windows).
void UseFreshRegistry(const std::string& folder);
// Writes a value of any type under "Software\<global>\<local>"; string data
// is the program's Shift-JIS text with its terminator.
void StoreRawValue(const std::string& global, const std::string& local, const std::string& name, uint32_t type,
                   const std::vector<uint8_t>& data);
// True when "Software\<global>\<local>" exists.
bool GameKeyExists(const std::string& global, const std::string& local);
// Removes "Software\<global>" and everything below it.
void DeleteGlobalKey(const std::string& global);
