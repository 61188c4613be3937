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
#include "tools/Interrupt.h"
#include "tools/RctCommand.h"
#include "tools/ToolHelp.h"
#include "tools/ToolText.h"
#include "tools/TryCommand.h"

namespace {

// Exit code for a command line the tool does not understand.
constexpr int kUsageExit = 2;

int Usage(const char* problem) {
    if (problem != nullptr) fprintf(stderr, "patchtool: %s\n", problem);
    PrintUsage(nullptr, stderr);
    return kUsageExit;
}

int UnknownOption(const std::string& option) { return Usage(("unknown option " + option).c_str()); }

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
            return UnknownOption(args[i]);
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
        } else if (args[i] == "--exclude") {
            if (i + 1 >= args.size()) return Usage("--exclude takes a pattern");
            request.excludes.push_back(args[++i]);
        } else if (args[i].compare(0, 2, "--") == 0) {
            return UnknownOption(args[i]);
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
        else if (args[i].compare(0, 2, "--") == 0) return UnknownOption(args[i]);
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
            return UnknownOption(args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1) return Usage("check takes one INSTALL.ENV");
    return CheckCommand(positional[0].c_str(), withFolder ? packageFolder.c_str() : nullptr, stdout, stderr);
}

// Parses a decimal integer with an optional sign; false for anything else.
bool ParseVersion(const std::string& text, int* version) {
    size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.size() <= start || text.size() - start > 9) return false;
    int value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    *version = text[0] == '-' ? -value : value;
    return true;
}

int RunTry(const std::vector<std::string>& args) {
    TryRequest request{"", "", "", false, 0};
    std::vector<std::string> positional;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--expect") {
            if (i + 1 >= args.size()) return Usage("--expect takes a folder");
            request.expect = args[++i];
        } else if (args[i] == "--installed-version") {
            if (i + 1 >= args.size() || !ParseVersion(args[i + 1], &request.installedVersion))
                return Usage("--installed-version takes a whole number");
            request.versionGiven = true;
            ++i;
        } else if (args[i].compare(0, 2, "--") == 0) {
            return UnknownOption(args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) return Usage("try takes PATCH.exe GAME");
    request.patch = positional[0];
    request.game = positional[1];
    return TryCommand(request, stdout, stderr);
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
    if (command == "--version") {
        printf("patchtool %s\n", ToolVersion());
        return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        if (args.size() > 3) return Usage("help takes at most one command");
        const char* asked = args.size() == 3 ? args[2].c_str() : nullptr;
        if (!PrintUsage(asked, stdout)) return Usage(("help: unknown command " + args[2]).c_str());
        return 0;
    }
    for (size_t i = 2; i < args.size(); ++i)
        if (args[i] == "--help" || args[i] == "-h") {
            if (!PrintUsage(command.c_str(), stdout)) return Usage(("unknown command " + command).c_str());
            return 0;
        }
    if (command.compare(0, 1, "-") == 0) return UnknownOption(command);
    RemovePartialFileOnInterrupt();
    if (command == "diff") return RunDiff(args);
    if (command == "pack") return RunPack(args);
    if (command == "check") return RunCheck(args);
    if (command == "rct") return RctCommand(args, stdout, stderr);
    if (command == "list" && args.size() == 3) return ListCommand(args[2].c_str(), stdout, stderr);
    if (command == "list" && args.size() == 4 && (args[2] == "--json" || args[3] == "--json"))
        return ListJsonCommand((args[2] == "--json" ? args[3] : args[2]).c_str(), stdout, stderr);
    if (command == "verify" && args.size() == 3) return VerifyCommand(args[2].c_str(), stdout, stderr);
    if (command == "extract") return RunExtract(args);
    if (command == "try") return RunTry(args);
    if (command == "list" || command == "verify") return Usage((command + " takes one FILE.exe").c_str());
    return Usage(("unknown command " + command).c_str());
}
