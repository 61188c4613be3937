#include "tools/RctCommand.h"

#include <cinttypes>
#include <cstring>
#include <memory>

#include "picture/RctEncoder.h"
#include "picture/RctFormat.h"
#include "services/Platform.h"
#include "tools/FolderScan.h"
#include "tools/ImageFiles.h"
#include "tools/ToolFiles.h"
#include "tools/ToolText.h"

namespace {

// Exit code for a command line the tool does not understand, as main's.
constexpr int kRctUsageExit = 2;
// Largest RCT file read: a stream of nothing but literals for the largest
// image costs a little over its raw bytes; twice that leaves ample room.
constexpr int64_t kMaxRctFile = 2 * kMaxRctImageBytes;
// The picture forms pack converts, each the background picture's name with
// another extension.
const char* const kPictureNames[] = {"insttscr.png", "insttscr.bmp", "insttscr.ppm"};

const char* const kRctUsage =
    "usage:\n"
    "  patchtool rct encode IN.(png|bmp|ppm) OUT.rct [--tc01 NAME]\n"
    "      encode a picture as RCT (TC00; TC01 carrying NAME with --tc01)\n"
    "  patchtool rct decode IN.rct OUT.(png|bmp|ppm)\n"
    "      decode an RCT picture (PNG only with the native tool)\n"
    "  patchtool rct info IN.rct\n"
    "      show the header and whether the updater can decode the picture\n";

int RctUsage(const char* problem, FILE* err) {
    fprintf(err, "patchtool: %s\n%s", problem, kRctUsage);
    return kRctUsageExit;
}

const char* DescribeRctResult(int result) {
    switch (result) {
        case kRctOk: return "decodes cleanly";
        case kRctUnrecognised: return "not an RCT picture (neither TC00 nor TC01)";
        case kRctTruncated: return "the file or its packed stream ends early";
        case kRctBadSize: return "width, height or packed length out of range";
        case kRctCorrupt: return "a command writes past the end of the image";
        case kRctCopyBeforeStart: return "a command copies from before the first pixel";
        case kRctForwardCopy: return "a command copies from pixels not yet written";
        default: return "unknown failure";
    }
}

bool ReadWholeFile(const std::string& path, int64_t cap, std::vector<uint8_t>* data, std::string* problem) {
    FileHolder file(PlatformOpenFile(path.c_str(), "rb"));
    if (!file) {
        *problem = "cannot open " + PrintableName(path.c_str());
        return false;
    }
    int64_t size = PlatformSeek(file.get(), 0, SEEK_END) == 0 ? PlatformTell(file.get()) : -1;
    if (size < 0 || size > cap || PlatformSeek(file.get(), 0, SEEK_SET) != 0) {
        *problem = PrintableName(path.c_str()) + (size > cap ? ": the file is too large" : ": cannot read the file");
        return false;
    }
    data->resize(static_cast<size_t>(size));
    if (size > 0 && fread(data->data(), 1, data->size(), file.get()) != data->size()) {
        *problem = PrintableName(path.c_str()) + ": cannot read the file";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
    FileHolder file(PlatformOpenFile(path.c_str(), "wb"));
    if (!file) return false;
    bool ok = fwrite(data.data(), 1, data.size(), file.get()) == data.size();
    return CloseWrittenFile(&file) && ok;
}

// Parses and decodes an RCT file held in data into pixels (tightly packed).
// Returns an RctResult; header is filled once the header parses.
int DecodeRctFile(const std::vector<uint8_t>& data, RctHeader* header, std::vector<uint8_t>* pixels) {
    int result = ParseRctHeader(data.data(), data.size(), header);
    if (result != kRctOk) return result;
    if (header->streamOffset > data.size() || header->packedLength > data.size() - header->streamOffset)
        return kRctTruncated;
    pixels->assign(static_cast<size_t>(header->width) * static_cast<size_t>(header->height) * kRctPixelSize, 0);
    return DecodeRctStream(data.data() + header->streamOffset, header->packedLength, header->width, header->height,
                           pixels->data());
}

}  // namespace

StartupPictureResult FindStartupPicture(const std::vector<std::string>& topFiles, std::string* picture,
                                        std::string* other) {
    std::string rct, found;
    for (const std::string& name : topFiles) {
        std::string lower = FoldedName(name);
        if (lower == kStartupPictureName) rct = name;
        for (const char* pictureName : kPictureNames) {
            if (lower != pictureName) continue;
            if (!found.empty()) {
                *picture = found;
                *other = name;
                return kStartupPictureClash;
            }
            found = name;
        }
    }
    if (found.empty()) return kNoStartupPicture;
    *picture = found;
    if (rct.empty()) return kStartupPictureFound;
    *other = rct;
    return kStartupPictureClash;
}

bool ConvertPictureToRct(const std::string& path, std::vector<uint8_t>* rct, std::string* problem) {
    Picture picture{0, 0, {}};
    if (!ReadPictureFile(path, &picture, problem)) return false;
    if (EncodeRct(picture.bgr.data(), picture.width, picture.height, 0, nullptr, rct) != kRctOk) {
        *problem = "the picture is larger than an RCT picture can be";
        return false;
    }
    return true;
}

bool CheckRctPicture(const std::vector<uint8_t>& data, std::string* problem) {
    RctHeader header;
    std::vector<uint8_t> pixels;
    int result = DecodeRctFile(data, &header, &pixels);
    if (result == kRctOk) return true;
    // The updater reads the header and the stream again while they come up
    // short, then asks Retry or Cancel: a short file asks at every start.
    *problem = std::string(DescribeRctResult(result)) +
               (result == kRctTruncated ? "; the updater would show its read-error box at every start"
                                        : "; the updater would show no picture");
    return false;
}

bool CheckRctPictureFile(const std::string& path, std::string* problem) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(path, kMaxRctFile, &data, problem)) return false;
    return CheckRctPicture(data, problem);
}

