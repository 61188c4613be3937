// The rct command: turns a maker's PNG, BMP or PPM into an RCT background
// picture and back, and tells what an RCT file holds and whether the updater
// will show it. Also the conversion pack uses when a folder carries the
// background picture as insttscr.png, .bmp or .ppm.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The background picture's name in a package.
constexpr const char* kStartupPictureName = "insttscr.rct";

enum StartupPictureResult {
    kNoStartupPicture = 0,
    kStartupPictureFound,  // one insttscr.png, .bmp or .ppm and no insttscr.rct
    kStartupPictureClash,  // the picture twice, in two forms
};

// Looks among topFiles (top-level file names, Shift-JIS) for insttscr.png,
// .bmp or .ppm in any letter case. Returns kStartupPictureFound with its name
// in picture; kStartupPictureClash with two names in picture and other when
// insttscr.rct or a second such picture is there too; else kNoStartupPicture.
StartupPictureResult FindStartupPicture(const std::vector<std::string>& topFiles, std::string* picture,
                                        std::string* other);

// Reads the picture file at path (Shift-JIS) and encodes it as an RCT file
// (TC00) in rct. Returns true, or false with the reason in problem.
bool ConvertPictureToRct(const std::string& path, std::vector<uint8_t>* rct, std::string* problem);

// Checks the bytes of an RCT file as the updater reads and shows its
// background picture. Returns true, or false with the reason and what the
// updater would do in problem.
bool CheckRctPicture(const std::vector<uint8_t>& data, std::string* problem);

// Reads the file at path (Shift-JIS) and checks it as CheckRctPicture does.
bool CheckRctPictureFile(const std::string& path, std::string* problem);

// rct encode IN OUT.rct [--tc01 NAME]: returns 0, or 1 after a message on err.
int RctEncodeCommand(const std::string& in, const std::string& output, int version, const std::string& name,
                     FILE* out, FILE* err);

// rct decode IN.rct OUT.(png|bmp|ppm): returns 0, or 1 after a message on err.
int RctDecodeCommand(const std::string& in, const std::string& output, FILE* out, FILE* err);

// rct info IN.rct: prints the header and whether the stream decodes cleanly.
// Returns 0 when it does, 1 when the file is no RCT or does not decode.
int RctInfoCommand(const std::string& in, FILE* out, FILE* err);

// Runs "patchtool rct ..." (args as the tool got them, args[1] being "rct").
// Returns the exit code: 0, 1 on failure, 2 for a command line it does not take.
int RctCommand(const std::vector<std::string>& args, FILE* out, FILE* err);
