// The vault on a full disk, on a disk that fails, and in a folder the user may not write.
// Each operation runs in a child process under the condition (a small file system of its own
// for the full disk, failing system calls for the broken disk, an unprivileged user for the
// read-only folder), and the file it leaves is examined afterwards without the condition:
// every operation either did its work completely and says so, or reports its failure and
// left the vault byte for byte as it was, and the program saw what the disk holds.
#include <db.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "framework/DurableFile.h"
#include "vault/VaultTestSupport.h"
#include "vault/VaultUpdate.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "storage1";
const std::string kNewPassword = "storage2";
constexpr off_t kPage = 8192;

std::string Flag(bool value) {
    return value ? "true" : "false";
}

using Operation = std::function<std::string(VaultStore&, const std::string& directory)>;

class StorageFaultTest : public VaultTest {
protected:
    testsupport::ForkResult RunChild(const std::function<std::string()>& body) {
        CloseDevice();
        const testsupport::ForkResult run = testsupport::RunForked([&] {
            ::alarm(20);  // a child that hangs dies of SIGALRM
            return body();
        });
        OpenDevice();
        return run;
    }

    // Runs operation in a child that first applies `restrict`; it reports the result, then
    // the entries it reads afterwards (under the new master password after a "true").
    testsupport::ForkResult RunRestricted(const std::function<void()>& restrict,
                                          const Operation& operation) {
        return RunChild([&] {
            restrict();
            OpenDevice();
            VaultStore child;
            const std::string result = operation(child, directory);
            std::string report = result + "\n";
            for (const std::string& entry : vaulttest::Entries(
                     child, directory, result == "true" ? kNewPassword : kPassword)) {
                report += entry + "\n";
            }
            CloseDevice();  // as the program does when it ends
            return report;
        });
    }

    // Runs operation in a child on a disk of its own (a size-limited memory file system in a
    // private mount namespace) that holds the vault file and `room` bytes more. The child
    // brings the vault file back out and reports the result, then the files left on that
    // disk. Needs the right to mount (root); false when the disk could not be made.
    bool RunOnFullDisk(off_t room, const Operation& operation, testsupport::ForkResult& run) {
        const std::string disk = dir.File("disk"), there = disk + "/";
        ::mkdir(disk.c_str(), 0700);
        const std::size_t size = testsupport::ReadFile(VaultFile()).size();
        run = RunChild([&] {
            const std::string options = "size=" + std::to_string(size + room);
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", disk.c_str(), "tmpfs", 0, options.c_str()) != 0) {
                return std::string("no disk");
            }
            if (testsupport::FileExists(VaultFile())) {
                testsupport::WriteFile(VaultFilePath(there), testsupport::ReadFile(VaultFile()));
            }
            OpenDevice();
            VaultStore child;
            std::string report = operation(child, there) + "\n";
            CloseDevice();
            ::unlink(VaultFile().c_str());
            if (testsupport::FileExists(VaultFilePath(there))) {
                testsupport::WriteFile(VaultFile(), testsupport::ReadFile(VaultFilePath(there)));
            }
            for (const std::string& name : testsupport::ListFiles(disk)) {
                report += name + "\n";
            }
            return report;
        });
        return run.report != "no disk";
    }

    // Puts the vault file back to content (none when empty).
    void PutBack(const std::string& content) {
        CloseDevice();
        ::unlink(VaultFile().c_str());
        if (!content.empty()) {
            testsupport::WriteFile(VaultFile(), content);
        }
        OpenDevice();
    }
};

// A change of the master password to kNewPassword with a picture of seed 2.
std::string ChangeMasterPassword(VaultStore& vault, const std::string& dir) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    return Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword));
}

#define SKIP_WITHOUT_DISK(ran)                                                           \
    if (!(ran)) {                                                                        \
        GTEST_SKIP() << "a file system of its own cannot be mounted here (root needed)"; \
    }

