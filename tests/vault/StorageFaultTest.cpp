// The vault on a full disk, on a disk that fails, and in a folder the user may not write.
// Each operation runs in a child process under the condition (a small file system of its own
// for the full disk, failing system calls for the broken disk, an unprivileged user for the
// read-only folder), and the file it leaves is examined afterwards without the condition:
// every operation either did its work completely and says so, or reports its failure and
// left the vault byte for byte as it was, and the program saw what the disk holds.
#include <db.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#include "framework/DurableFile.h"
#include "support/ChildProcess.h"
#include "vault/VaultTestSupport.h"
#include "vault/VaultUpdate.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "storage1";
const std::string kNewPassword = "storage2";
constexpr off_t kPage = 8192;

// Each entry as "name=password", in stored order.
std::vector<std::string> Describe(VaultStore& vault, const std::string& dir,
                                  const std::string& password) {
    std::vector<std::string> state;
    vault.LoadEntries(dir, password);
    for (const PasswordEntry& entry : vault.m_entries) {
        state.push_back(std::string(FieldText(entry.name)) + "=" +
                        std::string(FieldText(entry.password)));
    }
    vault.m_entries.clear();
    return state;
}

std::string Flag(bool value) {
    return value ? "true" : "false";
}

// What one child saw: the result of its operation and the entries afterwards.
struct ChildView {
    int status = 0;
    std::string result;
    std::vector<std::string> entries;
};

using Operation = std::function<std::string(VaultStore&, const std::string& directory)>;

class StorageFaultTest : public VaultTest {
protected:
    // Runs operation in a child that first applies `restrict`, then reads the entries (under
    // the new master password when the operation reports "true"), and closes the vault as
    // the program does when it ends.
    ChildView RunRestricted(const std::function<void()>& restrict, const Operation& operation) {
        CloseVault();
        const testsupport::ForkResult run = testsupport::RunForked([&] {
            ::alarm(20);  // a child that hangs dies of SIGALRM
            restrict();
            OpenVault();
            VaultStore child;
            const std::string result = operation(child, directory);
            std::string report = result + "\n";
            const std::string& readWith = result == "true" ? kNewPassword : kPassword;
            for (const std::string& entry : Describe(child, directory, readWith)) {
                report += entry + "\n";
            }
            CloseVault();
            return report;
        });
        ChildView view;
        view.status = run.status;
        std::istringstream lines(run.report);
        std::getline(lines, view.result);
        for (std::string entry; std::getline(lines, entry);) {
            view.entries.push_back(entry);
        }
        OpenVault();
        return view;
    }

    // Runs operation in a child on a disk of its own (a size-limited memory file system in a
    // private mount namespace) that holds the vault file and `room` bytes more. The child
    // brings the vault file back out and reports the other files it left on that disk.
    // Needs the right to mount (root); false when the disk could not be made.
    bool RunOnFullDisk(off_t room, const Operation& operation, ChildView& view) {
        const std::string disk = dir.File("disk");
        ::mkdir(disk.c_str(), 0700);
        const off_t size = FileSize(VaultFile());
        CloseVault();
        const testsupport::ForkResult run = testsupport::RunForked([&] {
            ::alarm(20);
            const std::string options = "size=" + std::to_string(size + room);
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", disk.c_str(), "tmpfs", 0, options.c_str()) != 0) {
                return std::string("no disk\n");
            }
            const std::string there = disk + "/";
            if (testsupport::FileExists(VaultFile())) {
                testsupport::WriteFile(VaultFilePath(there), testsupport::ReadFile(VaultFile()));
            }
            OpenVault();
            VaultStore child;
            std::string report = operation(child, there) + "\n";
            CloseVault();
            ::unlink(VaultFile().c_str());
            if (testsupport::FileExists(VaultFilePath(there))) {
                testsupport::WriteFile(VaultFile(), testsupport::ReadFile(VaultFilePath(there)));
            }
            for (const std::string& name : testsupport::ListFiles(disk)) {
                report += name + "\n";
            }
            return report;
        });
        OpenVault();
        view = ChildView{};
        view.status = run.status;
        std::istringstream lines(run.report);
        std::getline(lines, view.result);
        for (std::string name; std::getline(lines, name);) {
            view.entries.push_back(name);
        }
        return view.result != "no disk";
    }

    static off_t FileSize(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
    }

    void CloseVault() { Ombrix::DeviceManager::DestroyInstance(); }
    void OpenVault() {
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
    }

    bool Verified() {
        CloseVault();
        const bool good = testsupport::RunCommand({"db5.3_verify", "-q", VaultFile()}) == 0;
        OpenVault();
        return good;
    }

    std::string Picture(const std::string& password) {
        return AsBytes(store.ReadPicture(directory, password, nullptr, nullptr));
    }
    std::vector<std::string> Entries(const std::string& password) {
        return Describe(store, directory, password);
    }
};

