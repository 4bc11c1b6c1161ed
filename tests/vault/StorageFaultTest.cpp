// Each operation, in a child process on a full or failing disk or in a read-only folder,
// either does its work completely and says so, or fails and leaves the vault as it was.
#include <db.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // The report is the operation's result, then `after`'s text.
    std::string RunChild(const std::function<bool()>& restrict, const Operation& operation,
                         const std::function<std::string()>& after = {}) {
        CloseDevice();
        const std::string report = testsupport::RunForked([&] {
                                       ::alarm(20);
                                       if (!restrict()) {
                                           return std::string("not restricted");
                                       }
                                       OpenDevice();
                                       VaultStore child;
                                       const std::string result =
                                           operation(child, directory) + "\n";
                                       CloseDevice();
                                       return result + (after ? after() : "");
                                   }).report;
        OpenDevice();
        return report;
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
            PutBack(report.substr(end + 1));
            report.resize(end);
        }
        return report != "not restricted";
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

// From lists just below the sizes that need one more page (11 and 43 entries). A change is
// made in a copy of the file, so it needs room for that copy and its growth.
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
                PutBack(original);
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
