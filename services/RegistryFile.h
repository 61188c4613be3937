// The registry of a build without Windows: a small file that holds keys and
// typed values, with the operations the game key needs. The native tests and
// tools use it in place of the system's registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kRegistryTypeString = 1;  // REG_SZ
constexpr uint32_t kRegistryTypeDword = 4;   // REG_DWORD

// Uses the file at nativePath from now on (created when first written).
void SetRegistryFile(const std::string& nativePath);

// Stores a value of any type with raw data under keyPath, creating the key.
void StoreRegistryValue(const std::string& keyPath, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data);

// True when the key exists.
bool RegistryKeyExists(const std::string& keyPath);
