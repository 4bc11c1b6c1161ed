// A process that changes the vault is killed (SIGKILL) in the middle of its work, or the power
// fails under it, and the folder it leaves is examined: the vault file must pass the
// Berkeley DB verifier, show the picture under the master password and hold the entries
// exactly as they were just before or just after the operation that was interrupted.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "support/ChildProcess.h"
#include "vault/FaultModel.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;
using faultmodel::ModelList;
using testsupport::ChildProcess;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomRounds = 500;
#else
constexpr int kRandomRounds = 1500;
#endif

// How a vault left by a killed helper looks.
enum class Finding { kBefore, kAfter, kFailsVerifier, kNoPicture, kOtherEntries };

const char* Describe(Finding finding) {
    switch (finding) {
        case Finding::kBefore:
            return "state before the operation";
        case Finding::kAfter:
            return "state after the operation";
        case Finding::kFailsVerifier:
            return "file rejected by db_verify";
        case Finding::kNoPicture:
            return "picture unreadable or changed";
        case Finding::kOtherEntries:
            return "entries neither before nor after";
    }
    return "?";
}

bool Acceptable(Finding finding) {
    return finding == Finding::kBefore || finding == Finding::kAfter;
}

class FaultInjectionTest : public VaultTest {
protected:
    void SetUp() override {
        VaultTest::SetUp();
        Ombrix::Data<unsigned char> picture;
        faultmodel::MakeRunPicture(picture);
        pictureBytes = AsBytes(picture.m_pBuffer);
        ASSERT_TRUE(
            store.SetMasterPassword(picture, directory, faultmodel::kMasterPassword, std::nullopt));
        CloseVault();
        emptyVault = testsupport::ReadFile(VaultFile());
    }

    // Lets go of the file, so that a helper process is its only user.
    void CloseVault() { Ombrix::DeviceManager::DestroyInstance(); }

    ModelList StoredEntries(const char* password = faultmodel::kMasterPassword) {
        ModelList list;
        store.LoadEntries(directory, password);
        for (const PasswordEntry& entry : store.m_entries) {
            list.push_back(
                {std::string(FieldText(entry.name)), std::string(FieldText(entry.password))});
        }
        store.m_entries.clear();
        return list;
    }

    // Examines the vault after operations 1 to `done` certainly ended and operation done + 1
    // may have run in part or completely.
    Finding Examine(int done) {
        if (testsupport::RunCommand({"db5.3_verify", "-q", VaultFile()}) != 0) {
            return Finding::kFailsVerifier;
        }
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
        int width = 0, height = 0;
        const std::string picture =
            AsBytes(store.ReadPicture(directory, faultmodel::kMasterPassword, &width, &height));
        const ModelList entries = StoredEntries();
        CloseVault();
        if (picture != pictureBytes) {
            return Finding::kNoPicture;
        }
        if (entries == faultmodel::StateAfter(done)) {
            return Finding::kBefore;
        }
        if (entries == faultmodel::StateAfter(done + 1)) {
            return Finding::kAfter;
        }
        return Finding::kOtherEntries;
    }

    std::vector<std::string> HelperCommand(int first) {
        return {FAULT_CHILD, directory, std::to_string(first)};
    }
    std::vector<std::string> HelperCommand(const std::string& operation, int event,
                                           const char* how) {
        return {FAULT_CHILD, directory, operation, std::to_string(event), how};
    }
    std::vector<std::string> HelperCommand(int operation, int event, const char* how) {
        return HelperCommand(std::to_string(operation), event, how);
    }

    // Puts the vault file back as it was and removes whatever an earlier round left beside it.
    void Restore(const std::string& file) {
        for (const std::string& name : testsupport::ListFiles(dir.Path())) {
            ::unlink(dir.File(name).c_str());
        }
        testsupport::WriteFile(VaultFile(), file);
    }

    // How a helper stopped at an event ended.
    enum class Outcome { kCompleted, kStopped, kBroken };
    static Outcome Classify(int status, const std::vector<std::string>& lines) {
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            return Outcome::kStopped;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || lines.size() != 1) {
            return Outcome::kBroken;
        }
        if (lines[0].rfind("cut ", 0) == 0) {
            return Outcome::kStopped;
        }
        return lines[0].find(" events ") != std::string::npos ? Outcome::kCompleted
                                                              : Outcome::kBroken;
    }

    std::string pictureBytes;
    std::string emptyVault;  // the file with the picture and no entries
    std::map<Finding, int> findings;
};

// A helper runs the operations one after another and is killed at a random moment; the next
// round goes on from what the vault holds, over and over, through every phase of the run.
TEST_F(FaultInjectionTest, AKillAtARandomMomentLeavesTheStateBeforeOrAfter) {
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 3000);  // microseconds after the first report
    int done = 0;                                       // operations the vault certainly holds
    long operations = 0;
    for (int round = 0; round < kRandomRounds; ++round) {
        ChildProcess helper(HelperCommand(done + 1), dir.File("helper-stderr.txt"));
        std::string line;
        ASSERT_TRUE(helper.ReadLine(line, 20000))
            << "the helper reported nothing: "
            << testsupport::ReadFile(dir.File("helper-stderr.txt"));
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        helper.Kill(SIGKILL);
        const int status = helper.Wait();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the helper ended by itself, status " << status;
        std::vector<std::string> lines = helper.RemainingLines();
        const int reported = std::stoi(lines.empty() ? line : lines.back());
        ASSERT_GT(reported, done);
        operations += reported - done;

        const Finding finding = Examine(reported);
        ++findings[finding];
        ASSERT_TRUE(Acceptable(finding))
            << Describe(finding) << " after a kill during operation " << reported + 1;
        done = finding == Finding::kAfter ? reported + 1 : reported;
    }
    std::printf("fault injection, random kills (seed %u): %d rounds, %ld operations completed\n",
                seed, kRandomRounds, operations);
    for (const auto& [finding, count] : findings) {
        std::printf("  %4d rounds: %s\n", count, Describe(finding));
    }
}

