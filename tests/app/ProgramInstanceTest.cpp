// The real program, started twice on one folder: the first copy keeps the folder to itself
// and turns core dumps off; the second one shows its message box, leaves the vault file
// alone and ends with status 1 once the box is answered.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ProgramRun.h"
#include "support/ProgramWindow.h"

using testsupport::ProgramRun;
using testsupport::ReadFile;
using xdriver::WaitUntil;

namespace {

// Whether another program holds the folder's lock. The probe takes the lock for a moment
// when it is free, so it is only asked once a copy of the program has started.
bool FolderLocked(const std::string& folder) {
    return testsupport::RunCommand({"flock", "--nonblock", folder, "true"}) != 0;
}

struct FileState {
    std::string bytes;
    timespec modified{};
};

FileState StateOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return FileState{ReadFile(path), info.st_mtim};
}

}  // namespace

TEST(ProgramInstanceTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    testsupport::TempDir folder;
    ProgramRun::Install(FERROCASK_PROGRAM, folder.Path());
    xdriver::XSession x;

    ProgramRun first(folder.Path());
    // The program takes the folder before it opens its main window. A sanitizer build on a
    // busy machine may take its time to get there.
    ASSERT_TRUE(testsupport::ProgramWindow(x, first.Pid()).WaitShown(60000))
        << "the first copy shows no main window; it "
        << (first.Running() ? "still runs" : "has ended") << " and wrote:\n"
        << first.Output();
    EXPECT_TRUE(FolderLocked(folder.Path()));
    EXPECT_EQ(testsupport::CoreFileLimits(first.Pid()), "0 0");
    // The first run made the vault file; it stays as it is from here on.
    ASSERT_TRUE(
        WaitUntil([&] { return testsupport::FileExists(folder.File("ferrocask.db")); }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const FileState before = StateOf(folder.File("ferrocask.db"));
    {
        ProgramRun second(folder.Path());
        // It shows its message box and waits for the user, who answers with Return (again
        // while it runs: the box may not have had the focus yet); then it ends by itself.
        const auto answer = [&] {
            const unsigned long box = x.FindOtherWindow(second.Pid(), "");
            if (box != 0) {
                x.Focus(box);
                x.Press("Return");
            }
            return box != 0;
        };
        ASSERT_TRUE(WaitUntil(answer, 60000)) << "the second copy showed no window; it wrote:\n"
                                              << second.Output();
        const auto ended = [&] {
            const bool running = second.Running();
            if (running) {
                answer();
            }
            return !running;
        };
        ASSERT_TRUE(WaitUntil(ended, 20000)) << "the second copy did not end; it wrote:\n"
                                             << second.Output();
        EXPECT_TRUE(WIFEXITED(second.Status()) && WEXITSTATUS(second.Status()) == 1)
            << "wait status " << second.Status() << "\n"
            << second.Output();
    }
    const FileState after = StateOf(folder.File("ferrocask.db"));
    EXPECT_EQ(after.bytes, before.bytes);
    EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec);
    EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec);
    EXPECT_TRUE(FolderLocked(folder.Path()));  // still the first copy's

    ::kill(first.Pid(), SIGKILL);
    ASSERT_TRUE(first.WaitForEnd(20000));
    EXPECT_FALSE(FolderLocked(folder.Path()));
}