// Every operation at once, reported as the results of VaultExists, ReadPicture,
// SetMasterPassword, GetEntry, AddEntry, ModifyEntry and DeleteEntry.
std::string EveryOperation(VaultStore& vault, const std::string& dir) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 3);
    std::string report = Flag(vault.VaultExists(dir));
    report += " " + Flag(vault.ReadPicture(dir, kPassword, nullptr, nullptr) != nullptr);
    report += " " + Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword));
    PasswordEntry entry = MakePasswordEntry("", "");
    report += " " + Flag(vault.GetEntry(dir, kPassword, "mail", entry));
    report += " " + Flag(vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "1")));
    report += " " + Flag(vault.ModifyEntry(dir, kPassword, MakePasswordEntry("mail", "changed")));
    report += " " + Flag(vault.DeleteEntry(dir, kPassword, MakePasswordEntry("bank", "")));
    return report;
}

#define SKIP_WITHOUT_DISK(ran)                                                           \
    if (!(ran)) {                                                                        \
        GTEST_SKIP() << "a file system of its own cannot be mounted here (root needed)"; \
    }

TEST_F(StorageFaultTest, WithoutRoomForTheVaultNothingIsCreated) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    const Operation firstStart = [&picture](VaultStore& vault, const std::string& dir) {
        std::string report = Flag(vault.VaultExists(dir));
        report += " " + Flag(vault.SetMasterPassword(picture, dir, kPassword, std::nullopt));
        return report;
    };
    // No room for the file at all, then none for the picture in the empty file just made.
    CloseVault();
    ::unlink(VaultFile().c_str());
    OpenVault();
    for (off_t room : {kPage / 2, 3 * kPage}) {
        SCOPED_TRACE(room);
        ChildView view;
        SKIP_WITHOUT_DISK(RunOnFullDisk(room, firstStart, view));
        EXPECT_EQ(view.status, 0);
        EXPECT_EQ(view.result, "false false");
        // Nothing but the vault file, if it could be made at all, and that without records.
        EXPECT_LE(view.entries.size(), 1u) << testing::PrintToString(view.entries);
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
    struct Change {
        const char* what;
        Operation run;
        std::string readWith;  // the master password the vault opens with if it succeeded
        off_t growth;          // the pages the change adds to the file, at most
    };
    const std::vector<Change> changes = {
        {"add",
         [](VaultStore& vault, const std::string& dir) {
             return Flag(vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "a")));
         },
         kPassword, 2 * kPage},
        {"modify",
         [](VaultStore& vault, const std::string& dir) {
             return Flag(vault.ModifyEntry(dir, kPassword, MakePasswordEntry("e3", "changed")));
         },
         kPassword, 2 * kPage},
        {"delete",
         [](VaultStore& vault, const std::string& dir) {
             return Flag(vault.DeleteEntry(dir, kPassword, MakePasswordEntry("e5", "")));
         },
         kPassword, 2 * kPage},
        {"change the master password",
         [](VaultStore& vault, const std::string& dir) {
             Ombrix::Data<unsigned char> picture;
             MakePicture(picture, 2);
             return Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword));
         },
         kNewPassword, 9 * kPage},
    };
    for (int count : {10, 42}) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("e" + std::to_string(i));
        }
        MakeVault(kPassword, names);
        const std::vector<std::string> before = Entries(kPassword);
        CloseVault();
        const std::string original = testsupport::ReadFile(VaultFile());
        const off_t copy = static_cast<off_t>(original.size());
        OpenVault();
        for (const Change& change : changes) {
            // Less than a copy of the file; a copy but a page less than the change can need;
            // room enough.
            for (off_t room : {copy / 2, copy + change.growth - kPage, copy + change.growth}) {
                SCOPED_TRACE(std::string(change.what) + ", " + std::to_string(count) +
                             " entries, room for " + std::to_string(room) + " bytes");
                ChildView view;
                SKIP_WITHOUT_DISK(RunOnFullDisk(room, change.run, view));
                EXPECT_EQ(view.status, 0);
                EXPECT_EQ(view.entries, std::vector<std::string>{"ferrocask.db"})
                    << "the copy was left on the disk";
                EXPECT_TRUE(Verified());
                const std::string after = testsupport::ReadFile(VaultFile());
                if (room < copy) {
                    EXPECT_EQ(view.result, "false");
                }
                if (room >= copy + change.growth) {
                    EXPECT_EQ(view.result, "true");
                }
                if (view.result == "true") {
                    const std::string what = change.what;
                    const std::vector<std::string> entries = Entries(change.readWith);
                    EXPECT_EQ(Picture(change.readWith).size(),
                              static_cast<std::size_t>(kPictureBytes));
                    EXPECT_EQ(entries.size(), before.size() + (what == "add") - (what == "delete"));
                    EXPECT_EQ(entries == before, change.readWith != kPassword);
                } else {
                    EXPECT_EQ(view.result, "false");
                    EXPECT_TRUE(after == original) << "a failed change altered the vault";
                }
                CloseVault();
                testsupport::WriteFile(VaultFile(), original);
                OpenVault();
            }
        }
        CloseVault();
        ::unlink(VaultFile().c_str());
        OpenVault();
    }
}

