// The INI writer over a game's INI file in any state, in any of its
// encodings. Input: section, key and value, each ending at a NUL byte, then
// the file's bytes.
//
// Promises: a failed write leaves the file as it was; a written file, written
// again with the same entry that its lines can hold, does not change; nothing
// but the file is left in its folder.
#include <string>
#include <vector>

#include "services/ProfileWriter.h"
#include "tests/fuzz/FuzzKit.h"
#include "tests/support/PackageBuilder.h"

namespace {

// Longer names and values add nothing the short ones do not reach.
constexpr size_t kMaxFieldBytes = 300;
// The blanks the writer trims around names.
constexpr const char* kBlanks = " \t\v\f\x1A";

// An entry the file's lines can hold, so that a second write finds it: no
// line break in any part (the updater's entries come from single lines of
// install.env), no "=" in the key (it would end the key) nor a "[" first (the
// line would be a header), and no "]" in the section name (the header's last
// "]" ends it). The system's writer too
// writes other entries as they are, where they cannot be found again.
bool FitsALine(const std::string& section, const std::string& key, const std::string& value) {
    for (const std::string* part : {&section, &key, &value})
        if (part->find_first_of("\r\n") != std::string::npos) return false;
    size_t keyBegin = key.find_first_not_of(kBlanks);
    if (keyBegin != std::string::npos && key[keyBegin] == '[') return false;
    return key.find('=') == std::string::npos && section.find(']') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFields fields;
    InitFields(&fields, data, size);
    std::string section = NextField(&fields, 0, kMaxFieldBytes);
    std::string key = NextField(&fields, 0, kMaxFieldBytes);
    std::string value = NextField(&fields, 0, kMaxFieldBytes);
    std::string text = RestOfInput(&fields);

    ClearScratch();
    std::string path = ScratchFolder() + "\\game.ini";
    WriteFileBytes(path, ToBytes(text));
    int result = WriteProfileEntry(section.c_str(), key.c_str(), value.c_str(), path.c_str());
    Bytes first;
    FuzzCheck(ReadFileBytes(path, &first), "the file is still there");
    FuzzCheck(ListFolder(ScratchFolder()) == std::vector<std::string>{"game.ini"}, "nothing but the file is left");
    if (result != kProfileOk) {
        FuzzCheck(first == ToBytes(text), "a failed write leaves the file as it was");
        return 0;
    }
    if (!FitsALine(section, key, value)) return 0;
    int again = WriteProfileEntry(section.c_str(), key.c_str(), value.c_str(), path.c_str());
    Bytes second;
    FuzzCheck(again == kProfileOk, "the same write succeeds again");
    FuzzCheck(ReadFileBytes(path, &second) && second == first, "a second identical write changes nothing");
    return 0;
}
