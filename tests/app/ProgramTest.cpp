// The real program, started as a user starts it from its own folder, seen and closed from
// outside through the X server.
#include <chrono>

#include "resources/DialogTemplates.h"
#include "support/ProgramWindow.h"
#include "support/ScriptedServer.h"

using testsupport::FileExists;
using testsupport::ListFiles;
using ProgramTest = testsupport::ProgramFixture;

TEST_F(ProgramTest, StartsWithoutConfigurationMakesItsFilesAndEndsWhenClosed) {
    // The update check goes to the built-in server: in a network of its own with nothing in
    // it, the attempt fails at once without leaving the machine.
    Start("", true);
    EXPECT_EQ(x.Size(window->Id()).x, 482);
    EXPECT_EQ(x.Size(window->Id()).y, 315);
    xdriver::Point keyboard;
    ASSERT_TRUE(window->WaitForKeyboard(&keyboard, 15000)) << "the password panel is not drawn";
    window->Screenshot("program-first-run");
    EXPECT_TRUE(FileExists(vault.File("ferrocask.db")));
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
    EXPECT_FALSE(FileExists(vault.File("config.txt")));
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd();
    // Nothing was set up: the file stays an empty vault.
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
}

TEST_F(ProgramTest, EndsWhenClosedWithTheVaultOpen) {
    vault.Create("qwe12345", 4, {{"mail", "pw-mail"}});
    vault.CloseFiles();
    Start();
    ASSERT_TRUE(window->TypePassword("qwe12345"));
    Settle();
    window->Click(PictureCheckTemplate(), ids::kOk);
    Settle();
    xdriver::Point keyboard;
    EXPECT_FALSE(window->WaitForKeyboard(&keyboard, 300)) << "the list is not shown";
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd();
    EXPECT_EQ(vault.Names("qwe12345"), std::vector<std::string>{"mail"});
    EXPECT_TRUE(ListFiles(vault.Directory(), "ferrocask_").empty());
}

TEST_F(ProgramTest, ClosingWhileTheUpdateServerKeepsSilentEndsAtOnce) {
    testsupport::ScriptedServer silent({{}, 0, false});
    Start("/config/update/server " + silent.Address() + "\n");
    // The check waits for an answer that does not come (for up to 16 seconds).
    ASSERT_TRUE(xdriver::WaitUntil(
        [&] { return silent.Request().find("GET /software/update.xml") == 0; }, 15000));
    const auto closed = std::chrono::steady_clock::now();
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd(8000);
    EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(5));
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
}
