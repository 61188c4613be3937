// Text conversions of the tool that are the same on every system.
#include "tools/ToolText.h"

#include <cstdio>

std::string PrintableName(const char* sjis) {
    std::string utf8;
    if (SjisToUtf8(sjis, &utf8)) return utf8;
    std::string shown;
    for (const char* p = sjis; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            shown += hex;
        }
    }
    return shown;
}
