// The real program, started twice on one folder: the first copy keeps the folder to itself
// and turns core dumps off; the second one shows its message box, leaves the vault file
// alone and ends with status 1 once the box is answered.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/XDriver.h"

using testsupport::CoreFileLimits;
using testsupport::ProgramRun;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using xdriver::WaitUntil;

namespace {

bool FolderLocked(const std::string& folder) {
    return RunCommand({"flock", "--nonblock", folder, "true"}) != 0;
}

// Answers the message box of the process as a user would with the keyboard: gives its
// window the focus and presses Return. False when the process shows no window.
bool PressReturnIn(pid_t pid) {
    xdriver::XSession x;
    const unsigned long box = x.FindOtherWindow(pid, "");
    if (box == 0) {
        return false;
    }
    x.Focus(box);
    x.Press("Return");
    return true;
}

}  // namespace

TEST(ProgramInstanceTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    TempDir folder;
    ProgramRun::Install(FERROCASK_PROGRAM, folder.Path());

    ProgramRun first(folder.Path());
    // A sanitizer build on a busy machine may take its time to get its window up.
    ASSERT_TRUE(WaitUntil([&] { return FolderLocked(folder.Path()); }, 60000))
        << "the first copy did not take the folder; it "
        << (first.Running() ? "still runs" : "has ended") << " and wrote:\n"
        << first.Output();
    EXPECT_EQ(CoreFileLimits(first.Pid()), "0 0");
    // The first run made the vault file; it stays as it is from here on.
    ASSERT_TRUE(
        WaitUntil([&] { return testsupport::FileExists(folder.File("ferrocask.db")); }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string before = ReadFile(folder.File("ferrocask.db"));
    struct stat statBefore {};
    ASSERT_EQ(::stat(folder.File("ferrocask.db").c_str(), &statBefore), 0);

    {
        ProgramRun second(folder.Path());
        // It shows its message box and waits for the user; meanwhile the file is untouched.
        ASSERT_TRUE(WaitUntil([&] { return PressReturnIn(second.Pid()); }, 60000))
            << "the second copy showed no window; it wrote:\n"
            << second.Output();
        // Answered, the box closes and the program ends by itself.
        ASSERT_TRUE(WaitUntil(
            [&] {
                if (!second.Running()) {
                    return true;
                }
                PressReturnIn(second.Pid());  // the box may not have had the focus yet
                return false;
            },
            20000))
            << "the second copy did not end; it wrote:\n"
            << second.Output();
        EXPECT_TRUE(WIFEXITED(second.Status())) << second.Output();
        EXPECT_EQ(WEXITSTATUS(second.Status()), 1) << second.Output();
    }
    struct stat statAfter {};
    ASSERT_EQ(::stat(folder.File("ferrocask.db").c_str(), &statAfter), 0);
    EXPECT_EQ(ReadFile(folder.File("ferrocask.db")), before);
    EXPECT_EQ(statAfter.st_mtim.tv_sec, statBefore.st_mtim.tv_sec);
    EXPECT_EQ(statAfter.st_mtim.tv_nsec, statBefore.st_mtim.tv_nsec);
    EXPECT_TRUE(FolderLocked(folder.Path()));  // still the first copy's

    ::kill(first.Pid(), SIGKILL);
    ASSERT_TRUE(first.WaitForEnd(20000));
    EXPECT_FALSE(FolderLocked(folder.Path()));
}
