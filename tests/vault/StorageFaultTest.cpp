// The vault on a full disk, on a disk that fails, and in a folder the user may not write:
// each operation runs in a child process under the condition and either does its work
// completely and says so, or reports its failure and leaves the vault byte for byte as it was.
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
    // Runs operation in a child (dead of SIGALRM if it hangs) after `restrict`, on the folder
    // `restrict` returns; the report is the result, then `after`'s text.
    testsupport::ForkResult RunChild(const std::function<std::string()>& restrict,
                                     const Operation& operation,
                                     const std::function<std::string()>& after = {}) {
        CloseDevice();
        const testsupport::ForkResult run = testsupport::RunForked([&] {
            ::alarm(20);
            const std::string folder = restrict();
            if (folder.empty()) {
                return std::string("no disk");
            }
            OpenDevice();
            VaultStore child;
            const std::string result = operation(child, folder) + "\n";
            CloseDevice();
            return result + (after ? after() : "");
        });
        OpenDevice();
        return run;
    }
    // Runs operation on a disk of its own (a size-limited tmpfs in a private mount namespace)
    // that holds the vault file and `room` bytes more, and brings the vault file back; the
    // report ends with the files left on that disk. Mounting needs root: false without it.
    bool RunOnFullDisk(off_t room, const Operation& operation, testsupport::ForkResult& run) {
        const std::string disk = dir.File("disk"), there = disk + "/";
        ::mkdir(disk.c_str(), 0700);
        const std::string options = "size=" + std::to_string(VaultBytes().size() + room);
        const auto mount = [&] {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", disk.c_str(), "tmpfs", 0, options.c_str()) != 0) {
                return std::string();
            }
            if (testsupport::FileExists(VaultFile())) {
                testsupport::WriteFile(VaultFilePath(there), VaultBytes());
            }
            return there;
        };
        run = RunChild(mount, operation, [&] {
            ::unlink(VaultFile().c_str());
            if (testsupport::FileExists(VaultFilePath(there))) {
                testsupport::WriteFile(VaultFile(), testsupport::ReadFile(VaultFilePath(there)));
            }
            std::string files;
            for (const std::string& name : testsupport::ListFiles(disk)) {
                files += name + "\n";
            }
            return files;
        });
        return run.report != "no disk";
    }
    void PutBack(const std::string& content) {
        CloseDevice();
        ::unlink(VaultFile().c_str());
        if (!content.empty()) {
            testsupport::WriteFile(VaultFile(), content);
        }
        OpenDevice();
    }
};

#define SKIP_WITHOUT_DISK(ran)                                                      \
    if (!(ran)) {                                                                   \
        GTEST_SKIP() << "a file system of its own cannot be mounted (root needed)"; \
    }

// No room for the vault file, then none for the picture in the empty file just made: the
// first start fails and leaves nothing that would pass for a vault.
TEST_F(StorageFaultTest, WithoutRoomForTheVaultNothingIsCreated) {
    const Operation firstStart = [](VaultStore& vault, const std::string& dir) {
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        return Flag(vault.VaultExists(dir)) +
               Flag(vault.SetMasterPassword(picture, dir, kPassword, std::nullopt));
    };
    for (off_t room : {kPage / 2, 3 * kPage}) {
        testsupport::ForkResult run;
        SKIP_WITHOUT_DISK(RunOnFullDisk(room, firstStart, run));
        EXPECT_EQ(run.report.substr(0, 13), "false false \n") << room;
        EXPECT_LE(std::count(run.report.begin(), run.report.end(), '\n'), 2) << run.report;
        EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kNoVault);
    }
}

// Every kind of change on a disk with a given room, from lists just below the sizes at which
// the list needs one more page (it leaves the tree's page at 11 entries and needs a second
// page at 43). A change is made in a copy of the file: a disk with room for that copy and its
// growth takes it, a smaller one leaves the vault as it was.
TEST_F(StorageFaultTest, OnAFullDiskAChangeIsMadeCompletelyOrNotAtAll) {
    for (int count : {10, 42}) {
        PutBack("");
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
                testsupport::ForkResult run;
                SKIP_WITHOUT_DISK(RunOnFullDisk(room, change, run));
                const bool done = run.report == "true \nferrocask.db\n";
                EXPECT_TRUE(done || run.report == "false \nferrocask.db\n") << run.report;
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
                PutBack(original);
            }
        }
    }
}

// Counts this process's writes and fails the one numbered g_failAt with EIO.
int g_writes = 0, g_failAt = 0;

bool FailThisWrite() {
    errno = EIO;
    return ++g_writes == g_failAt;
}

ssize_t FailingWrite(int fd, const void* data, size_t size) {
    return FailThisWrite() ? -1 : ::write(fd, data, size);
}

// The disk fails at one write of a master-password change, for each of its writes in turn:
// the change fails and leaves the vault, or (the failing write past the last) is done.
TEST_F(StorageFaultTest, AnIoErrorAtAnyWriteLeavesTheVaultAsItWas) {
    MakeVault(kPassword, {"mail", "bank"});
    RestartDevice();
    const std::string original = VaultBytes();
    for (int failing = 1;; ++failing) {
        SCOPED_TRACE("write " + std::to_string(failing) + " fails");
        const auto failAtWrite = [&] {
            g_failAt = failing;
            db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
                return FailThisWrite() ? -1 : ::pwrite(fd, data, size, offset);
            });
            db_env_set_func_write(FailingWrite);
            Ombrix::DurableFileCalls().write = FailingWrite;
            return directory;
        };
        const std::string result = RunChild(failAtWrite, ChangeMasterPassword).report;
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

// The program folder and the vault in it cannot be written by the user (the child runs as
// "nobody", as root may write anywhere): every change reports its failure and nothing in the
// folder changes; a vault can still be read.
TEST_F(StorageFaultTest, InAReadOnlyFolderEveryOperationFailsAndNothingChanges) {
    const auto asUnprivilegedUser = [&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            std::_Exit(5);
        }
        return directory;
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
        const testsupport::ForkResult run = RunChild(asUnprivilegedUser, everyOperation);
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);
        EXPECT_EQ(run.report, withVault ? "true true false true false false false \n"
                                        : "false false false false false false false \n");
        EXPECT_EQ(testsupport::ListFiles(dir.Path()),
                  withVault ? Strings{"ferrocask.db"} : Strings{});
        EXPECT_EQ(VaultBytes(), content);
    }
}

}  // namespace
