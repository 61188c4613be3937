// Windows side of the tool's text edge: arguments and file names come as
// UTF-16 from the W functions and become code page 932 through the program's
// own codec; the console is switched to UTF-8 so that listings read the same
// as on other systems.
#include "tools/ToolText.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <cstring>

#include "services/TextCodec_win32.h"

namespace {

// One name or argument as UTF-16; longer ones are refused, never cut.
constexpr size_t kWideName = 4096;
// Shift-JIS needs at most two bytes for each UTF-16 unit.
constexpr size_t kSjisName = kWideName * 2;

bool WideToUtf8(const wchar_t* wide, std::string* utf8) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    std::string buffer(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &buffer[0], n, nullptr, nullptr);
    utf8->assign(buffer.c_str());
    return true;
}

// Converts to Shift-JIS only when the text has an exact Shift-JIS form.
bool ExactWideToSjis(const wchar_t* wide, std::string* sjis) {
    static char s_sjis[kSjisName];
    sjis->clear();
    if (!WideToSjis(wide, s_sjis, sizeof(s_sjis))) return false;
    sjis->assign(s_sjis);
    return true;
}

}  // namespace

void PrepareTerminal() { SetConsoleOutputCP(CP_UTF8); }

bool IsTerminal(FILE* stream) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

bool ToolArguments(int, char**, std::vector<std::string>* arguments, std::string* bad) {
    arguments->clear();
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return false;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        std::string sjis;
        if (ExactWideToSjis(wide[i], &sjis)) {
            arguments->push_back(sjis);
        } else {
            WideToUtf8(wide[i], bad);
            ok = false;
        }
    }
    LocalFree(wide);
    return ok;
}

bool SjisToUtf8(const char* sjis, std::string* utf8) {
    static wchar_t s_wide[kWideName];
    utf8->clear();
    if (!SjisToWide(sjis, s_wide, kWideName)) return false;
    return WideToUtf8(s_wide, utf8);
}

bool Utf8ToSjis(const char* utf8, std::string* sjis) {
    static wchar_t s_wide[kWideName];
    sjis->clear();
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, s_wide, kWideName) <= 0) return false;
    return ExactWideToSjis(s_wide, sjis);
}

bool FindNameWithoutSjis(const char* sjisFolder, std::string* utf8Name) {
    static wchar_t s_pattern[kWideName];
    std::string pattern = std::string(sjisFolder) + "\\*";
    if (!SjisToWide(pattern.c_str(), s_pattern, kWideName)) return false;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(s_pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
        std::string sjis;
        if (!ExactWideToSjis(data.cFileName, &sjis)) {
            WideToUtf8(data.cFileName, utf8Name);
            found = true;
        }
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}
