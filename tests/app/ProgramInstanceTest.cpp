// The real program, started twice on one folder: the first copy keeps the folder to itself
// and turns core dumps off; the second one shows its message box, leaves the vault file
// alone and ends with status 1 once the box is answered.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "support/ProgramWindow.h"

using xdriver::WaitUntil;
using ProgramInstanceTest = testsupport::ProgramFixture;

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

TEST_F(ProgramInstanceTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    Start();
    const std::string db = vault.File("ferrocask.db");
    EXPECT_TRUE(FolderLocked(vault.Directory()));
    EXPECT_EQ(testsupport::CoreFileLimits(run->Pid()), "0 0");
    // The first copy made the vault file; it stays as it is from here on.
    ASSERT_TRUE(WaitUntil([&] { return testsupport::FileExists(db); }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string before = StateOf(db);
    {
        testsupport::ProgramRun second(vault.Directory());
        // Its box is answered with Return, again while it runs: the box may not have had
        // the focus yet. Then it ends by itself.
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
