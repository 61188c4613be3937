// Writes the seed corpora: a few small inputs per target, built with the
// tests' own package, picture and image builders, so that every target starts
// from inputs its parser accepts whole.
//
//   fuzz_seeds CORPUS-FOLDER   (tests/fuzz/corpus)
//
// Seeds named "found-*" are inputs that once found a fault; they are kept
// by hand and this program leaves them alone.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "picture/RctEncoder.h"
#include "services/Platform.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "update/HelperHandshake.h"

namespace {

std::string s_corpus;

void Seed(const char* target, const char* name, const Bytes& bytes) {
    std::string folder = s_corpus + "/" + target;
    PlatformCreateFolder(folder.c_str());
    std::string path = folder + "/" + name;
    if (!WriteFileBytes(path, bytes)) {
        fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
        exit(1);
    }
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A few packages' entries: what a patch usually carries, and damaged ones.
// UTF-16LE bytes of text, as the fuzz target reads a command line.
Bytes Utf16Bytes(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

std::vector<std::pair<const char*, Bytes>> Packages() {
    Bytes patch;
    AppendFile(&patch, "readme.txt", ToBytes("readme of 1.01\r\n"));
    AppendFolder(&patch, "save\\");
    AppendFile(&patch, "save\\slot1.dat", ToBytes("a new save"));
    AppendFile(&patch, "data.arc", ToBytes("new data new data new data"));
    AppendEnd(&patch);

    Bytes japanese;
    AppendFolder(&japanese, "表\\");
    AppendFile(&japanese, "表\\ソフト.dat", ToBytes("ソフト"));
    AppendFile(&japanese, "install.env", ToBytes("TITLEBAR x\r\n"));
    AppendEnd(&japanese);

    Bytes readOnly;  // replaces the player's read-only file: refused
    AppendFile(&readOnly, "new.txt", ToBytes("new"));
    AppendFile(&readOnly, "config.ini", ToBytes("[options]\r\nvolume=5\r\n"));
    AppendEnd(&readOnly);

    Bytes damaged;  // a stream cut short after a good entry
    AppendFile(&damaged, "readme.txt", ToBytes("first"));
    Bytes stream = Deflate(ToBytes("second file"));
    stream.resize(stream.size() / 2);
    AppendRawFile(&damaged, ToBytes(std::string("b.txt") + '\0'), 11, static_cast<uint32_t>(stream.size()),
                  kTestFileTime, stream);
    AppendEnd(&damaged);

    Bytes repeated;  // the same name twice: the last one wins
    AppendFile(&repeated, "game.dat", ToBytes("first"));
    AppendFile(&repeated, "GAME.DAT", ToBytes("second"));
    AppendEnd(&repeated);

    return {{"patch", patch}, {"japanese", japanese}, {"read-only", readOnly}, {"damaged", damaged}, {"repeated", repeated}};
}

Bytes Picture(int32_t width, int32_t height, int version, const char* name) {
    Bytes pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i / 3) % 5 * 40 + i % 3);
    Bytes file;
    EncodeRct(pixels.data(), width, height, version, name, &file);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seeds CORPUS-FOLDER\n");
        return 2;
    }
    s_corpus = argv[1];
    PlatformCreateFolder(s_corpus.c_str());

    for (const auto& package : Packages()) {
        Seed("package_reader", package.first, package.second);
        // The walk's first byte: no crash, or a crash after a few changes.
        Seed("full_walk", package.first, Join({{0}, package.second}));
    }
    Seed("full_walk", "patch-crash-6", Join({{6}, Packages()[0].second}));
    Seed("full_walk", "patch-crash-14", Join({{14}, Packages()[0].second}));

    const std::string header = "VORNEL staging journal 1\n";
    Seed("journal", "listed", ToBytes(header + "D data\nF 00000000 1 readme.txt\nF 00000002 1 data\\scene.dat\nE\n"));
    Seed("journal", "committed", ToBytes(header + "F 00000000 1 readme.txt\nF 00000002 1 data\\scene.dat\nE\nC\n"));
    Seed("journal", "unlisted", ToBytes(header + "F 00000001 0 data\\scene.dat\nN new.txt\n"));
    Seed("journal", "in-place", ToBytes(header + "D data\nN data\\scene.dat\nF 00000000 1 readme.txt\nE\n"));
    Seed("journal", "cut-short", ToBytes(header + "F 00000000 1 readme.txt\nE"));

