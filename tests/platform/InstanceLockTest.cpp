// One program per vault folder: the lock seen by other processes, real ones (util-linux
// flock) and forked copies of this test.
#include "platform/InstanceLock.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

using platform::InstanceLock;
using testsupport::ChildProcess;
using testsupport::ListFiles;
using Files = std::vector<std::string>;

namespace {

// Whether another program could take the folder's lock right now.
bool FreeForOthers(const std::string& folder) {
    return testsupport::RunCommand({"flock", "--nonblock", "--exclusive", folder, "true"}) == 0;
}

// What a second copy of the program, started now, would find.
std::string SecondCopyFinds(const std::string& folder) {
    return testsupport::RunForked([&] {
               const InstanceLock lock(folder);
               return std::string(lock.Held() ? "held"
                                  : lock.GetState() == InstanceLock::State::kHeldElsewhere
                                      ? "elsewhere"
                                      : "unavailable");
           })
        .report;
}

TEST(InstanceLockTest, TheFirstCopyKeepsTheFolderUntilItEndsAndLeavesNoFileThere) {
    testsupport::TempDir vault, other;
    testsupport::WriteFile(vault.File("ferrocask.db"), "vault");
    std::unique_ptr<ChildProcess> started;
    {
        const InstanceLock first(vault.Path());
        ASSERT_TRUE(first.Held());
        EXPECT_EQ(SecondCopyFinds(vault.Path()), "elsewhere");
        EXPECT_FALSE(FreeForOthers(vault.Path()));
        // Within one process too, a second lock does not get it.
        EXPECT_EQ(InstanceLock(vault.Path()).GetState(), InstanceLock::State::kHeldElsewhere);
        EXPECT_EQ(SecondCopyFinds(other.Path()), "held");
        EXPECT_EQ(ListFiles(vault.Path()), Files{"ferrocask.db"});
        // A program started by the holder (still running below) does not inherit the lock.
        started = std::make_unique<ChildProcess>(Files{"sleep", "60"});
    }
    EXPECT_TRUE(FreeForOthers(vault.Path()));
    EXPECT_EQ(SecondCopyFinds(vault.Path()), "held");
    EXPECT_EQ(ListFiles(vault.Path()), Files{"ferrocask.db"});
    // A folder that cannot be opened holds nothing.
    EXPECT_EQ(InstanceLock(vault.File("gone")).GetState(), InstanceLock::State::kUnavailable);
    EXPECT_FALSE(InstanceLock(vault.File("gone")).Held());
    EXPECT_EQ(SecondCopyFinds(vault.File("ferrocask.db")), "unavailable");
}

TEST(InstanceLockTest, AKilledHolderFreesTheFolder) {
    testsupport::TempDir vault;
    // The shell takes the lock on a descriptor of the folder, then becomes sleep with it.
    ChildProcess holder(
        {"sh", "-c", "exec 9<\"$0\" && flock -x 9 && echo held && exec sleep 60", vault.Path()});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(line, 10000));
    ASSERT_EQ(line, "held");
    EXPECT_EQ(SecondCopyFinds(vault.Path()), "elsewhere");
    holder.Kill(SIGKILL);
    holder.Wait();
    EXPECT_TRUE(InstanceLock(vault.Path()).Held());
}

}  // namespace
