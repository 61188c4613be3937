// The patchtool program as a maker types it: help and version on standard
// output with exit 0, a wrong command line named on standard error with exit
// 2, and Ctrl-C during pack leaving no partial output. Runs the built program.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "resources/Version.h"
#include "services/Platform.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

// A pack of this much incompressible data takes long enough to be interrupted.
constexpr size_t kSlowPackBytes = 64u << 20;
// How long the test waits for the partial output to appear, in 1 ms steps.
constexpr int kPartialWaitSteps = 20000;

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    Bytes bytes;
    if (!ReadFileBytes(path, &bytes)) return "";
    return std::string(bytes.begin(), bytes.end());
}

// Runs the tool with args (UTF-8, no quotes needed) and its two streams caught.
ToolRun RunTool(const std::vector<std::string>& args, const TempFolder& folder) {
    std::string command = PATCHTOOL_PROGRAM;
    for (const std::string& a : args) command += " '" + a + "'";
    std::string out = folder / "out.txt", err = folder / "err.txt";
    for (char* path : {&out[0], &err[0]})
        for (char* c = path; *c != '\0'; ++c)
            if (*c == '\\') *c = '/';
    int status = system((command + " >" + out + " 2>" + err).c_str());
    return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
}

TEST(CommandLineTest, HelpVersionAndMistakesGoWhereMakersLookWithTheirExitCodes) {
    const struct {
        const char* fault;  // what a maker would meet without the row
        std::vector<std::string> args;
        int exitCode;
        bool onStdout;      // what is said goes to standard output, else to standard error
        std::string says;
        const char* notSaid;  // must not appear, or null
    } cases[] = {
        {"--help taken for a mistake", {"--help"}, 0, true, "patchtool pack UPDATER.exe", nullptr},
        {"-h taken for a mistake", {"-h"}, 0, true, "patchtool diff OLD NEW OUT", nullptr},
        {"help COMMAND shows every command", {"help", "pack"}, 0, true, "patchtool pack UPDATER.exe", "patchtool diff"},
        {"COMMAND --help runs the command", {"verify", "--help"}, 0, true, "patchtool verify FILE.exe", "patchtool rct"},
        {"--version unknown", {"--version"}, 0, true, std::string("patchtool ") + UPDATER_VERSION_TEXT + "\n", nullptr},
        {"an unknown option not named", {"pack", "a.exe", "b.exe", "src", "--levle", "3"}, 2, false,
         "patchtool: unknown option --levle\n", nullptr},
        {"an unknown option of diff not named", {"diff", "a", "b", "c", "--exclud"}, 2, false,
         "unknown option --exclud", nullptr},
        {"an unknown option of rct not named", {"rct", "encode", "a.png", "b.rct", "--tc1"}, 2, false,
         "unknown option --tc1", nullptr},
        {"an unknown option before the command not named", {"--quiet", "pack"}, 2, false, "unknown option --quiet",
         nullptr},
        {"an unknown command not named", {"unpack", "x.exe"}, 2, false, "unknown command unpack", nullptr},
        {"help on a command the tool lacks", {"help", "sign"}, 2, false, "help: unknown command sign", nullptr},
        {"no command at all taken for success", {}, 2, false, "usage:", nullptr},
        {"try without its game folder run anyway", {"try", "patch.exe"}, 2, false, "try takes PATCH.exe GAME", nullptr},
        {"an installed version that is no number taken as 0", {"try", "p.exe", "g", "--installed-version", "1.01"}, 2,
         false, "--installed-version takes a whole number", nullptr},
        {"try onto a folder that is not there taken for success", {"try", "p.exe", "no-such-folder"}, 5, false,
         "no-such-folder is not a folder", nullptr},
        {"help try missing", {"help", "try"}, 0, true, "patchtool try PATCH.exe GAME", "patchtool pack"},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ToolRun run = RunTool(c.args, folder);
        EXPECT_EQ(c.exitCode, run.exitCode);
        const std::string& said = c.onStdout ? run.out : run.err;
        const std::string& other = c.onStdout ? run.err : run.out;
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        EXPECT_EQ("", other);
        if (c.notSaid != nullptr) {
            EXPECT_EQ(std::string::npos, said.find(c.notSaid)) << said;
        }
    }
}

TEST(CommandLineTest, CtrlCDuringPackLeavesNoPartialOutput) {
    TempFolder folder;
    std::string source = folder / "src";
    ASSERT_EQ(0, PlatformCreateFolder(source.c_str()));
    ASSERT_TRUE(WriteFileBytes(source + "\\install.env", ToBytes("TITLEBAR game\r\n")));
    ASSERT_TRUE(WriteFileBytes(source + "\\insttscr.rct", TinyRctPicture()));
    Bytes noise(kSlowPackBytes);
    uint32_t seed = 1;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    ASSERT_TRUE(WriteFileBytes(source + "\\voice.arc", noise));
    ASSERT_TRUE(WriteFileBytes(folder / "updater.exe", MakeUpdaterImage()));
    auto native = [](std::string path) {
        for (char& c : path)
            if (c == '\\') c = '/';
        return path;
    };
    std::string image = native(folder / "updater.exe"), output = native(folder / "out.exe"), src = native(source);
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        execl(PATCHTOOL_PROGRAM, PATCHTOOL_PROGRAM, "pack", image.c_str(), output.c_str(), src.c_str(), "--quiet",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    bool seen = false;
    for (int i = 0; i < kPartialWaitSteps && !seen; ++i) {
        seen = access((output + ".partial").c_str(), F_OK) == 0;
        if (!seen) usleep(1000);
    }
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(seen) << "the pack never began its output";
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0 || access(output.c_str(), F_OK) == 0)
        GTEST_SKIP() << "the pack finished before Ctrl-C reached it";
    EXPECT_EQ(130, WEXITSTATUS(status));
    EXPECT_NE(0, access((output + ".partial").c_str(), F_OK));
    EXPECT_NE(0, access(output.c_str(), F_OK));
}

}  // namespace
