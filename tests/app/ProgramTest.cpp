// The real program, started as a user starts it from its own folder, seen and closed from
// outside through the X server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>

#include "resources/DialogTemplates.h"
#include "support/ProgramRun.h"
#include "support/ProgramWindow.h"
#include "support/ScriptedServer.h"
#include "support/TestVault.h"

using testsupport::ListFiles;
using testsupport::ProgramRun;

namespace {

const std::string kMaster = "qwe12345";

class ProgramTest : public ::testing::Test {
protected:
    // Installs the program in the test vault's folder, with a configuration file if given,
    // and starts it. With ownNetwork, exit code 120 means that no network of its own could
    // be made for the program (that needs the right to create namespaces, which root has).
    void Start(const std::string& config, bool ownNetwork = false) {
        ProgramRun::Install(FERROCASK_PROGRAM, vault.Directory());
        if (!config.empty()) {
            testsupport::WriteFile(vault.File("config.txt"), config);
        }
        run = std::make_unique<ProgramRun>(vault.Directory(), ownNetwork);
        window = std::make_unique<testsupport::ProgramWindow>(x, run->Pid());
        ASSERT_TRUE(window->WaitShown(20000))
            << "no window; wait status " << (run->Running() ? -1 : run->Status()) << "\n"
            << run->Output();
    }
    // Closes the window as a window manager's close button does; the program must end by
    // itself, with status 0.
    void CloseAndExpectSuccess(int withinMs = 10000) {
        x.RequestClose(window->Id());
        ASSERT_TRUE(run->WaitForEnd(withinMs)) << "still running after the close";
        EXPECT_TRUE(WIFEXITED(run->Status()) && WEXITSTATUS(run->Status()) == 0)
            << "wait status " << run->Status() << "\n"
            << run->Output();
    }

    testsupport::TestVault vault;
    xdriver::XSession x;
    std::unique_ptr<ProgramRun> run;
    std::unique_ptr<testsupport::ProgramWindow> window;
};

}  // namespace

TEST_F(ProgramTest, StartsWithoutConfigurationMakesItsFilesAndEndsWhenClosed) {
    // The update check goes to the built-in server: the program gets a network of its own
    // with nothing in it, so that the attempt fails at once without leaving the machine.
    Start("", true);
    EXPECT_EQ(x.Size(window->Id()).x, 482);
    EXPECT_EQ(x.Size(window->Id()).y, 315);
    xdriver::Point keyboard;
    ASSERT_TRUE(window->WaitForKeyboard(&keyboard, 15000)) << "the password panel is not drawn";
    window->Screenshot("program-first-run");
    EXPECT_TRUE(testsupport::FileExists(vault.File("ferrocask.db")));
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
    EXPECT_FALSE(testsupport::FileExists(vault.File("config.txt")));
    CloseAndExpectSuccess();
    // Nothing was set up: the file stays an empty vault.
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
}

TEST_F(ProgramTest, EndsWhenClosedWithTheVaultOpen) {
    vault.Create(kMaster, 4, {{"mail", "pw-mail"}});
    vault.CloseFiles();
    Start("/config/update/server off\n");
    ASSERT_TRUE(window->TypePassword(kMaster));
    // The picture check: "看到" opens the list.
    ASSERT_TRUE(window->WaitSettled(5000));
    window->Screenshot("program-picture-check");
    window->Click(PictureCheckTemplate(), ids::kOk);
    ASSERT_TRUE(window->WaitSettled(5000));
    xdriver::Point keyboard;
    EXPECT_FALSE(window->WaitForKeyboard(&keyboard, 300)) << "the list is not shown";
    window->Screenshot("program-list");
    CloseAndExpectSuccess();
    EXPECT_EQ(vault.Names(kMaster), std::vector<std::string>{"mail"});
    EXPECT_TRUE(ListFiles(vault.Directory(), "ferrocask_").empty());
}

TEST_F(ProgramTest, ClosingWhileTheUpdateServerKeepsSilentEndsAtOnce) {
    testsupport::ScriptedServer silent(testsupport::ServerScript{{}, 0, false});
    Start("/config/update/server " + silent.Address() + "\n");
    // The check waits for an answer that does not come (for up to 16 seconds).
    ASSERT_TRUE(xdriver::WaitUntil(
        [&] { return silent.Request().find("GET /software/update.xml") == 0; }, 15000));
    const auto closed = std::chrono::steady_clock::now();
    CloseAndExpectSuccess(8000);
    EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(5));
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
}
