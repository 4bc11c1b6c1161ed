// The vault on a full disk and in a folder the user may not write. Each operation runs in a
// child process under the condition (a file size limit stands in for the full disk, an
// unprivileged user for the read-only folder), and the file it leaves is examined afterwards
// without the condition: every operation either did its work completely or reports its
// failure and left the vault as it was, and the program saw what the disk holds.
#include <db.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#include "support/ChildProcess.h"
#include "vault/VaultTestSupport.h"

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

    // A child that may make no file larger than the vault file is now plus `slack` bytes, as
    // on a full disk: writes within the file succeed, writes that extend it fail.
    ChildView RunOnFullDisk(off_t slack, const Operation& operation) {
        struct stat info {};
        const off_t size = ::stat(VaultFile().c_str(), &info) == 0 ? info.st_size : 0;
        return RunRestricted(
            [limit = size + slack] {
                ::signal(SIGXFSZ, SIG_IGN);
                rlimit fileSize{};
                ::getrlimit(RLIMIT_FSIZE, &fileSize);
                fileSize.rlim_cur = static_cast<rlim_t>(limit);
                ::setrlimit(RLIMIT_FSIZE, &fileSize);
            },
            operation);
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

// The size of the vault file beyond which the disk in AFlushThatFailsIsTakenBack is full.
off_t g_diskEnd = 0;

// Whether a write at offset would need more disk than there is; then errno says so.
bool BeyondDisk(off_t offset, size_t size) {
    if (offset + static_cast<off_t>(size) <= g_diskEnd) {
        return false;
    }
    errno = ENOSPC;
    return true;
}

// In AMasterPasswordChangeIsTakenBackWhenItsEntriesCannotFollow: the flushes so far, and the
// flush whose first write fails.
int g_flushes = 0;
int g_failingFlush = -1;

// Every operation at once, reported as the results of VaultExists, ReadPicture,
// SetMasterPassword and GetEntry.
std::string EveryOperation(VaultStore& vault, const std::string& dir) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 3);
    std::string report = Flag(vault.VaultExists(dir));
    report += " " + Flag(vault.ReadPicture(dir, kPassword, nullptr, nullptr) != nullptr);
    report += " " + Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword));
    vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "1"));
    vault.ModifyEntry(dir, kPassword, MakePasswordEntry("mail", "changed"));
    vault.DeleteEntry(dir, kPassword, MakePasswordEntry("bank", ""));
    PasswordEntry entry = MakePasswordEntry("", "");
    report += " " + Flag(vault.GetEntry(dir, kPassword, "mail", entry));
    return report;
}

TEST_F(StorageFaultTest, WithoutRoomForTheVaultNothingIsCreated) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    const Operation firstStart = [&picture](VaultStore& vault, const std::string& dir) {
        std::string report = Flag(vault.VaultExists(dir));
        report += " " + Flag(vault.SetMasterPassword(picture, dir, kPassword, std::nullopt));
        vault.AddEntry(dir, kPassword, MakePasswordEntry("a", "1"));
        return report;
    };
    // No room for the file at all, then (the empty file made) none for the picture in it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const ChildView view = RunOnFullDisk(0, firstStart);
        EXPECT_EQ(view.status, 0);
        EXPECT_EQ(view.result, "false false");
        EXPECT_TRUE(view.entries.empty());
        // The next start finds no vault (and does not wait for the file that could not be
        // made), and a file it can make one in.
        const ChildView next = RunRestricted(
            [] {},
            [](VaultStore& vault, const std::string& dir) { return Flag(vault.VaultExists(dir)); });
        EXPECT_EQ(next.status, 0) << "the next start hung or crashed";
        EXPECT_EQ(next.result, "false");
        EXPECT_TRUE(Verified());
    }
    MakeVault(kPassword, {"a"});
    EXPECT_EQ(Entries(kPassword), std::vector<std::string>{"a=pw-a"});
    EXPECT_TRUE(Verified());
}

