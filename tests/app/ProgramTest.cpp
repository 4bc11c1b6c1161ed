// The real program, started as a user starts it from its own folder, seen, driven and closed
// from outside through the X server.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "resources/DialogTemplates.h"
#include "support/LoopbackServer.h"
#include "support/ProgramWindow.h"

using testsupport::FileExists;
using testsupport::ListFiles;
using xdriver::WaitUntil;
using ProgramTest = testsupport::ProgramFixture;

TEST_F(ProgramTest, StartsWithoutConfigurationMakesItsFilesAndEndsWhenClosed) {
    // The update check goes to the built-in server: in a network of its own with nothing in
    // it, the attempt fails at once without leaving the machine.
    Start("", true);
    EXPECT_EQ(x.Size(window->Id()), xdriver::Point(482, 315));
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

TEST_F(ProgramTest, EndsAtOnceWhenClosedWithTheVaultOpenWhileTheUpdateServerKeepsSilent) {
    vault.Create("qwe12345", 4, {{"mail", "pw-mail"}});
    vault.CloseFiles();
    testsupport::LoopbackServer silent;
    Start("/config/update/server " + silent.Address() + "\n");
    ASSERT_TRUE(window->TypePassword("qwe12345"));
    Settle();
    window->Click(PictureCheckTemplate(), ids::kOk);
    Settle();
    xdriver::Point keyboard;
    EXPECT_FALSE(window->WaitForKeyboard(&keyboard, 300)) << "the list is not shown";
    // The check waits for an answer that does not come (for up to 16 seconds).
    ASSERT_TRUE(WaitUntil([&] { return silent.Request(100).find("GET /software/") == 0; }, 15000));
    const auto closed = std::chrono::steady_clock::now();
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd(8000);
    EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(5));
    EXPECT_EQ(vault.Names("qwe12345"), std::vector<std::string>{"mail"});
    EXPECT_TRUE(ListFiles(vault.Directory(), "ferrocask_").empty());
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
}

namespace {

// Whether another program holds the folder's lock. The probe takes the lock for a moment
// when it is free, so it is only asked once a copy of the program has started.
bool FolderLocked(const std::string& folder) {
    return testsupport::RunCommand({"flock", "--nonblock", folder, "true"}) != 0;
}

// The file's bytes and the time it was last changed.
std::string StateOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return testsupport::ReadFile(path) + "@" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

// The first copy keeps the folder to itself and turns core dumps off; the second one shows
// its message box, leaves the vault file alone and ends with status 1 once it is answered.
TEST_F(ProgramTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    Start();
    const std::string db = vault.File("ferrocask.db");
    EXPECT_TRUE(FolderLocked(vault.Directory()));
    EXPECT_EQ(testsupport::CoreFileLimits(run->Pid()), "0 0");
    // The first copy made the vault file; it stays as it is from here on.
    ASSERT_TRUE(WaitUntil([&] { return FileExists(db); }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string before = StateOf(db);
    {
        testsupport::ProgramRun second(vault.Directory());
        // Its box is answered with Return, again while it runs: the box may not have had
        // the focus yet.
        const auto answer = [&] {
            const unsigned long box = x.FindWindow(second.Pid(), "", true);
            if (box != 0) {
                x.Focus(box);
                x.Press("Return");
            }
            return box != 0;
        };
        ASSERT_TRUE(WaitUntil(answer, 60000)) << "no box; it wrote:\n" << second.Output();
        const auto ended = [&] { return !second.Running() || (answer() && false); };
        ASSERT_TRUE(WaitUntil(ended, 20000)) << "it did not end; it wrote:\n" << second.Output();
        EXPECT_TRUE(WIFEXITED(second.Status()) && WEXITSTATUS(second.Status()) == 1)
            << "wait status " << second.Status() << "\n"
            << second.Output();
    }
    EXPECT_TRUE(StateOf(db) == before) << "the vault file changed";
    EXPECT_TRUE(FolderLocked(vault.Directory()));  // still the first copy's
    ::kill(run->Pid(), SIGKILL);
    ASSERT_TRUE(run->WaitForEnd(20000));
    EXPECT_FALSE(FolderLocked(vault.Directory()));
}
