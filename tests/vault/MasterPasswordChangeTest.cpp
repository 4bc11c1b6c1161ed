// Changing the master password: the backup made before it, and what the vault file holds
// after each step.
#include <sys/stat.h>

#include <ctime>

#include "vault/VaultBackup.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kOld = "oldpass1";
const std::string kNew = "newpass22";

class MasterPasswordChangeTest : public VaultTest {
protected:
    std::vector<std::string> Backups() { return testsupport::ListFiles(dir.Path(), "ferrocask_"); }
    bool Change(int seed, const std::string& to, std::optional<std::string_view> from) {
        MakePicture(picture, seed);
        return store.SetMasterPassword(picture, directory, to, from);
    }

    Ombrix::Data<unsigned char> picture;
};

TEST_F(MasterPasswordChangeTest, EveryEntryFollowsAndTheBackupStillOpensWithTheOldPassword) {
    MakeVault(kOld, {"mail", "bank", "shop"});
    const std::vector<std::string> entries{"mail=pw-mail", "bank=pw-bank", "shop=pw-shop"};
    const std::string oldPicture = Picture(kOld);
    const std::string before = testsupport::ReadFile(VaultFile());
    ASSERT_TRUE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = testsupport::ReadFile(dir.File(Backups()[0]));
    EXPECT_EQ(backup, before);

    ASSERT_TRUE(Change(9, kNew, kOld));
    EXPECT_EQ(Picture(kNew), AsBytes(picture.m_pBuffer));
    EXPECT_NE(Picture(kOld), oldPicture);
    EXPECT_EQ(Entries(kNew), entries);

    RestartDevice();
    testsupport::WriteFile(VaultFile(), backup);  // going back by hand
    EXPECT_EQ(Picture(kOld), oldPicture);
    EXPECT_EQ(Entries(kOld), entries);
}

// With the old password a vault without entries gets an empty list; without it only the
// picture moves and the stored list stays as it was.
TEST_F(MasterPasswordChangeTest, WithoutTheOldPasswordOnlyThePictureMoves) {
    MakeVault(kOld);
    ASSERT_TRUE(Change(2, kNew, kOld));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), "");
    store.AddEntry(directory, kNew, MakePasswordEntry("mail", "pw-mail"));
    const std::string pass = ReadRecords(VaultFile()).at("pass");
    ASSERT_TRUE(Change(9, kOld, std::nullopt));
    EXPECT_EQ(Picture(kOld), AsBytes(picture.m_pBuffer));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), pass);
    EXPECT_EQ(Entries(kNew), std::vector<std::string>{"mail=pw-mail"});
}

// The backup is named after the local time; a name taken already is never overwritten.
TEST_F(MasterPasswordChangeTest, AnExistingBackupIsNeverOverwritten) {
    const std::string deep = "/" + std::string(300, 'd') + "/";
    EXPECT_EQ(VaultBackupPath(deep, {2013, 12, 5, 9, 30, 7}), deep + "ferrocask_20131205093007.db");

    MakeVault(kOld, {"mail"});
    for (int ahead = 0; ahead < 3; ++ahead) {  // this second and the next ones are taken
        const std::time_t when = std::time(nullptr) + ahead;
        std::tm t{};
        localtime_r(&when, &t);
        const Ombrix::LocalTime stamp{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                      t.tm_hour,        t.tm_min,     t.tm_sec};
        testsupport::WriteFile(VaultBackupPath(directory, stamp), "earlier");
    }
    EXPECT_FALSE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 3u);
    for (const std::string& name : Backups()) {
        EXPECT_EQ(testsupport::ReadFile(dir.File(name)), "earlier");
    }
    EXPECT_TRUE(Change(2, kNew, kOld));
    EXPECT_EQ(Entries(kNew), std::vector<std::string>{"mail=pw-mail"});
}

TEST_F(MasterPasswordChangeTest, TheBackupTakesTheVaultsModeAndFailuresLeaveNoFile) {
    MakeVault(kOld);
    ASSERT_EQ(::chmod(VaultFile().c_str(), 0640), 0);
    ASSERT_TRUE(BackupVaultFile(directory));
    struct stat info {};
    ASSERT_EQ(::stat(dir.File(Backups()[0]).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // No vault file; a vault path that cannot be read (the half-made copy is removed); a
    // directory beyond any path limit.
    testsupport::TempDir empty;
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    ASSERT_EQ(::mkdir(empty.File("ferrocask.db").c_str(), 0755), 0);
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    EXPECT_TRUE(testsupport::ListFiles(empty.Path(), "ferrocask_").empty());
    EXPECT_FALSE(BackupVaultFile(directory + std::string(5000, 'x') + "/"));
}

}  // namespace