// Every kind of change, from lists just below the sizes at which the stored list needs one
// more page of the file (it leaves the tree's page at 11 entries and needs a second page of
// its own at 43).
TEST_F(StorageFaultTest, OnAFullDiskAChangeIsMadeCompletelyOrNotAtAll) {
    struct Change {
        const char* what;
        Operation run;
        std::string readWith;  // the master password the vault opens with if it succeeded
    };
    const std::vector<Change> changes = {
        {"add",
         [](VaultStore& vault, const std::string& dir) {
             vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "a"));
             return std::string("-");
         },
         kPassword},
        {"modify",
         [](VaultStore& vault, const std::string& dir) {
             vault.ModifyEntry(dir, kPassword, MakePasswordEntry("e3", "changed"));
             return std::string("-");
         },
         kPassword},
        {"delete",
         [](VaultStore& vault, const std::string& dir) {
             vault.DeleteEntry(dir, kPassword, MakePasswordEntry("e5", ""));
             return std::string("-");
         },
         kPassword},
        {"change the master password",
         [](VaultStore& vault, const std::string& dir) {
             Ombrix::Data<unsigned char> picture;
             MakePicture(picture, 2);
             return Flag(vault.SetMasterPassword(picture, dir, kNewPassword, kPassword));
         },
         kNewPassword},
    };
    for (int count : {10, 42}) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("e" + std::to_string(i));
        }
        MakeVault(kPassword, names);
        const std::vector<std::string> before = Entries(kPassword);
        const std::string picture = Picture(kPassword);
        CloseVault();
        const std::string original = testsupport::ReadFile(VaultFile());
        OpenVault();
        // No room, less than a page, and room enough (a new picture needs 8 pages).
        for (off_t slack : {off_t{0}, kPage / 2, 8 * kPage}) {
            for (const Change& change : changes) {
                SCOPED_TRACE(std::string(change.what) + ", " + std::to_string(count) +
                             " entries, room for " + std::to_string(slack) + " bytes");
                const ChildView view = RunOnFullDisk(slack, change.run);
                EXPECT_EQ(view.status, 0);
                EXPECT_TRUE(Verified());
                const bool done = slack >= 8 * kPage;
                EXPECT_EQ(view.result, change.readWith == kPassword ? "-" : Flag(done));
                const std::string password = done ? change.readWith : kPassword;
                EXPECT_EQ(Picture(password).size(), static_cast<std::size_t>(kPictureBytes));
                const std::vector<std::string> after = Entries(password);
                EXPECT_EQ(view.entries, after) << "the program saw what the disk does not hold";
                EXPECT_EQ(after == before, !done || change.readWith != kPassword);
                if (!done) {
                    EXPECT_EQ(Picture(kPassword), picture);
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

// Writes that fail even though the room was there (a file system that cannot set room aside,
// an I/O error): the write is taken back, so that file and program keep the old content.
TEST_F(StorageFaultTest, AFlushThatFailsIsTakenBack) {
    for (int count : {10, 42}) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("e" + std::to_string(i));
        }
        MakeVault(kPassword, names);
        const std::vector<std::string> before = Entries(kPassword);
        const ChildView view = RunRestricted(
            [this] {
                // The disk holds the file as it is and nothing more; the room was found only
                // because the file system could not set any aside.
                struct stat info {};
                ::stat(VaultFile().c_str(), &info);
                g_diskEnd = info.st_size;
                db_env_set_func_write([](int fd, const void* data, size_t size) {
                    return BeyondDisk(::lseek(fd, 0, SEEK_CUR), size) ? ssize_t{-1}
                                                                      : ::write(fd, data, size);
                });
                db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t offset) {
                    return BeyondDisk(offset, size) ? ssize_t{-1}
                                                    : ::pwrite(fd, data, size, offset);
                });
            },
            [](VaultStore& vault, const std::string& dir) {
                vault.AddEntry(dir, kPassword, MakePasswordEntry("added", "a"));
                return std::string("-");
            });
        EXPECT_EQ(view.status, 0);
        EXPECT_TRUE(Verified());
        EXPECT_EQ(Entries(kPassword), before);
        EXPECT_EQ(view.entries, before);
        CloseVault();
        ::unlink(VaultFile().c_str());
        OpenVault();
    }
}

// The picture under the new password is stored, but the entries cannot follow it (an I/O
// error in their flush): the change is taken back as a whole, and the vault still opens
// completely with the old password.
TEST_F(StorageFaultTest, AMasterPasswordChangeIsTakenBackWhenItsEntriesCannotFollow) {
    MakeVault(kPassword, {"mail", "bank"});
    const std::string picture = Picture(kPassword);
    const ChildView view = RunRestricted(
        [] {
            db_env_set_func_fsync([](int fd) {
                ++g_flushes;
                return ::fsync(fd);
            });
            db_env_set_func_write([](int fd, const void* data, size_t size) {
                if (g_flushes == g_failingFlush) {
                    g_failingFlush = -1;
                    errno = EIO;
                    return ssize_t{-1};
                }
                return ::write(fd, data, size);
            });
            g_failingFlush = 1;  // the picture's flush is the first
        },
        [](VaultStore& vault, const std::string& dir) {
            Ombrix::Data<unsigned char> newPicture;
            MakePicture(newPicture, 2);
            return Flag(vault.SetMasterPassword(newPicture, dir, kNewPassword, kPassword));
        });
    EXPECT_EQ(view.status, 0);
    EXPECT_EQ(view.result, "false");
    EXPECT_TRUE(Verified());
    EXPECT_EQ(Picture(kPassword), picture);
    EXPECT_EQ(Entries(kPassword), (std::vector<std::string>{"mail=pw-mail", "bank=pw-bank"}));
    EXPECT_EQ(view.entries, Entries(kPassword));
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

        EXPECT_EQ(view.status, 0);
        EXPECT_EQ(view.result, "false false false false");
        EXPECT_TRUE(view.entries.empty());
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
