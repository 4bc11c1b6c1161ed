// A process changing the vault is killed, or the power fails: the vault must pass the
// verifier and be exactly as before or after the operation. On a full or failing disk or in a
// read-only folder, an operation does its work completely or fails and changes nothing.
#include <db.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "framework/DurableFile.h"
#include "vault/VaultTestSupport.h"
#include "vault/VaultUpdate.h"

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
        const auto after = [&](int n) {
            return Holds(kMasterPassword, 1, faultmodel::StateAfter(n));
        };
        const std::string finding = !Verified()       ? "rejected by db_verify"
                                    : after(done)     ? kBefore
                                    : after(done + 1) ? kAfter
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

const std::string kPassword = "storage1", kNewPassword = "storage2";
constexpr off_t kPage = 8192;

std::string Flag(bool value) {
    return value ? "true " : "false ";
}

using Operation = std::function<std::string(VaultStore&, const std::string& directory)>;

std::string ChangeMasterPassword(VaultStore& vault, const std::string& dir) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    return Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword));
}

class StorageFaultTest : public VaultTest {
protected:
    // The report is the operation's result, then `after`'s text.
    std::string RunChild(const std::function<bool()>& restrict, const Operation& operation,
                         const std::function<std::string()>& after = {}) {
        CloseDevice();
        const testsupport::ForkResult run = testsupport::RunForked([&] {
            ::alarm(20);  // a child that hangs dies
            if (!restrict()) {
                return std::string("not restricted");
            }
            OpenDevice();
            VaultStore child;
            const std::string result = operation(child, directory) + "\n";
            CloseDevice();
            return result + (after ? after() : "");
        });
        OpenDevice();
        return run.report;
    }
    // On a tmpfs over the program folder, in a private mount namespace, with `room` bytes
    // beside the vault; the report ends with the files left. False without root.
    bool RunOnFullDisk(off_t room, const Operation& operation, std::string& report) {
        const std::string vault = VaultBytes();
        const std::string options = "size=" + std::to_string(vault.size() + room);
        const auto mount = [&] {
            return ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
        };
        report = RunChild(
            mount,
            [&](VaultStore& child, const std::string& folder) {
                testsupport::WriteFile(VaultFile(), vault);
                return operation(child, folder);
            },
            [&] {
                std::string files;
                for (const std::string& name : testsupport::ListFiles(dir.Path())) {
                    files += name + "\n";
                }
                return files + "\f" + VaultBytes();
            });
        const std::size_t end = report.find('\f');
        if (end != std::string::npos) {
            Replace(report.substr(end + 1));
            report.resize(end);
        }
        return report != "not restricted";
    }
};

// From lists just below the sizes that need one more page (11 and 43 entries). A change is
// made in a copy of the file, so it needs room for that copy and its growth.
TEST_F(StorageFaultTest, OnAFullDiskAChangeIsMadeCompletelyOrNotAtAll) {
    for (int count : {10, 42}) {
        Replace("");
        MakeVault(kPassword, {}, count);
        const Strings before = Entries(kPassword);
        RestartDevice();
        const std::string original = VaultBytes();
        const off_t copy = static_cast<off_t>(original.size());
        for (const std::string what : {"add", "modify", "delete", "master"}) {
            const off_t growth = (what == "master" ? 9 : 2) * kPage;  // at most
            const Operation change = [&what](VaultStore& vault, const std::string& dir) {
                const PasswordEntry entry = MakePasswordEntry(what == "add" ? "added" : "e3", "x");
                return what == "add"      ? Flag(vault.AddEntry(dir, kPassword, entry))
                       : what == "modify" ? Flag(vault.ModifyEntry(dir, kPassword, entry))
                       : what == "delete" ? Flag(vault.DeleteEntry(dir, kPassword, entry))
                                          : ChangeMasterPassword(vault, dir);
            };
            // Less than a copy; a copy but a page less than the change can need; enough.
            for (off_t room : {copy / 2, copy + growth - kPage, copy + growth}) {
                SCOPED_TRACE(what + ", " + std::to_string(count) + " entries, room " +
                             std::to_string(room));
                std::string report;
                if (!RunOnFullDisk(room, change, report)) {
                    GTEST_SKIP() << "a file system of its own cannot be mounted (root needed)";
                }
                const bool done = report == "true \nferrocask.db\n";
                EXPECT_TRUE(done || report == "false \nferrocask.db\n") << report;
                EXPECT_TRUE(Verified());
                if (room < copy || room >= copy + growth) {
                    EXPECT_EQ(done, room >= copy);
                }
                if (done) {
                    const std::string& readWith = what == "master" ? kNewPassword : kPassword;
                    const Strings entries = Entries(readWith);
                    EXPECT_EQ(Picture(readWith).size(), static_cast<std::size_t>(kPictureBytes));
                    EXPECT_EQ(entries.size(), before.size() + (what == "add") - (what == "delete"));
                    EXPECT_EQ(entries == before, what == "master");
                } else {
                    EXPECT_TRUE(VaultBytes() == original) << "a failed change altered the vault";
                }
                Replace(original);
            }
        }
    }
}

