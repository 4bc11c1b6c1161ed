// A process that changes the vault is killed (SIGKILL) in the middle of its work, and the file
// it leaves is examined: it must pass the Berkeley DB verifier, show the picture under the
// master password and hold the entries as they were just before or just after the operation
// that was interrupted.
//
// The vault writes without a log: each change is made in the database's cache and then
// flushed page by page, and a change that frees the file's last page cuts the file at once,
// before the flush. A kill after the cut or between two page writes leaves pages of two
// different states in the file, and a kill can even end a single page write part-way. The
// tests therefore count and print the rounds that end in such a state instead of failing on
// them; they fail when the helper itself misbehaves, or when a kill before the first change
// of the file or after the last leaves anything but the state before or after.
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

    ModelList StoredEntries() {
        ModelList list;
        store.LoadEntries(directory, faultmodel::kMasterPassword);
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

    // Replaces a damaged vault by a sound one holding the state after operation n, made from
    // a sound file of an earlier state, so that the run goes on where it was.
    void RebuildVault(const std::string& earlierFile, int earlier, int n) {
        testsupport::WriteFile(VaultFile(), earlierFile);
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
        for (int op = earlier + 1; op <= n; ++op) {
            faultmodel::RunOperation(op, store, directory);
        }
        CloseVault();
    }

    std::vector<std::string> HelperCommand(int first) {
        return {FAULT_CHILD, directory, std::to_string(first)};
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
    std::string soundFile = emptyVault;  // the file as it was when done was last known
    int soundDone = 0;
    long operations = 0;
    std::map<std::string, int> failures;  // by the kind of operation interrupted
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
        if (Acceptable(finding)) {
            done = finding == Finding::kAfter ? reported + 1 : reported;
        } else {
            const auto kind =
                faultmodel::OperationAt(reported + 1, faultmodel::StateAfter(reported)).kind;
            ++failures[kind == faultmodel::Operation::kAdd      ? "add"
                       : kind == faultmodel::Operation::kModify ? "modify"
                                                                : "delete"];
            RebuildVault(soundFile, soundDone, reported);
            done = reported;
        }
        soundFile = testsupport::ReadFile(VaultFile());
        soundDone = done;
    }
    std::printf("fault injection, random kills (seed %u): %d rounds, %ld operations completed\n",
                seed, kRandomRounds, operations);
    for (const auto& [finding, count] : findings) {
        std::printf("  %4d rounds: %s\n", count, Describe(finding));
    }
    int failed = 0;
    for (const auto& [kind, count] : failures) {
        std::printf("  %4d failed rounds interrupted an operation \"%s\"\n", count, kind.c_str());
        failed += count;
    }
    RecordProperty("rounds", kRandomRounds);
    RecordProperty("failed_rounds", failed);
}

// The same kills placed exactly: before each change of the database file that an operation
// makes (a write of a page, or the truncation when the database frees its last page), and
// in the middle of each write (a kill can end a write of several memory pages part-way),
// for operations of every kind and size of list.
TEST_F(FaultInjectionTest, AKillAtEachChangeOfTheFile) {
    // Additions on the tree's page, into the first and the second overflow page and within
    // them; changes; deletions, the last ones back on the tree's page.
    const std::vector<int> chosen = {3, 11, 12, 30, 44, 60, 80, 110, 118};
    int failed = 0, kills = 0, done = 0;
    std::printf(
        "fault injection, kills at each change of the file "
        "(b: state before, a: after, X: damaged or mixed):\n");
    for (int n : chosen) {
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
        for (; done < n - 1; ++done) {
            faultmodel::RunOperation(done + 1, store, directory);
        }
        CloseVault();
        const std::string before = testsupport::ReadFile(VaultFile());
        std::string figures;
        bool completed = false;
        for (int change = 1; !completed; ++change) {
            for (const char* how : {"", "torn"}) {
                testsupport::WriteFile(VaultFile(), before);
                std::vector<std::string> command = HelperCommand(n);
                command.push_back(std::to_string(change));
                command.push_back(how);
                ChildProcess helper(command, dir.File("helper-stderr.txt"));
                const int status = helper.Wait();
                if (WIFEXITED(status)) {
                    // The operation made fewer changes: it ran to its end.
                    ASSERT_EQ(WEXITSTATUS(status), 0);
                    EXPECT_EQ(helper.RemainingLines().size(), 1u);
                    EXPECT_EQ(Examine(n - 1), Finding::kAfter) << "operation " << n;
                    completed = true;
                    break;
                }
                ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
                ++kills;
                const Finding finding = Examine(n - 1);
                if (change == 1 && *how == '\0') {
                    EXPECT_EQ(finding, Finding::kBefore) << "nothing was changed yet";
                }
                failed += Acceptable(finding) ? 0 : 1;
                figures += finding == Finding::kBefore  ? 'b'
                           : finding == Finding::kAfter ? 'a'
                                                        : 'X';
            }
            figures += ' ';
        }
        std::printf("  operation %3d (%s): %s\n", n,
                    faultmodel::OperationAt(n, faultmodel::StateAfter(n - 1)).kind ==
                            faultmodel::Operation::kAdd
                        ? "add   "
                        : "change",
                    figures.c_str());
        testsupport::WriteFile(VaultFile(), before);
    }
    std::printf("  %d kills, %d left a damaged or mixed vault\n", kills, failed);
    RecordProperty("kills_at_changes", kills);
    RecordProperty("failed_kills_at_changes", failed);
}

}  // namespace