// The disk fails (an I/O error) at one write of a change, for each write the change makes in
// turn: the change is reported as failed and the vault is as it was, or (once the failing
// write comes after the last) the change is done.
TEST_F(StorageFaultTest, AnIoErrorAtAnyWriteLeavesTheVaultAsItWas) {
    MakeVault(kPassword, {"mail", "bank"});
    CloseVault();
    const std::string original = testsupport::ReadFile(VaultFile());
    OpenVault();
    const std::string picture = Picture(kPassword);
    for (int failing = 1;; ++failing) {
        SCOPED_TRACE("write " + std::to_string(failing) + " fails");
        const ChildView view = RunRestricted(
            [failing] {
                static int writes = 0;
                static int failAt = 0;
                failAt = failing;
                db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
                    if (++writes == failAt) {
                        errno = EIO;
                        return ssize_t{-1};
                    }
                    return ::pwrite(fd, data, size, offset);
                });
                db_env_set_func_write([](int fd, const void* data, size_t size) {
                    if (++writes == failAt) {
                        errno = EIO;
                        return ssize_t{-1};
                    }
                    return ::write(fd, data, size);
                });
                Ombrix::DurableFileCalls().write = [](int fd, const void* data, size_t size) {
                    if (++writes == failAt) {
                        errno = EIO;
                        return ssize_t{-1};
                    }
                    return ::write(fd, data, size);
                };
            },
            [](VaultStore& vault, const std::string& dir) {
                Ombrix::Data<unsigned char> newPicture;
                MakePicture(newPicture, 2);
                return Flag(vault.SetMasterPassword(newPicture, dir, kNewPassword, kPassword));
            });
        EXPECT_EQ(view.status, 0);
        EXPECT_TRUE(Verified());
        EXPECT_FALSE(testsupport::FileExists(VaultUpdate::CopyPath(directory)));
        if (view.result == "true") {
            EXPECT_EQ(Entries(kNewPassword),
                      (std::vector<std::string>{"mail=pw-mail", "bank=pw-bank"}));
            EXPECT_GT(failing, 1);
            break;
        }
        EXPECT_EQ(view.result, "false");
        EXPECT_TRUE(testsupport::ReadFile(VaultFile()) == original);
        EXPECT_EQ(Picture(kPassword), picture);
        EXPECT_EQ(view.entries, (std::vector<std::string>{"mail=pw-mail", "bank=pw-bank"}));
        ASSERT_LT(failing, 100);
    }
}

// The program folder (and the vault in it) cannot be written by the user: every operation
// reports its failure, nothing crashes, and nothing in the folder changes. Root may write
// anywhere, so the child then runs as the unprivileged user "nobody".
TEST_F(StorageFaultTest, InAReadOnlyFolderEveryOperationFailsAndNothingChanges) {
    const auto asUnprivilegedUser = [] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            std::_Exit(5);
        }
    };
    // A folder without a vault, then one with a vault.
    for (bool withVault : {false, true}) {
        SCOPED_TRACE(withVault ? "with a vault" : "without a vault");
        if (withVault) {
            MakeVault(kPassword, {"mail", "bank"});
        }
        CloseVault();
        const std::string content = withVault ? testsupport::ReadFile(VaultFile()) : "";
        if (withVault) {
            ASSERT_EQ(::chmod(VaultFile().c_str(), 0444), 0);
        }
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
        const ChildView view = RunRestricted(asUnprivilegedUser, EveryOperation);
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);

        // A vault that cannot be written can still be opened and read.
        EXPECT_EQ(view.status, 0);
        EXPECT_EQ(view.result, withVault ? "true true false true false false false"
                                         : "false false false false false false false");
        EXPECT_EQ(view.entries.size(), withVault ? 2u : 0u);
        EXPECT_EQ(testsupport::ListFiles(dir.Path()), withVault
                                                          ? std::vector<std::string>{"ferrocask.db"}
                                                          : std::vector<std::string>{});
        if (withVault) {
            EXPECT_EQ(testsupport::ReadFile(VaultFile()), content);
            EXPECT_EQ(Entries(kPassword),
                      (std::vector<std::string>{"mail=pw-mail", "bank=pw-bank"}));
        }
    }
}

}  // namespace
