// patchtool: the makers' command-line tool. It makes a patch folder from two
// versions of a game, builds an updater by appending a package to the updater
// image, lists, verifies and extracts finished updaters, and checks an
// install.env the way the updater will read it. It never shows a box;
// everything goes to the console.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/CheckCommand.h"
#include "tools/DiffCommand.h"
#include "tools/InspectCommands.h"
#include "tools/PackCommand.h"
#include "tools/ProgressLine.h"
#include "tools/RctCommand.h"
#include "tools/ToolText.h"

namespace {

// Exit code for a command line the tool does not understand.
constexpr int kUsageExit = 2;

const char* const kUsage =
    "usage:\n"
    "  patchtool diff OLD NEW OUT [--settings INSTALL.ENV] [--delta | --no-delta] [--quiet]\n"
    "      make the patch folder OUT from the released game OLD and the new\n"
    "      version NEW: every new or changed file (by its bytes) with its time,\n"
    "      and an install.env whose [delfiles_afterinst] lists the removed files,\n"
    "      merged into INSTALL.ENV or written as a starting file to fill in\n"
    "  patchtool pack UPDATER.exe OUT.exe SOURCE [--level N] [--list FILE] [--quiet]\n"
    "      copy UPDATER.exe to OUT.exe with a package of the folder SOURCE\n"
    "      (or of the paths under SOURCE that FILE lists, one a line, UTF-8);\n"
    "      zlib level 0-9, default 9\n"
    "  patchtool list FILE.exe      one line per entry: kind, size, packed size, time (UTC), name\n"
    "  patchtool verify FILE.exe    inflate every entry in memory and check it, and follow\n"
    "      the updater's start: every start-up file reached, install.env among them\n"
    "  patchtool extract FILE.exe DEST [--quiet]\n"
    "      extract everything into DEST as the updater's update does\n"
    "  patchtool check INSTALL.ENV [--package-folder DIR]\n"
    "      read INSTALL.ENV as the updater will: warn where it would quietly differ\n"
    "      from what the file seems to say, then show every setting and section;\n"
    "      with DIR (the folder to be packed), also check that the readme is there\n"
    "      and that no [delfiles_afterinst] entry deletes a file the patch brings\n"
    "  patchtool rct encode IN.(png|bmp|ppm) OUT.rct [--tc01 NAME]\n"
    "  patchtool rct decode IN.rct OUT.(png|bmp|ppm)\n"
    "  patchtool rct info IN.rct\n"
    "      make, undo and inspect the RCT background picture (PNG with the native\n"
    "      tool only); pack turns a top-level insttscr.png, .bmp or .ppm into\n"
    "      insttscr.rct by itself\n"
    "diff, pack and extract show a progress line on a terminal; --quiet leaves it out.\n";

int Usage(const char* problem) {
    if (problem != nullptr) fprintf(stderr, "patchtool: %s\n", problem);
    fputs(kUsage, stderr);
    return kUsageExit;
}

// Parses "0".."9"; false for anything else.
bool ParseLevel(const std::string& text, int* level) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '9') return false;
    *level = text[0] - '0';
    return true;
}

int RunPack(const std::vector<std::string>& args) {
    PackRequest request{"", "", "", "", kDefaultPackLevel, kPackLimit, nullptr};
    bool quiet = false;
    std::vector<std::string> positional;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--quiet") {
            quiet = true;
        } else if (args[i] == "--level") {
            if (i + 1 >= args.size() || !ParseLevel(args[i + 1], &request.level))
                return Usage("--level takes a number from 0 to 9");
            ++i;
        } else if (args[i] == "--list") {
            if (i + 1 >= args.size()) return Usage("--list takes a file");
            request.listFile = args[++i];
        } else if (args[i].compare(0, 2, "--") == 0) {
            return Usage("unknown option");
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 3) return Usage("pack takes UPDATER.exe OUT.exe SOURCE");
    request.updater = positional[0];
    request.output = positional[1];
    request.source = positional[2];
    request.progress = ProgressStream(stderr, quiet);
    return PackCommand(request, stdout, stderr);
}

int RunDiff(const std::vector<std::string>& args) {
    DiffRequest request{"", "", "", "", nullptr};
    bool quiet = false;
    std::vector<std::string> positional;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--quiet") {
            quiet = true;
        } else if (args[i] == "--delta" || args[i] == "--no-delta") {
            request.deltas = args[i] == "--delta";
        } else if (args[i] == "--settings") {
            if (i + 1 >= args.size()) return Usage("--settings takes an install.env");
            request.settings = args[++i];
        } else if (args[i].compare(0, 2, "--") == 0) {
            return Usage("unknown option");
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 3) return Usage("diff takes OLD NEW OUT");
    request.oldFolder = positional[0];
    request.newFolder = positional[1];
    request.output = positional[2];
    request.progress = ProgressStream(stderr, quiet);
    return DiffCommand(request, stdout, stderr);
}

int RunExtract(const std::vector<std::string>& args) {
    bool quiet = false;
    std::vector<std::string> positional;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--quiet") quiet = true;
        else if (args[i].compare(0, 2, "--") == 0) return Usage("unknown option");
        else positional.push_back(args[i]);
    }
    if (positional.size() != 2) return Usage("extract takes FILE.exe DEST");
    return ExtractCommand(positional[0].c_str(), positional[1].c_str(), stdout, stderr, ProgressStream(stderr, quiet));
}

int RunCheck(const std::vector<std::string>& args) {
    std::string packageFolder;
    bool withFolder = false;
    std::vector<std::string> positional;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--package-folder") {
            if (i + 1 >= args.size()) return Usage("--package-folder takes a folder");
            packageFolder = args[++i];
            withFolder = true;
        } else if (args[i].compare(0, 2, "--") == 0) {
            return Usage("unknown option");
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1) return Usage("check takes one INSTALL.ENV");
    return CheckCommand(positional[0].c_str(), withFolder ? packageFolder.c_str() : nullptr, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    PrepareTerminal();
    std::vector<std::string> args;
    std::string bad;
    if (!ToolArguments(argc, argv, &args, &bad)) {
        fprintf(stderr, "patchtool: the argument \"%s\" has no Shift-JIS form\n", bad.c_str());
        return kUsageExit;
    }
    if (args.size() < 2) return Usage(nullptr);
    const std::string& command = args[1];
    if (command == "diff") return RunDiff(args);
    if (command == "pack") return RunPack(args);
    if (command == "check") return RunCheck(args);
    if (command == "rct") return RctCommand(args, stdout, stderr);
    if (command == "list" && args.size() == 3) return ListCommand(args[2].c_str(), stdout, stderr);
    if (command == "verify" && args.size() == 3) return VerifyCommand(args[2].c_str(), stdout, stderr);
    if (command == "extract") return RunExtract(args);
    return Usage("unknown command or wrong number of arguments");
}
