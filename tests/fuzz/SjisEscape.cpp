// Copies a UTF-8 source file, writing every run of non-ASCII characters as the
// octal escapes of its Shift-JIS (code page 932) bytes, so that a compiler
// without -fexec-charset=CP932 builds the same string literals. Octal escapes
// end after three digits, so a digit after a run stays a digit; a trail byte
// 0x5C ('\') inside a character becomes "\134" and never starts an escape.
// A run that has no Shift-JIS form (only in comments: the main build refuses
// one in a literal) is copied as it is.
//
//   sjis_escape INPUT OUTPUT
#include <iconv.h>

#include <cstdio>
#include <string>

namespace {

constexpr size_t kEscapeSize = 4;  // '\' and three octal digits

bool ReadWhole(const char* path, std::string* text) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    char block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof(block), file)) > 0) text->append(block, n);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

// The Shift-JIS bytes of a UTF-8 run; false when a character has none.
bool ToSjis(iconv_t codec, const std::string& utf8, std::string* sjis) {
    iconv(codec, nullptr, nullptr, nullptr, nullptr);
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = &out[0];
    size_t toLeft = out.size();
    if (iconv(codec, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - toLeft);
    *sjis = out;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: sjis_escape INPUT OUTPUT\n");
        return 2;
    }
    std::string text;
    if (!ReadWhole(argv[1], &text)) {
        fprintf(stderr, "sjis_escape: cannot read %s\n", argv[1]);
        return 1;
    }
    iconv_t codec = iconv_open("CP932", "UTF-8");
    if (codec == reinterpret_cast<iconv_t>(-1)) {
        fprintf(stderr, "sjis_escape: no UTF-8 to CP932 converter\n");
        return 1;
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            out += text[i++];
            continue;
        }
        size_t end = i;
        while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x80) ++end;
        std::string run = text.substr(i, end - i), sjis;
        if (ToSjis(codec, run, &sjis)) {
            for (unsigned char byte : sjis) {
                char escape[kEscapeSize + 1];
                snprintf(escape, sizeof(escape), "\\%03o", byte);
                out += escape;
            }
        } else {
            out += run;
        }
        i = end;
    }
    iconv_close(codec);
    FILE* file = fopen(argv[2], "wb");
    if (file == nullptr || fwrite(out.data(), 1, out.size(), file) != out.size() || fclose(file) != 0) {
        fprintf(stderr, "sjis_escape: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
