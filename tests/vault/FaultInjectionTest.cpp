// A process that changes the vault is killed (SIGKILL) in the middle of its work, or the power
// fails under it, and the folder it leaves is examined: the vault file must pass the
// Berkeley DB verifier, show the picture under the master password and hold the entries
// exactly as they were just before or just after the operation that was interrupted.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>

#include "vault/FaultModel.h"

using namespace vaulttest;
using faultmodel::kMasterPassword;
using faultmodel::kNewMasterPassword;
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

    // How the vault looks after operations 1 to `done` certainly ended and operation done + 1
    // may have run in part or completely: kBefore, kAfter, or what is wrong with it.
    std::string Examine(int done) {
        if (!Verified()) {
            CloseDevice();
            return "file rejected by db_verify";
        }
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        const bool samePicture = Picture(kMasterPassword) == AsBytes(picture.m_pBuffer);
        const std::vector<std::string> entries = Entries(kMasterPassword);
        CloseDevice();
        return !samePicture                                  ? "picture unreadable or changed"
               : entries == faultmodel::StateAfter(done)     ? kBefore
               : entries == faultmodel::StateAfter(done + 1) ? kAfter
                                                             : "entries neither before nor after";
    }

    // Puts the vault file back as it was and removes whatever an earlier round left beside it.
    void Restore(const std::string& file) {
        for (const std::string& name : testsupport::ListFiles(dir.Path())) {
            ::unlink(dir.File(name).c_str());
        }
        testsupport::WriteFile(VaultFile(), file);
    }

    // Runs `operation` in the helper on the vault file `before`, stopped before its event 1,
    // 2, ... four ways: a kill, a kill in the middle of a write (which can end a write of
    // several memory pages part-way), and a power cut, with the names on disk as of the
    // folder's last flush or as they stand; until the operation runs to its end. `check`
    // examines the folder after each run, told whether the operation completed.
    void StopAtEachEvent(const std::string& operation, const std::string& before,
                         const std::function<void(int event, bool completed)>& check) {
        for (const char* how : {"", "torn", "cut", "cut-names"}) {
            for (int event = 1;; ++event) {
                SCOPED_TRACE("operation " + operation + ", " + (*how ? how : "kill") +
                             " at event " + std::to_string(event));
                Restore(before);
                ChildProcess helper({FAULT_CHILD, directory, operation, std::to_string(event), how},
                                    helperErrors);
                const int status = helper.Wait();
                const std::vector<std::string> lines = helper.RemainingLines();
                const std::string line = lines.size() == 1 ? lines[0] : "";
                const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                const bool completed = exited && line.find(" events ") != std::string::npos;
                ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) || completed ||
                            (exited && line.rfind("cut ", 0) == 0))
                    << "status " << status << ", " << testsupport::ReadFile(helperErrors);
                check(event, completed);
                if (HasFatalFailure()) {
                    return;
                }
                if (completed) {
                    break;
                }
            }
        }
        Restore(before);
    }

    const std::string helperErrors = dir.File("helper-stderr.txt");
};

// A helper runs the operations one after another and is killed at a random moment; the next
// round goes on from what the vault holds, over and over, through every phase of the run.
TEST_F(FaultInjectionTest, AKillAtARandomMomentLeavesTheStateBeforeOrAfter) {
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 3000);  // microseconds after the first report
    int done = 0;                                       // operations the vault certainly holds
    for (int round = 0; round < kRandomRounds; ++round) {
        ChildProcess helper({FAULT_CHILD, directory, std::to_string(done + 1)}, helperErrors);
        std::string line;
        ASSERT_TRUE(helper.ReadLine(line, 20000))
            << "the helper reported nothing: " << testsupport::ReadFile(helperErrors);
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        helper.Kill(SIGKILL);
        const int status = helper.Wait();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the helper ended by itself, status " << status;
        const std::vector<std::string> lines = helper.RemainingLines();
        const int reported = std::stoi(lines.empty() ? line : lines.back());
        ASSERT_GT(reported, done);
        const std::string finding = Examine(reported);
        ASSERT_TRUE(finding == kBefore || finding == kAfter)
            << finding << " after a kill during operation " << reported + 1;
        done = finding == kAfter ? reported + 1 : reported;
    }
    std::printf("random kills (seed %u): %d rounds, %d operations\n", seed, kRandomRounds, done);
}

// Operations of every kind and size of list, each stopped before each of its events (each
// change of a file, by the database library or the program, and each flush).
TEST_F(FaultInjectionTest, AStopAtEachEventOfAnOperation) {
    int stops = 0, done = 0;
    // Additions on the tree's page, into the first and the second overflow page and within
    // them; changes; deletions, the last ones back on the tree's page.
    for (int n : {1, 11, 12, 30, 44, 60, 80, 110, 118}) {
        OpenDevice();
        for (; done < n - 1; ++done) {
            faultmodel::RunOperation(done + 1, store, directory);
        }
        CloseDevice();
        ASSERT_NO_FATAL_FAILURE(StopAtEachEvent(
            std::to_string(n), testsupport::ReadFile(VaultFile()), [&](int event, bool completed) {
                const std::string finding = Examine(n - 1);
                if (completed) {
                    EXPECT_EQ(finding, kAfter);
                    return;
                }
                ++stops;
                EXPECT_TRUE(finding == kBefore || finding == kAfter) << finding;
                if (event == 1) {
                    EXPECT_EQ(finding, kBefore) << "nothing was changed yet";
                }
            }));
    }
    std::printf("  %d stops, every one before or after its operation\n", stops);
}

// A change of the master password, with the backup made before it, stopped before each of
// its events: the vault opens completely under the old password or completely under the new
// one, and once it is under the new one, the backup of the old vault is there, byte for
// byte. A backup is never seen half made.
TEST_F(FaultInjectionTest, AMasterPasswordChangeStoppedAtEachEvent) {
    OpenDevice();
    for (int op = 1; op <= 20; ++op) {
        faultmodel::RunOperation(op, store, directory);
    }
    CloseDevice();
    const std::string before = testsupport::ReadFile(VaultFile());
    const std::vector<std::string> entries = faultmodel::StateAfter(20);
    Ombrix::Data<unsigned char> oldPicture, newPicture;
    MakePicture(oldPicture, 1);
    MakePicture(newPicture, 2);
    StopAtEachEvent("master", before, [&](int, bool completed) {
        ASSERT_TRUE(Verified());
        const bool underOld = Picture(kMasterPassword) == AsBytes(oldPicture.m_pBuffer) &&
                              Entries(kMasterPassword) == entries;
        const bool underNew = Picture(kNewMasterPassword) == AsBytes(newPicture.m_pBuffer) &&
                              Entries(kNewMasterPassword) == entries;
        CloseDevice();
        EXPECT_TRUE(underOld || underNew);
        EXPECT_TRUE(underNew || !completed);
        int whole = 0;
        for (const std::string& name : testsupport::ListFiles(dir.Path(), "ferrocask_")) {
            if (name.find(".part") == std::string::npos) {
                EXPECT_TRUE(testsupport::ReadFile(dir.File(name)) == before)
                    << name << " is not the vault as it was";
                ++whole;
            }
        }
        if (underNew) {
            EXPECT_EQ(whole, 1) << "the change was made without its backup";
        }
    });
}

}  // namespace