    Seed("profile_writer", "replace", ToBytes(std::string("options") + '\0' + "volume" + '\0' + "5" + '\0' +
                                              "; game settings\r\n[Options]\r\nVolume = 3\r\nname=x\r\n\r\n[other]\r\n"));
    Seed("profile_writer", "new-section", ToBytes(std::string("設定") + '\0' + "パス" + '\0' + "D:\\Games\\表" + '\0' +
                                                  "[a]\nk=v"));
    Seed("profile_writer", "utf8", ToBytes(std::string("s") + '\0' + "k" + '\0' + "値" + '\0' + "\xEF\xBB\xBF[s]\r\nk=1\r\n"));
    Bytes utf16 = ToBytes(std::string("s") + '\0' + "k" + '\0' + "v" + '\0');
    const char kUtf16Text[] = "\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0o\0";
    utf16.insert(utf16.end(), kUtf16Text, kUtf16Text + sizeof(kUtf16Text) - 1);
    Seed("profile_writer", "utf16", utf16);

    Seed("settings", "typical", ToBytes(
        "// sample\r\nTITLEBAR サンプル|ゲーム\r\nINSTTO VORNEL_GAME\r\nEXENAME game.exe\r\nCHKREGVER 100 old\r\n"
        "INI_FILE game.ini\r\nINI_SECTION 設定\r\n[ini]\r\nInstall REP_INSTALLDIR\r\n-\r\n"
        "[delfiles_afterinst]\r\nold.dat\r\n-\r\n[reg]\r\n  Version 101\r\n-\r\n[EOF]\r\nEXENAME after.exe\r\n"));
    Seed("settings", "quirks", ToBytes(
        "titlebar x\nTITLEBAR  \t first second\n\tINSTTO indented\nCHKREGVERHIGH -12abc\nTITLEBAR again\n"
        "[INI]\n[ini]\na b\n[ini]\nc\n-\nEOF\n[reg]\nx\n\x1A" "EXENAME hidden.exe\n"));
    Seed("settings", "unterminated", ToBytes("INSTMAKEFOL 1\n[delfiles]\nsave\\*.dat\n"));
    Seed("settings", "long-line", ToBytes("KEYFILE " + std::string(600, 'k') + "\nEXENAME x.exe\n"));

    Seed("picture", "tc00-2x2", Picture(2, 2, 0, nullptr));
    Seed("picture", "tc01-7x5", Picture(7, 5, 1, "insttscr"));
    Seed("picture", "tc00-1x9", Picture(1, 9, 0, nullptr));
    Seed("picture", "tc00-33x4", Picture(33, 4, 0, nullptr));

    Bytes entries = Packages()[0].second;
    Seed("program_image", "pe32", MakeProgramFile(MakeImage(kImagePe32, 16), entries));
    Seed("program_image", "pe32plus", MakeProgramFile(MakeImage(kImagePe32Plus, 16), entries));
    Seed("program_image", "signed", SignLikeATool(MakeProgramFile(MakeImage(kImagePe32, 16), entries), 24));
    Seed("program_image", "no-image", MakeProgramFile(ToBytes("not an image"), entries));

    HelperRequest request{1234, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd,
                                 0xee, 0xff},
                          u"C:\\Program Files (x86)\\\u30B2\u30FC\u30E0 \"v2\"\\"};
    Seed("helper_handshake", "command-line",
         Utf16Bytes(u"\"C:\\Users\\a\\updater.exe\" " + FormatHelperArguments(request)));
    HandshakeBlock block{1234, {}, request.folder, u"C:\\Users\\\uAE40\uBBFC\uC218\\Temp\\TempGPInstallFolder_000001234"};
    memcpy(block.nonce, request.nonce, kNonceBytes);
    Bytes laid(kHandshakeBlockSize);
    laid.resize(WriteHandshakeBlock(block, laid.data(), laid.size()));
    Seed("helper_handshake", "block", laid);
    return 0;
}