// No room for the vault file at all, then none for the picture in the empty file just made:
// the first start fails and leaves nothing that would pass for a vault.
TEST_F(StorageFaultTest, WithoutRoomForTheVaultNothingIsCreated) {
    const Operation firstStart = [](VaultStore& vault, const std::string& dir) {
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        return Flag(vault.VaultExists(dir)) + " " +
               Flag(vault.SetMasterPassword(picture, dir, kPassword, std::nullopt));
    };
    for (off_t room : {kPage / 2, 3 * kPage}) {
        SCOPED_TRACE(room);
        testsupport::ForkResult run;
        SKIP_WITHOUT_DISK(RunOnFullDisk(room, firstStart, run));
        EXPECT_EQ(run.status, 0);
        // One file at most, and none that passes for a vault.
        EXPECT_EQ(run.report.substr(0, 12), "false false\n");
        EXPECT_LE(std::count(run.report.begin(), run.report.end(), '\n'), 2) << run.report;
        EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kNoVault);
        EXPECT_TRUE(Verified());
    }
    MakeVault(kPassword, {"a"});
    EXPECT_EQ(Entries(kPassword), std::vector<std::string>{"a=pw-a"});
}

// Every kind of change on a disk that holds the vault and a given room more, from lists just
// below the sizes at which the stored list needs one more page of the file (it leaves the
// tree's page at 11 entries and needs a second page of its own at 43). A change is made in a
// copy of the file, so it needs room for that copy and its growth, and no more: a disk with
// that room takes it, a smaller one leaves the vault as it was.
TEST_F(StorageFaultTest, OnAFullDiskAChangeIsMadeCompletelyOrNotAtAll) {
    for (int count : {10, 42}) {
        PutBack("");
        MakeVault(kPassword, Numbered("e", count));
        const std::vector<std::string> before = Entries(kPassword);
        RestartDevice();
        const std::string original = testsupport::ReadFile(VaultFile());
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
            // Less than a copy of the file; a copy but a page less than the change can need;
            // room enough.
            for (off_t room : {copy / 2, copy + growth - kPage, copy + growth}) {
                SCOPED_TRACE(what + ", " + std::to_string(count) + " entries, room for " +
                             std::to_string(room) + " bytes");
                testsupport::ForkResult run;
                SKIP_WITHOUT_DISK(RunOnFullDisk(room, change, run));
                EXPECT_EQ(run.status, 0);
                const bool done = run.report == "true\nferrocask.db\n";
                EXPECT_TRUE(done || run.report == "false\nferrocask.db\n")
                    << run.report << "(a copy left on the disk?)";
                EXPECT_TRUE(Verified());
                if (room < copy || room >= copy + growth) {
                    EXPECT_EQ(done, room >= copy);
                }
                if (done) {
                    const std::string& readWith = what == "master" ? kNewPassword : kPassword;
                    const std::vector<std::string> entries = Entries(readWith);
                    EXPECT_EQ(Picture(readWith).size(), static_cast<std::size_t>(kPictureBytes));
                    EXPECT_EQ(entries.size(), before.size() + (what == "add") - (what == "delete"));
                    EXPECT_EQ(entries == before, what == "master");
                } else {
                    EXPECT_TRUE(testsupport::ReadFile(VaultFile()) == original)
                        << "a failed change altered the vault";
                }
                PutBack(original);
            }
        }
    }
}

// Counts the writes of this process and fails the one numbered g_failAt with EIO.
int g_writes = 0;
int g_failAt = 0;

bool FailThisWrite() {
    if (++g_writes != g_failAt) {
        return false;
    }
    errno = EIO;
    return true;
}

ssize_t FailingWrite(int fd, const void* data, size_t size) {
    return FailThisWrite() ? -1 : ::write(fd, data, size);
}

