// The file-backed registry: one line a key ("K <path>") or a value
// ("V <path>\t<name>\t<type>\t<hex data>"). Key paths and names compare
// without regard to ASCII case, as the system's registry does. The whole file
// is read for each operation and written back after a change.
#include "services/Registry.h"
#include "services/RegistryFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/PathRules.h"
#include "base/SjisText.h"

namespace {

struct Record {
    bool isValue;
    std::string path;
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

std::string s_file;

std::string StoreFile() {
    if (!s_file.empty()) return s_file;
    const char* env = getenv("UPDATER_REGISTRY_FILE");
    if (env != nullptr && *env != '\0') return env;
    const char* temp = getenv("TMPDIR");
    return std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/updater-registry.txt";
}

bool SameText(const std::string& a, const std::string& b) { return EqualsFoldedSjis(a.c_str(), b.c_str()); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<Record> Load() {
    std::vector<Record> records;
    FILE* f = fopen(StoreFile().c_str(), "rb");
    if (f == nullptr) return records;
    std::string line;
    int c;
    while (true) {
        c = fgetc(f);
        if (c != EOF && c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (line.size() > 2 && line[0] == 'K') {
            records.push_back(Record{false, line.substr(2), "", 0, {}});
        } else if (line.size() > 2 && line[0] == 'V') {
            size_t a = line.find('\t', 2), b = line.find('\t', a + 1), d = line.find('\t', b + 1);
            if (a != std::string::npos && b != std::string::npos && d != std::string::npos) {
                Record r{true, line.substr(2, a - 2), line.substr(a + 1, b - a - 1),
                         static_cast<uint32_t>(strtoul(line.substr(b + 1, d - b - 1).c_str(), nullptr, 10)), {}};
                for (size_t i = d + 1; i + 1 < line.size(); i += 2)
                    r.data.push_back(static_cast<uint8_t>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1])));
                records.push_back(r);
            }
        }
        line.clear();
        if (c == EOF) break;
    }
    fclose(f);
    return records;
}

bool Save(const std::vector<Record>& records) {
    FILE* f = fopen(StoreFile().c_str(), "wb");
    if (f == nullptr) return false;
    for (const Record& r : records) {
        if (!r.isValue) {
            fprintf(f, "K %s\n", r.path.c_str());
            continue;
        }
        fprintf(f, "V %s\t%s\t%u\t", r.path.c_str(), r.name.c_str(), r.type);
        for (uint8_t b : r.data) fprintf(f, "%02x", b);
        fputc('\n', f);
    }
    return fclose(f) == 0;
}

bool HasKey(const std::vector<Record>& records, const std::string& path) {
    for (const Record& r : records)
        if (!r.isValue && SameText(r.path, path)) return true;
    return false;
}

// Adds the key and every missing level above it.
void CreateKey(std::vector<Record>* records, const std::string& path) {
    for (size_t i = FindSjisSeparator(path.data(), path.size(), 0, "\\");;
         i = FindSjisSeparator(path.data(), path.size(), i + 1, "\\")) {
        std::string level = path.substr(0, i);
        if (!level.empty() && !HasKey(*records, level)) records->push_back(Record{false, level, "", 0, {}});
        if (i == path.size()) break;
    }
}

void SetValue(std::vector<Record>* records, const std::string& path, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data) {
    for (Record& r : *records) {
        if (r.isValue && SameText(r.path, path) && SameText(r.name, name)) {
            r.type = type;
            r.data = data;
            return;
        }
    }
    records->push_back(Record{true, path, name, type, data});
}

}  // namespace

void SetRegistryFile(const std::string& nativePath) { s_file = nativePath; }

void StoreRegistryValue(const std::string& keyPath, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data) {
    std::vector<Record> records = Load();
    CreateKey(&records, keyPath);
    SetValue(&records, keyPath, name, type, data);
    Save(records);
}

bool RegistryKeyExists(const std::string& keyPath) { return HasKey(Load(), keyPath); }

int RegReadString(const char* global, const char* local, const char* valueName, const char* defaultText,
                  char* out, size_t capacity) {
    if (capacity == 0) return -1;
    strncpy(out, defaultText, capacity);
    out[capacity - 1] = '\0';
    char path[kRegistryPathBuffer];
    if (!FormatGameKeyPath(global, local, path, sizeof(path))) return -1;
    std::vector<Record> records = Load();
    if (!HasKey(records, path)) return -1;
    for (const Record& r : records) {
        if (!r.isValue || !SameText(r.path, path) || !SameText(r.name, valueName)) continue;
        if (r.type != kRegistryTypeString || r.data.size() > kRegistryReadBuffer) return -1;
        std::string text(r.data.begin(), r.data.end());
        text = text.substr(0, strnlen(text.c_str(), text.size()));
        strncpy(out, text.c_str(), capacity);
        out[capacity - 1] = '\0';
        return 0;
    }
    return -1;
}

int RegWriteStringFlush(const char* global, const char* local, const char* valueName, const char* text,
                        bool) {
    char path[kRegistryPathBuffer];
    if (!FormatGameKeyPath(global, local, path, sizeof(path))) return -1;
    std::vector<Record> records = Load();
    CreateKey(&records, path);
    std::vector<uint8_t> data(text, text + strlen(text) + 1);
    SetValue(&records, path, valueName, kRegistryTypeString, data);
    return Save(records) ? 0 : -1;
}
