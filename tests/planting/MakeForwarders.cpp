// makeforwarders LIBRARY.dll NAME OUT.def: writes a module-definition file for
// a DLL named NAME that forwards every export of LIBRARY.dll, by name and
// ordinal, to the system folder's library of that name. The planting test
// builds its planted DLLs from it: loaded in place of a system library, such
// a DLL leaves a trace and the program goes on working.
//
// The exports are read from the export directory (the first data directory)
// of the PE file, through its section table:
//
//   export directory   u32 ordinal base at +16, u32 function count at +20,
//                      u32 name count at +24, then the RVAs of the function
//                      table, the name table and the name-ordinal table
//   LIBRARY NAME.dll
//   EXPORTS
//   timeGetTime = "C:\windows\system32\winmm.timeGetTime" @176
//   ord_17 = "C:\windows\system32\comctl32.#17" @17 NONAME
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const char* kTool = "makeforwarders";
constexpr const char* kSystemFolder = "C:\\windows\\system32\\";
// Export names are short; a longer one is taken for damage.
constexpr size_t kMaxExportName = 256;

std::vector<uint8_t> s_file;

bool Read32(size_t at, uint32_t* value) {
    if (at > s_file.size() || s_file.size() - at < 4) return false;
    *value = s_file[at] | s_file[at + 1] << 8 | s_file[at + 2] << 16 | static_cast<uint32_t>(s_file[at + 3]) << 24;
    return true;
}

bool Read16(size_t at, uint16_t* value) {
    if (at > s_file.size() || s_file.size() - at < 2) return false;
    *value = static_cast<uint16_t>(s_file[at] | s_file[at + 1] << 8);
    return true;
}

struct Section {
    uint32_t address, size, rawOffset;
};
std::vector<Section> s_sections;

// The file offset of a relative virtual address; false outside every section.
bool Offset(uint32_t rva, size_t* at) {
    for (const Section& s : s_sections) {
        if (rva >= s.address && rva - s.address < s.size) {
            *at = s.rawOffset + (rva - s.address);
            return *at < s_file.size();
        }
    }
    return false;
}

bool ReadExports(std::map<uint32_t, std::string>* exports) {
    uint32_t pe = 0, signature = 0;
    uint16_t sections = 0, optionalSize = 0, magic = 0;
    if (!Read32(0x3C, &pe) || !Read32(pe, &signature) || signature != 0x00004550 || !Read16(pe + 6, &sections) ||
        !Read16(pe + 20, &optionalSize) || !Read16(pe + 24, &magic))
        return false;
    size_t directories = pe + 24 + (magic == 0x20B ? 112 : 96);
    uint32_t exportRva = 0;
    if (!Read32(directories, &exportRva) || exportRva == 0) return false;
    for (uint16_t i = 0; i < sections; ++i) {
        size_t header = pe + 24 + optionalSize + i * 40u;
        Section s{};
        uint32_t virtualSize = 0, rawSize = 0;
        if (!Read32(header + 8, &virtualSize) || !Read32(header + 12, &s.address) || !Read32(header + 16, &rawSize) ||
            !Read32(header + 20, &s.rawOffset))
            return false;
        s.size = virtualSize > rawSize ? virtualSize : rawSize;
        s_sections.push_back(s);
    }
    size_t at = 0;
    uint32_t base = 0, functions = 0, names = 0, functionRva = 0, nameRva = 0, ordinalRva = 0;
    if (!Offset(exportRva, &at) || !Read32(at + 16, &base) || !Read32(at + 20, &functions) ||
        !Read32(at + 24, &names) || !Read32(at + 28, &functionRva) || !Read32(at + 32, &nameRva) ||
        !Read32(at + 36, &ordinalRva))
        return false;
    size_t functionAt = 0, nameAt = 0, ordinalAt = 0;
    if (!Offset(functionRva, &functionAt) || (names != 0 && (!Offset(nameRva, &nameAt) || !Offset(ordinalRva, &ordinalAt))))
        return false;
    std::map<uint32_t, std::string> named;
    for (uint32_t i = 0; i < names; ++i) {
        uint32_t nameOf = 0;
        uint16_t index = 0;
        size_t text = 0;
        if (!Read32(nameAt + 4u * i, &nameOf) || !Read16(ordinalAt + 2u * i, &index) || !Offset(nameOf, &text))
            return false;
        size_t length = strnlen(reinterpret_cast<const char*>(&s_file[text]), s_file.size() - text);
        if (length == 0 || length >= kMaxExportName || text + length >= s_file.size()) return false;
        named[index] = std::string(reinterpret_cast<const char*>(&s_file[text]), length);
    }
    for (uint32_t i = 0; i < functions; ++i) {
        uint32_t address = 0;
        if (!Read32(functionAt + 4u * i, &address)) return false;
        if (address == 0) continue;
        auto name = named.find(i);
        (*exports)[base + i] = name != named.end() ? name->second : "";
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s LIBRARY.dll NAME OUT.def\n", kTool);
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    if (in == nullptr) {
        fprintf(stderr, "%s: cannot open %s\n", kTool, argv[1]);
        return 1;
    }
    uint8_t block[65536];
    for (size_t got; (got = fread(block, 1, sizeof(block), in)) > 0;) s_file.insert(s_file.end(), block, block + got);
    fclose(in);
    std::map<uint32_t, std::string> exports;
    if (!ReadExports(&exports) || exports.empty()) {
        fprintf(stderr, "%s: %s has no export directory that can be read\n", kTool, argv[1]);
        return 1;
    }
    std::string target = std::string(kSystemFolder) + argv[2] + ".";
    std::string text = std::string("LIBRARY ") + argv[2] + ".dll\nEXPORTS\n";
    for (const auto& e : exports) {
        std::string ordinal = std::to_string(e.first);
        if (e.second.empty())
            text += "ord_" + ordinal + " = \"" + target + "#" + ordinal + "\" @" + ordinal + " NONAME\n";
        else
            text += e.second + " = \"" + target + e.second + "\" @" + ordinal + "\n";
    }
    FILE* out = fopen(argv[3], "wb");
    bool written = out != nullptr && fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out != nullptr && fclose(out) != 0) written = false;
    if (!written) {
        fprintf(stderr, "%s: cannot write %s\n", kTool, argv[3]);
        remove(argv[3]);
        return 1;
    }
    return 0;
}
