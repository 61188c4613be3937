// POSIX side of the tool's text edge: the terminal, the arguments and the
// file names are UTF-8; the package speaks code page 932 through iconv.
#include "tools/ToolText.h"

#include <dirent.h>
#include <iconv.h>
#include <unistd.h>

#include <cstring>

namespace {

// UTF-8 takes at most three bytes for a character that Shift-JIS holds in
// one or two, and Shift-JIS never needs more bytes than UTF-8.
constexpr size_t kGrowthFactor = 3;

bool Convert(const char* from, const char* to, const char* in, std::string* out) {
    out->clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    size_t inLeft = strlen(in);
    std::string buffer(inLeft * kGrowthFactor + 1, '\0');
    char* inPtr = const_cast<char*>(in);
    char* outPtr = &buffer[0];
    size_t outLeft = buffer.size();
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
    out->assign(buffer.data(), buffer.size() - outLeft);
    return true;
}

}  // namespace

void PrepareTerminal() {}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

bool ToolArguments(int argc, char** argv, std::vector<std::string>* arguments, std::string* bad) {
    arguments->clear();
    for (int i = 0; i < argc; ++i) {
        std::string sjis;
        if (!Utf8ToSjis(argv[i], &sjis)) {
            *bad = argv[i];
            return false;
        }
        arguments->push_back(sjis);
    }
    return true;
}

bool SjisToUtf8(const char* sjis, std::string* utf8) { return Convert("CP932", "UTF-8", sjis, utf8); }

bool Utf8ToSjis(const char* utf8, std::string* sjis) {
    std::string back;
    // Some characters (a wave dash, a minus sign) map one way only; a name
    // that would come back as another character would not find its file.
    if (!Convert("UTF-8", "CP932", utf8, sjis) || !Convert("CP932", "UTF-8", sjis->c_str(), &back) ||
        back != utf8) {
        sjis->clear();
        return false;
    }
    return true;
}

bool FindNameWithoutSjis(const char* sjisFolder, std::string* utf8Name) {
    std::string folder;
    if (!SjisToUtf8(sjisFolder, &folder)) return false;
    for (char& c : folder)
        if (c == '\\') c = '/';
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    for (struct dirent* e = readdir(dir); e != nullptr && !found; e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        std::string sjis;
        if (!Utf8ToSjis(e->d_name, &sjis)) {
            *utf8Name = e->d_name;
            found = true;
        }
    }
    closedir(dir);
    return found;
}
