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
#include "tests/win32/UpdaterProcess.h"

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
    std::string shell = "/bin/sh -c \"" + commandLine + " >/dev/null 2>&1; echo $? > " + unixStatus + ".part && mv " +
                        unixStatus + ".part " + unixStatus + "\"";
    std::wstring command(shell.begin(), shell.end());
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (unixStatus.empty() ||
        !CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
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
        DeleteGlobalKey("VornelUpdaterTest");
        cert_ = UnixPath(keys_ / "cert.pem");
        key_ = UnixPath(keys_ / "key.pem");
        ASSERT_FALSE(cert_.empty());
        ASSERT_EQ(0, RunUnixProgram("/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "
                                    "/CN=VORNEL-test-maker -keyout " + key_ + " -out " + cert_,
                                    keys_));
    }
    void TearDown() override {
        DeleteGlobalKey("VornelUpdaterTest");
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
        ASSERT_EQ(0, RegWriteString("VornelUpdaterTest", "Signed", "IsInst", "1"));
        ASSERT_EQ(0, RegWriteString("VornelUpdaterTest", "Signed", "InstTo", game.Path().c_str()));
        Bytes entries;
        AppendFile(&entries, "install.env",
                   ToBytes("REG_GLOBAL VornelUpdaterTest\r\nREG_LOCAL Signed\r\nTITLEBAR 署名\r\nINSTREADME -\r\n"));
        AppendFile(&entries, "insttscr.rct", TinyPicture());
        AppendFile(&entries, "game.dat", ToBytes("new"));
        AppendFile(&entries, "voice.arc", Bytes(300000, 'v'));
        Bytes patch = MakeProgramFile(image_, entries);
        while (c.aligned && patch.size() % kCertificateAlignment != 0) patch.insert(patch.end() - 4, 0);
        if (!c.aligned && patch.size() % kCertificateAlignment == 0) patch.insert(patch.end() - 4, 0);
        Bytes signedPatch = Signed(patch);
        ASSERT_GT(signedPatch.size(), patch.size() + 500) << "no certificate table";
        Start(signedPatch, "signed.exe");

        HWND main = WaitForDialog(process_.dwProcessId, Wide("署名 アップデータ"), kProcessTimeoutMs);
        ASSERT_NE(nullptr, main);
        ClickButton(main, IDC_SLOT_FIRST + 1);  // Update, above Exit
        BoxAnswerer answerer{};
        StartBoxSequence(&answerer, process_.dwProcessId, {IDYES}, kProcessTimeoutMs, main);
        ASSERT_TRUE(FinishBoxAnswerer(&answerer));
        EXPECT_EQ(Wide(("[" + game.Path() + "]をアップデートします").c_str()), answerer.texts[0]);
        HWND finish = WaitForDialog(process_.dwProcessId, Wide("インストール終了"), kProcessTimeoutMs);
        ASSERT_NE(nullptr, finish);
        SendDlgItemMessageW(finish, IDC_RUN_GAME_CHECK, BM_SETCHECK, BST_UNCHECKED, 0);
        ClickButton(finish, IDOK);
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
