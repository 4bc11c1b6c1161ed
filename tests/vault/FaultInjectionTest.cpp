// A process that changes the vault is killed, or the power fails under it: the vault it
// leaves must pass the database's verifier, show its picture under the master password and
// hold the entries exactly as just before or just after the interrupted operation.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "vault/VaultTestSupport.h"

using namespace vaulttest;
using faultmodel::kMasterPassword;
using testsupport::ChildProcess;

namespace {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomRounds = 500;
#else
constexpr int kRandomRounds = 1500;
#endif

const std::string kBefore = "before", kAfter = "after";

class FaultInjectionTest : public VaultTest {
protected:
    void SetUp() override {
        VaultTest::SetUp();
        MakeVault(kMasterPassword);
        CloseDevice();  // a helper process is the file's only user
    }
    bool Holds(const char* password, int pictureSeed, const Strings& entries) {
        return Picture(password) == PictureBytes(pictureSeed) && Entries(password) == entries;
    }
    std::string Examine(int done) {
        const std::string finding = !Verified() ? "rejected by db_verify"
                                    : Holds(kMasterPassword, 1, faultmodel::StateAfter(done))
                                        ? kBefore
                                    : Holds(kMasterPassword, 1, faultmodel::StateAfter(done + 1))
                                        ? kAfter
                                        : "neither before nor after";
        CloseDevice();
        return finding;
    }
    void RunUpTo(int n) {
        OpenDevice();
        while (done < n) {
            faultmodel::RunOperation(++done, store, directory);
        }
        CloseDevice();
    }
    // Runs `operation` in the helper on the vault `before`, stopped before its event 1, 2,
    // ... until it runs to its end, each of the helper's four ways.
    void StopAtEachEvent(const std::string& operation, const std::string& before,
                         const std::function<void(int event, bool completed)>& check) {
        for (const char* how : {"", "torn", "cut", "cut-names"}) {
            for (int event = 1;; ++event) {
                SCOPED_TRACE("operation " + operation + ", " + (*how ? how : "kill") +
                             " at event " + std::to_string(event));
                for (const std::string& name : testsupport::ListFiles(dir.Path())) {
                    ::unlink(dir.File(name).c_str());
                }
                testsupport::WriteFile(VaultFile(), before);
                ChildProcess helper({FAULT_CHILD, directory, operation, std::to_string(event), how},
                                    helperErrors);
                const int status = helper.Wait();
                const Strings lines = helper.RemainingLines();
                const std::string line = lines.size() == 1 ? lines[0] : "";
                const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                const bool completed = exited && line.find(" events ") != std::string::npos;
                ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) || completed ||
                            (exited && line.rfind("cut ", 0) == 0))
                    << "status " << status << ", " << testsupport::ReadFile(helperErrors);
                ASSERT_NO_FATAL_FAILURE(check(event, completed));
                if (completed) {
                    break;
                }
            }
        }
        testsupport::WriteFile(VaultFile(), before);
    }

    const std::string helperErrors = dir.File("helper-stderr.txt");
    int done = 0;  // the operations the vault certainly holds
};

TEST_F(FaultInjectionTest, AKillAtARandomMomentLeavesTheStateBeforeOrAfter) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pause(0, 3000);  // microseconds after the first report
    for (int round = 0; round < kRandomRounds; ++round) {
        ChildProcess helper({FAULT_CHILD, directory, std::to_string(done + 1)}, helperErrors);
        std::string line;
        ASSERT_TRUE(helper.ReadLine(line, 20000)) << testsupport::ReadFile(helperErrors);
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        helper.Kill(SIGKILL);
        const int status = helper.Wait();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        const Strings lines = helper.RemainingLines();
        const int reported = std::stoi(lines.empty() ? line : lines.back());
        ASSERT_GT(reported, done);
        const std::string finding = Examine(reported);
        ASSERT_TRUE(finding == kBefore || finding == kAfter)
            << finding << " after a kill during operation " << reported + 1;
        done = finding == kAfter ? reported + 1 : reported;
    }
}

// Additions on the tree's page, into and within each overflow page; changes; deletions.
TEST_F(FaultInjectionTest, AStopAtEachEventOfAnOperation) {
    for (int n : {1, 11, 12, 30, 44, 60, 80, 110, 118}) {
        RunUpTo(n - 1);
        ASSERT_NO_FATAL_FAILURE(
            StopAtEachEvent(std::to_string(n), VaultBytes(), [&](int event, bool completed) {
                const std::string finding = Examine(n - 1);
                EXPECT_TRUE(finding == (completed ? kAfter : kBefore) ||
                            (event > 1 && finding == kAfter))
                    << finding;
            }));
    }
}

// Once the vault opens under the new password, the whole backup of the old one is there.
TEST_F(FaultInjectionTest, AMasterPasswordChangeStoppedAtEachEvent) {
    RunUpTo(20);
    const std::string before = VaultBytes();
    const Strings entries = faultmodel::StateAfter(20);
    StopAtEachEvent("master", before, [&](int, bool completed) {
        ASSERT_TRUE(Verified());
        const bool underOld = Holds(kMasterPassword, 1, entries);
        const bool underNew = Holds(faultmodel::kNewMasterPassword, 2, entries);
        CloseDevice();
        EXPECT_TRUE(underOld || underNew);
        EXPECT_TRUE(underNew || !completed);
        int whole = 0;
        for (const std::string& name : Backups()) {
            if (name.find(".part") == std::string::npos) {
                EXPECT_TRUE(testsupport::ReadFile(dir.File(name)) == before) << name;
                ++whole;
            }
        }
        EXPECT_TRUE(whole == 1 || !underNew) << "the change was made without its backup";
    });
}
}  // namespace