int RctEncodeCommand(const std::string& in, const std::string& output, int version, const std::string& name,
                     FILE* out, FILE* err) {
    Picture picture{0, 0, {}};
    std::string problem;
    if (!ReadPictureFile(in, &picture, &problem)) {
        fprintf(err, "patchtool: %s: %s\n", PrintableName(in.c_str()).c_str(), problem.c_str());
        return 1;
    }
    std::vector<uint8_t> rct;
    if (EncodeRct(picture.bgr.data(), picture.width, picture.height, version, name.c_str(), &rct) != kRctOk) {
        fprintf(err, "patchtool: %s: the picture or the name is too large for RCT\n", PrintableName(in.c_str()).c_str());
        return 1;
    }
    if (!WriteWholeFile(output, rct)) {
        fprintf(err, "patchtool: cannot write %s\n", PrintableName(output.c_str()).c_str());
        return 1;
    }
    size_t raw = picture.bgr.size();
    fprintf(out, "%s: TC%02d, %d x %d, %zu bytes (raw %zu bytes, %.1f%%)\n", PrintableName(output.c_str()).c_str(),
            version, static_cast<int>(picture.width), static_cast<int>(picture.height), rct.size(), raw,
            100.0 * static_cast<double>(rct.size()) / static_cast<double>(raw));
    return 0;
}

int RctDecodeCommand(const std::string& in, const std::string& output, FILE* out, FILE* err) {
    PictureKind kind = PictureKindOfName(output);
    if (kind == kPictureUnknown) return RctUsage("the output name must end in .png, .bmp or .ppm", err);
    if (kind == kPicturePng && !PngSupported()) {
        fprintf(err, "patchtool: PNG needs the native tool; write .bmp or .ppm here\n");
        return 1;
    }
    std::vector<uint8_t> data;
    std::string problem;
    if (!ReadWholeFile(in, kMaxRctFile, &data, &problem)) {
        fprintf(err, "patchtool: %s\n", problem.c_str());
        return 1;
    }
    RctHeader header;
    Picture picture{0, 0, {}};
    int result = DecodeRctFile(data, &header, &picture.bgr);
    if (result != kRctOk) {
        fprintf(err, "patchtool: %s: %s\n", PrintableName(in.c_str()).c_str(), DescribeRctResult(result));
        return 1;
    }
    picture.width = header.width;
    picture.height = header.height;
    if (!WritePictureFile(output, kind, picture, &problem)) {
        fprintf(err, "patchtool: %s: %s\n", PrintableName(output.c_str()).c_str(), problem.c_str());
        return 1;
    }
    fprintf(out, "%s: %d x %d\n", PrintableName(output.c_str()).c_str(), static_cast<int>(header.width),
            static_cast<int>(header.height));
    return 0;
}