// The disk fails (an I/O error) at one write of a master-password change, for each write the
// change makes in turn: the change is reported as failed and the vault is as it was, or (once
// the failing write comes after the last) the change is done.
TEST_F(StorageFaultTest, AnIoErrorAtAnyWriteLeavesTheVaultAsItWas) {
    MakeVault(kPassword, {"mail", "bank"});
    RestartDevice();
    const std::string original = testsupport::ReadFile(VaultFile());
    const std::string picture = Picture(kPassword);
    for (int failing = 1;; ++failing) {
        SCOPED_TRACE("write " + std::to_string(failing) + " fails");
        const auto failAtWrite = [failing] {
            g_failAt = failing;
            db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
                return FailThisWrite() ? -1 : ::pwrite(fd, data, size, offset);
            });
            db_env_set_func_write(FailingWrite);
            Ombrix::DurableFileCalls().write = FailingWrite;
        };
        const testsupport::ForkResult run = RunRestricted(failAtWrite, ChangeMasterPassword);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(Verified());
        EXPECT_FALSE(testsupport::FileExists(VaultUpdate::CopyPath(directory)));
        if (run.report == "true\nmail=pw-mail\nbank=pw-bank\n") {
            EXPECT_EQ(Entries(kNewPassword),
                      (std::vector<std::string>{"mail=pw-mail", "bank=pw-bank"}));
            EXPECT_GT(failing, 1);
            break;
        }
        EXPECT_EQ(run.report, "false\nmail=pw-mail\nbank=pw-bank\n");
        EXPECT_TRUE(testsupport::ReadFile(VaultFile()) == original);
        EXPECT_EQ(Picture(kPassword), picture);
        ASSERT_LT(failing, 100);
    }
}

// The program folder (and the vault in it) cannot be written by the user: every operation
// (VaultExists, ReadPicture, SetMasterPassword, GetEntry, AddEntry, ModifyEntry and
// DeleteEntry) reports its failure, nothing crashes, and nothing in the folder changes; a
// vault can still be opened and read. Root may write anywhere, so the child then runs as the
// unprivileged user "nobody".
TEST_F(StorageFaultTest, InAReadOnlyFolderEveryOperationFailsAndNothingChanges) {
    const auto asUnprivilegedUser = [] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            std::_Exit(5);
        }
    };
    const Operation everyOperation = [](VaultStore& vault, const std::string& dir) {
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 3);
        PasswordEntry entry = MakePasswordEntry("", "");
        return Flag(vault.VaultExists(dir)) + " " +
               Flag(vault.ReadPicture(dir, kPassword, nullptr, nullptr) != nullptr) + " " +
               Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword)) + " " +
               Flag(vault.GetEntry(dir, kPassword, "mail", entry)) + " " +
               Flag(vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "1"))) + " " +
               Flag(vault.ModifyEntry(dir, kPassword, MakePasswordEntry("mail", "changed"))) + " " +
               Flag(vault.DeleteEntry(dir, kPassword, MakePasswordEntry("bank", "")));
    };
    for (bool withVault : {false, true}) {
        SCOPED_TRACE(withVault ? "with a vault" : "without a vault");
        if (withVault) {
            MakeVault(kPassword, {"mail", "bank"});
            RestartDevice();
            ASSERT_EQ(::chmod(VaultFile().c_str(), 0444), 0);
        }
        const std::string content = testsupport::ReadFile(VaultFile());
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
        const testsupport::ForkResult run = RunRestricted(asUnprivilegedUser, everyOperation);
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.report, withVault ? "true true false true false false false\n"
                                          "mail=pw-mail\nbank=pw-bank\n"
                                        : "false false false false false false false\n");
        EXPECT_EQ(testsupport::ListFiles(dir.Path()), withVault
                                                          ? std::vector<std::string>{"ferrocask.db"}
                                                          : std::vector<std::string>{});
        EXPECT_EQ(testsupport::ReadFile(VaultFile()), content);
    }
    EXPECT_EQ(Entries(kPassword), (std::vector<std::string>{"mail=pw-mail", "bank=pw-bank"}));
}

}  // namespace
