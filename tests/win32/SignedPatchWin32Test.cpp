// A patch signed as a maker signs it, with osslsigncode, updates a game end
// to end: the updater finds its package in front of the certificate table.
// The signing tools are Unix programs, which Wine starts like any other.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "package/ProgramImage.h"
#include "resources/resource.h"
#include "services/Registry.h"
#include "tests/support/RegistryStore.h"
#include "tests/support/UpdaterProcess_win32.h"

namespace {

// How long a signing tool may take, and how often its end is looked for.
constexpr DWORD kToolTimeoutMs = 60000;
constexpr DWORD kToolPollMs = 50;

// Runs a Unix command line (no double quotes in it) and returns its exit
// status, or -1 when it cannot be started or does not end in time. Wine
// starts a Unix program detached, so the shell around it leaves the status
// in a file, written under another name and then renamed when complete.
int RunUnixProgram(const std::string& commandLine, const TempFolder& work) {
    std::string status = work / "status.txt";
    DeleteFileW(Wide(status.c_str()).c_str());
    std::string unixStatus = UnixPath(status);
    if (unixStatus.empty() ||
        !StartUnixShell(commandLine + " >/dev/null 2>&1; echo $? > " + unixStatus + ".part && mv " + unixStatus +
                        ".part " + unixStatus))
        return -1;
    Bytes text;
    for (DWORD waited = 0; waited < kToolTimeoutMs && !ReadFileBytes(status, &text); waited += kToolPollMs)
        Sleep(kToolPollMs);
    std::string code(text.begin(), text.end());
    return code.empty() || code[0] < '0' || code[0] > '9' ? -1 : atoi(code.c_str());
}

class SignedPatchWin32Test : public UpdaterProcessTest {
protected:
    void SetUp() override {
        UpdaterProcessTest::SetUp();
        DeleteGlobalKey(kTestGameKey);
        cert_ = UnixPath(keys_ / "cert.pem");
        key_ = UnixPath(keys_ / "key.pem");
        ASSERT_FALSE(cert_.empty());
        ASSERT_EQ(0, RunUnixProgram("/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "
                                    "/CN=VORNEL-test-maker -keyout " + key_ + " -out " + cert_,
                                    keys_));
    }
    void TearDown() override {
        DeleteGlobalKey(kTestGameKey);
        UpdaterProcessTest::TearDown();
    }
    // The program file signed with the test certificate, its signature checked.
    Bytes Signed(const Bytes& programFile) {
        EXPECT_TRUE(WriteFileBytes(keys_ / "patch.exe", programFile));
        DeleteFileW(Wide((keys_ / "signed.exe").c_str()).c_str());
        EXPECT_EQ(0, RunUnixProgram("/usr/bin/osslsigncode sign -certs " + cert_ + " -key " + key_ + " -in " +
                                    UnixPath(keys_ / "patch.exe") + " -out " + UnixPath(keys_ / "signed.exe"),
                                    keys_));
        EXPECT_EQ(0, RunUnixProgram("/usr/bin/osslsigncode verify -CAfile " + cert_ + " -in " +
                                        UnixPath(keys_ / "signed.exe"),
                                    keys_));
        Bytes bytes;
        EXPECT_TRUE(ReadFileBytes(keys_ / "signed.exe", &bytes));
        return bytes;
    }
    TempFolder keys_;
    std::string cert_, key_;
};

// Signed as pack leaves a patch (no padding before the table) and as an
// unaligned patch gets signed (padding first): both update the game found
// through the registry, and the run ends as an unsigned one does.
TEST_F(SignedPatchWin32Test, SignedPatchUpdatesTheGame) {
    struct Case { const char* what; bool aligned; } cases[] = {
        {"aligned as pack writes it", true},
        {"padded by the signing tool", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder game;
        ASSERT_TRUE(WriteFileBytes(game / "game.dat", ToBytes("old")));
        ASSERT_EQ(0, RegisterGame("Signed", game.Path()));
        Bytes entries = StartupEntries(GameSettings("Signed", "署名") + "INSTREADME -\r\n");
        AppendFile(&entries, "game.dat", ToBytes("new"));
        AppendFile(&entries, "voice.arc", Bytes(300000, 'v'));
        Bytes patch = MakeProgramFile(image_, entries);
        while (c.aligned && patch.size() % kCertificateAlignment != 0) patch.insert(patch.end() - 4, 0);
        if (!c.aligned && patch.size() % kCertificateAlignment == 0) patch.insert(patch.end() - 4, 0);
        Bytes signedPatch = Signed(patch);
        ASSERT_GT(signedPatch.size(), patch.size() + 500) << "no certificate table";
        Start(signedPatch, "signed.exe");

        main_ = WaitFor("署名 アップデータ");
        ASSERT_NE(nullptr, main_);
        ClickButton(main_, IDC_SLOT_FIRST + 1);  // Update, above Exit
        std::vector<std::wstring> texts = Answer({IDYES});
        ASSERT_EQ(1u, texts.size());
        EXPECT_EQ(Wide(("[" + game.Path() + "]をアップデートします").c_str()), texts[0]);
        ASSERT_NO_FATAL_FAILURE(CloseFinishDialog(false));
        EXPECT_EQ(0, Finish());
        Bytes bytes;
        ASSERT_TRUE(ReadFileBytes(game / "game.dat", &bytes));
        EXPECT_EQ(ToBytes("new"), bytes);
        ASSERT_TRUE(ReadFileBytes(game / "voice.arc", &bytes));
        EXPECT_EQ(Bytes(300000, 'v'), bytes);
        EXPECT_TRUE(WorkingFolders().empty());
    }
}

}  // namespace
