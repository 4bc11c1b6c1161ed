// The real program, started twice on one folder: the first copy keeps the folder to itself
// and turns core dumps off; the second one leaves the vault file alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

std::string CoreLimit(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::string line;
    while (std::getline(limits, line)) {
        if (line.rfind("Max core file size", 0) == 0) {
            return line;
        }
    }
    return "";
}

bool FolderLocked(const std::string& folder) {
    return RunCommand({"flock", "--nonblock", folder, "true"}) != 0;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace

TEST(ProgramInstanceTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    TempDir folder;
    const std::string program = folder.File("ferrocask");
    std::filesystem::copy_file(FERROCASK_PROGRAM, program);
    testsupport::ScopedWorkingDirectory inside(folder.Path());

    ChildProcess first({program}, folder.File("first-stderr.txt"));
    ASSERT_TRUE(WaitFor([&] { return FolderLocked(folder.Path()); }, 20));
    EXPECT_NE(CoreLimit(first.Pid()).find(" 0 "), std::string::npos) << CoreLimit(first.Pid());
    // The first run made the vault file; it stays as it is from here on.
    ASSERT_TRUE(WaitFor([&] { return testsupport::FileExists(folder.File("ferrocask.db")); }, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string before = ReadFile(folder.File("ferrocask.db"));
    struct stat statBefore {};
    ASSERT_EQ(::stat(folder.File("ferrocask.db").c_str(), &statBefore), 0);

    {
        ChildProcess second({program}, folder.File("second-stderr.txt"));
        // It shows its message box and waits for the user; meanwhile the file is untouched.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        second.Kill(SIGTERM);
        second.Wait();
    }
    struct stat statAfter {};
    ASSERT_EQ(::stat(folder.File("ferrocask.db").c_str(), &statAfter), 0);
    EXPECT_EQ(ReadFile(folder.File("ferrocask.db")), before);
    EXPECT_EQ(statAfter.st_mtim.tv_sec, statBefore.st_mtim.tv_sec);
    EXPECT_EQ(statAfter.st_mtim.tv_nsec, statBefore.st_mtim.tv_nsec);
    EXPECT_TRUE(FolderLocked(folder.Path()));  // still the first copy's

    first.Kill(SIGKILL);
    first.Wait();
    EXPECT_FALSE(FolderLocked(folder.Path()));
}