int g_writesLeft = 0;  // the write after this many fails with an I/O error

ssize_t FailingWrite(int fd, const void* data, size_t size) {
    return --g_writesLeft == 0 ? (errno = EIO, -1) : ::write(fd, data, size);
}

TEST_F(StorageFaultTest, AnIoErrorAtAnyWriteLeavesTheVaultAsItWas) {
    MakeVault(kPassword, {"mail", "bank"});
    RestartDevice();
    const std::string original = VaultBytes();
    for (int failing = 1;; ++failing) {
        SCOPED_TRACE("write " + std::to_string(failing) + " fails");
        const auto failAtWrite = [&] {
            g_writesLeft = failing;
            db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
                return --g_writesLeft == 0 ? (errno = EIO, -1) : ::pwrite(fd, data, size, offset);
            });
            db_env_set_func_write(FailingWrite);
            Ombrix::DurableFileCalls().write = FailingWrite;
            return true;
        };
        const std::string result = RunChild(failAtWrite, ChangeMasterPassword);
        EXPECT_TRUE(Verified());
        EXPECT_FALSE(testsupport::FileExists(VaultUpdate::CopyPath(directory)));
        if (result == "true \n") {
            EXPECT_EQ(Entries(kNewPassword), (Strings{"mail=pw-mail", "bank=pw-bank"}));
            EXPECT_GT(failing, 1);
            break;
        }
        EXPECT_EQ(result, "false \n");
        EXPECT_TRUE(VaultBytes() == original);
        ASSERT_LT(failing, 100);
    }
}

// The child runs as "nobody", as root may write anywhere.
TEST_F(StorageFaultTest, InAReadOnlyFolderEveryOperationFailsAndNothingChanges) {
    const auto asUnprivilegedUser = [] {
        return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
    };
    const Operation everyOperation = [](VaultStore& vault, const std::string& dir) {
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 3);
        PasswordEntry entry = MakePasswordEntry("", "");
        return Flag(vault.VaultExists(dir)) +
               Flag(vault.ReadPicture(dir, kPassword, nullptr, nullptr) != nullptr) +
               Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword)) +
               Flag(vault.GetEntry(dir, kPassword, "mail", entry)) +
               Flag(vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "1"))) +
               Flag(vault.ModifyEntry(dir, kPassword, MakePasswordEntry("mail", "changed"))) +
               Flag(vault.DeleteEntry(dir, kPassword, MakePasswordEntry("bank", "")));
    };
    for (bool withVault : {false, true}) {
        if (withVault) {
            MakeVault(kPassword, {"mail", "bank"});
            RestartDevice();
            ASSERT_EQ(::chmod(VaultFile().c_str(), 0444), 0);
        }
        const std::string content = VaultBytes();
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
        const std::string report = RunChild(asUnprivilegedUser, everyOperation);
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);
        EXPECT_EQ(report, withVault ? "true true false true false false false \n"
                                    : "false false false false false false false \n");
        EXPECT_EQ(testsupport::ListFiles(dir.Path()),
                  withVault ? Strings{"ferrocask.db"} : Strings{});
        EXPECT_EQ(VaultBytes(), content);
    }
}
}  // namespace
