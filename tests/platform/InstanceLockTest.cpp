// One program per vault folder: the lock seen by other processes, real ones (util-linux
// flock) and forked copies of this test.
#include "platform/InstanceLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

using platform::InstanceLock;
using testsupport::ChildProcess;
using testsupport::ListFiles;
using testsupport::RunCommand;
using testsupport::RunForked;
using testsupport::TempDir;

namespace {

// Whether another program could take the folder's lock right now.
bool FreeForOthers(const std::string& folder) {
    return RunCommand({"flock", "--nonblock", "--exclusive", folder, "true"}) == 0;
}

// What a second copy of the program, started now, would find.
std::string SecondCopyFinds(const std::string& folder) {
    const testsupport::ForkResult result = RunForked([&] {
        const InstanceLock lock(folder);
        return std::string(lock.Held() ? "held"
                           : lock.GetState() == InstanceLock::State::kHeldElsewhere
                               ? "elsewhere"
                               : "unavailable");
    });
    EXPECT_TRUE(WIFEXITED(result.status));
    return result.report;
}

}  // namespace

TEST(InstanceLockTest, TheFirstCopyKeepsTheFolderUntilItEndsAndLeavesNoFileThere) {
    TempDir vault, other;
    testsupport::WriteFile(vault.File("ferrocask.db"), "vault");
    std::unique_ptr<ChildProcess> started;
    {
        const InstanceLock first(vault.Path());
        ASSERT_TRUE(first.Held());
        EXPECT_EQ(SecondCopyFinds(vault.Path()), "elsewhere");
        EXPECT_FALSE(FreeForOthers(vault.Path()));
        // Within one process too, a second lock does not get it.
        EXPECT_EQ(InstanceLock(vault.Path()).GetState(), InstanceLock::State::kHeldElsewhere);
        // Another vault folder is not affected.
        EXPECT_EQ(SecondCopyFinds(other.Path()), "held");
        EXPECT_EQ(ListFiles(vault.Path()), std::vector<std::string>{"ferrocask.db"});
        // A program started by the holder (still running below) does not inherit the lock.
        started = std::make_unique<ChildProcess>(std::vector<std::string>{"sleep", "60"});
    }
    EXPECT_TRUE(FreeForOthers(vault.Path()));
    EXPECT_EQ(SecondCopyFinds(vault.Path()), "held");
    EXPECT_EQ(ListFiles(vault.Path()), std::vector<std::string>{"ferrocask.db"});

    // A folder that cannot be opened holds nothing.
    const InstanceLock missing(vault.File("gone"));
    EXPECT_EQ(missing.GetState(), InstanceLock::State::kUnavailable);
    EXPECT_FALSE(missing.Held());
    EXPECT_EQ(InstanceLock(vault.File("ferrocask.db")).GetState(),
              InstanceLock::State::kUnavailable);
}

TEST(InstanceLockTest, AKilledHolderFreesTheFolder) {
    TempDir vault;
    // Another program holds the folder (one process: the shell takes the lock on a
    // descriptor of the folder, then becomes sleep with that descriptor).
    ChildProcess holder(
        {"sh", "-c", "exec 9<\"$0\" && flock -x 9 && echo held && exec sleep 60", vault.Path()});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(line, 10000));
    ASSERT_EQ(line, "held");
    EXPECT_EQ(InstanceLock(vault.Path()).GetState(), InstanceLock::State::kHeldElsewhere);
    EXPECT_EQ(SecondCopyFinds(vault.Path()), "elsewhere");
    holder.Kill(SIGKILL);
    holder.Wait();
    EXPECT_TRUE(InstanceLock(vault.Path()).Held());
}