// The stop placed exactly: before each event of an operation (each change of a file, by
// the database library or the program, and each flush), for operations of every kind and
// size of list, and four ways: a kill, a kill in the middle of a write (which can end a
// write of several memory pages part-way), and a power cut, with the names on disk as of the
// folder's last flush or as they stand.
TEST_F(FaultInjectionTest, AStopAtEachEventOfAnOperation) {
    // Additions on the tree's page, into the first and the second overflow page and within
    // them; changes; deletions, the last ones back on the tree's page.
    const std::vector<int> chosen = {1, 11, 12, 30, 44, 60, 80, 110, 118};
    int stops = 0, done = 0;
    for (int n : chosen) {
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
        for (; done < n - 1; ++done) {
            faultmodel::RunOperation(done + 1, store, directory);
        }
        CloseVault();
        const std::string before = testsupport::ReadFile(VaultFile());
        std::string figures;
        for (const char* how : {"", "torn", "cut", "cut-names"}) {
            figures += std::string(" ") + (*how ? how : "kill") + ": ";
            for (int event = 1;; ++event) {
                SCOPED_TRACE("operation " + std::to_string(n) + ", " + how + " at event " +
                             std::to_string(event));
                Restore(before);
                ChildProcess helper(HelperCommand(n, event, how), dir.File("helper-stderr.txt"));
                const int status = helper.Wait();
                const Outcome outcome = Classify(status, helper.RemainingLines());
                ASSERT_NE(outcome, Outcome::kBroken) << "status " << status;
                const Finding finding = Examine(n - 1);
                if (outcome == Outcome::kCompleted) {
                    EXPECT_EQ(finding, Finding::kAfter);
                    break;
                }
                ++stops;
                EXPECT_TRUE(Acceptable(finding)) << Describe(finding);
                if (event == 1) {
                    EXPECT_EQ(finding, Finding::kBefore) << "nothing was changed yet";
                }
                figures += finding == Finding::kBefore  ? 'b'
                           : finding == Finding::kAfter ? 'a'
                                                        : 'X';
            }
        }
        std::printf("  operation %3d:%s\n", n, figures.c_str());
        Restore(before);
    }
    std::printf("  %d stops, every one before or after its operation\n", stops);
}

// A change of the master password, with the backup made before it, stopped before each of
// its events in the same four ways: the vault opens completely under the old password or
// completely under the new one, and once it is under the new one, the backup of the old vault
// is there, byte for byte. A backup is never seen half made.
TEST_F(FaultInjectionTest, AMasterPasswordChangeStoppedAtEachEvent) {
    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
    for (int op = 1; op <= 20; ++op) {
        faultmodel::RunOperation(op, store, directory);
    }
    CloseVault();
    const std::string before = testsupport::ReadFile(VaultFile());
    const ModelList entries = faultmodel::StateAfter(20);
    Ombrix::Data<unsigned char> newPicture;
    faultmodel::MakeRunPicture(newPicture, 2);
    for (const char* how : {"", "torn", "cut", "cut-names"}) {
        for (int event = 1;; ++event) {
            SCOPED_TRACE(std::string(how) + " at event " + std::to_string(event));
            Restore(before);
            ChildProcess helper(HelperCommand("master", event, how), dir.File("helper-stderr.txt"));
            const int status = helper.Wait();
            const Outcome outcome = Classify(status, helper.RemainingLines());
            ASSERT_NE(outcome, Outcome::kBroken) << "status " << status;

            ASSERT_EQ(testsupport::RunCommand({"db5.3_verify", "-q", VaultFile()}), 0);
            Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                                  std::make_unique<Ombrix::DbDevice>());
            const std::string oldPicture = AsBytes(
                store.ReadPicture(directory, faultmodel::kMasterPassword, nullptr, nullptr));
            const bool underOld =
                oldPicture == pictureBytes && StoredEntries(faultmodel::kMasterPassword) == entries;
            const std::string newOne = AsBytes(
                store.ReadPicture(directory, faultmodel::kNewMasterPassword, nullptr, nullptr));
            const bool underNew = newOne == AsBytes(newPicture.m_pBuffer) &&
                                  StoredEntries(faultmodel::kNewMasterPassword) == entries;
            CloseVault();
            EXPECT_TRUE(underOld || underNew);
            const std::vector<std::string> backups =
                testsupport::ListFiles(dir.Path(), "ferrocask_");
            std::vector<std::string> whole;
            for (const std::string& name : backups) {
                if (name.find(".part") == std::string::npos) {
                    EXPECT_TRUE(testsupport::ReadFile(dir.File(name)) == before)
                        << name << " is not the vault as it was";
                    whole.push_back(name);
                }
            }
            if (underNew) {
                EXPECT_EQ(whole.size(), 1u) << "the change was made without its backup";
            }
            for (const std::string& name : backups) {
                ::unlink(dir.File(name).c_str());
            }
            if (outcome == Outcome::kCompleted) {
                EXPECT_TRUE(underNew);
                break;
            }
        }
    }
    Restore(before);
}

}  // namespace