int RctInfoCommand(const std::string& in, FILE* out, FILE* err) {
    std::vector<uint8_t> data;
    std::string problem;
    if (!ReadWholeFile(in, kMaxRctFile, &data, &problem)) {
        fprintf(err, "patchtool: %s\n", problem.c_str());
        return 1;
    }
    const std::string shown = PrintableName(in.c_str());
    RctHeader header;
    int result = ParseRctHeader(data.data(), data.size(), &header);
    if (result != kRctOk) {
        fprintf(out, "%s: header: %s\n", shown.c_str(), DescribeRctResult(result));
        return 1;
    }
    fprintf(out, "%s: TC%02d\n", shown.c_str(), header.version);
    fprintf(out, "  size          %d x %d\n", static_cast<int>(header.width), static_cast<int>(header.height));
    fprintf(out, "  stride        %d bytes\n", static_cast<int>(RctStride(header.width)));
    fprintf(out, "  packed length %" PRIu32 " bytes\n", header.packedLength);
    if (header.version == 1) {
        size_t nameStart = kRctHeaderSize + kRctNameLengthSize;
        if (header.streamOffset <= data.size()) {
            std::string name(data.begin() + static_cast<std::ptrdiff_t>(nameStart),
                             data.begin() + static_cast<std::ptrdiff_t>(header.streamOffset));
            bool hasNul = name.find('\0') != std::string::npos;
            fprintf(out, "  name          \"%s\" (%zu bytes)\n", hasNul ? "(holds NUL bytes)" : PrintableName(name.c_str()).c_str(),
                    name.size());
        } else {
            fprintf(out, "  name          cut short\n");
        }
    }
    size_t raw = static_cast<size_t>(header.width) * static_cast<size_t>(header.height) * kRctPixelSize;
    fprintf(out, "  raw           %zu bytes, ratio %.2f : 1\n", raw,
            static_cast<double>(raw) / static_cast<double>(header.packedLength));
    if (header.streamOffset <= data.size() && data.size() - header.streamOffset > header.packedLength)
        fprintf(out, "  trailing      %zu bytes after the packed stream\n",
                data.size() - header.streamOffset - header.packedLength);
    std::vector<uint8_t> pixels;
    result = DecodeRctFile(data, &header, &pixels);
    fprintf(out, "  stream        %s\n", DescribeRctResult(result));
    return result == kRctOk ? 0 : 1;
}

int RctCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
    if (args.size() < 3) return RctUsage("rct takes encode, decode or info", err);
    const std::string& sub = args[2];
    if (sub == "encode") {
        std::vector<std::string> positional;
        int version = 0;
        std::string name;
        for (size_t i = 3; i < args.size(); ++i) {
            if (args[i] == "--tc01") {
                if (i + 1 >= args.size()) return RctUsage("--tc01 takes a name", err);
                version = 1;
                name = args[++i];
            } else if (args[i].compare(0, 2, "--") == 0) {
                return RctUsage(("unknown option " + args[i]).c_str(), err);
            } else {
                positional.push_back(args[i]);
            }
        }
        if (positional.size() != 2) return RctUsage("rct encode takes IN and OUT.rct", err);
        if (name.size() > kMaxRctNameLength) return RctUsage("the --tc01 name is longer than 65535 bytes", err);
        return RctEncodeCommand(positional[0], positional[1], version, name, out, err);
    }
    if (sub == "decode" && args.size() == 5) return RctDecodeCommand(args[3], args[4], out, err);
    if (sub == "info" && args.size() == 4) return RctInfoCommand(args[3], out, err);
    return RctUsage("unknown rct command or wrong number of arguments", err);
}
