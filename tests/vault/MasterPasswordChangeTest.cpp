// Changing the master password: the backup made before it, and what the vault file holds
// after each step.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "vault/VaultBackup.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kOld = "oldpass1";
const std::string kNew = "newpass22";

Ombrix::LocalTime LocalTimeIn(int seconds) {
    const std::time_t when = std::time(nullptr) + seconds;
    std::tm parts{};
    localtime_r(&when, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

class MasterPasswordChangeTest : public VaultTest {
protected:
    Bytes Picture(const std::string& password) {
        const unsigned char* shown = store.ReadPicture(directory, password, &width, &height);
        return shown == nullptr ? "" : AsBytes(shown, kPictureBytes);
    }
    std::vector<std::string> Backups() { return testsupport::ListFiles(dir.Path(), "ferrocask_"); }

    int width = 0, height = 0;
};

TEST(VaultBackupPathTest, StampsTheLocalTimeBesideTheVault) {
    EXPECT_EQ(VaultBackupPath("/opt/fc/", {2013, 12, 5, 9, 30, 7}),
              "/opt/fc/ferrocask_20131205093007.db");
    const std::string deep = "/" + std::string(300, 'd') + "/";
    EXPECT_EQ(VaultBackupPath(deep, {2013, 12, 5, 9, 30, 7}), deep + "ferrocask_20131205093007.db");
}

TEST_F(MasterPasswordChangeTest, AChangeKeepsEveryEntryAndTheBackupOpensTheOldVault) {
    MakeVault(kOld, {"mail", "bank", "shop"});
    const Bytes oldPicture = Picture(kOld);
    const Bytes before = testsupport::ReadFile(VaultFile());

    ASSERT_TRUE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = dir.File(Backups()[0]);
    EXPECT_EQ(testsupport::ReadFile(backup), before);

    Ombrix::Data<unsigned char> newPicture;
    MakePicture(newPicture, 9);
    ASSERT_TRUE(store.SetMasterPassword(newPicture, directory, kNew, kOld));
    EXPECT_EQ(Picture(kNew), AsBytes(newPicture));
    EXPECT_NE(Picture(kOld), oldPicture);
    EXPECT_EQ(ListedNames(kNew), (std::vector<std::string>{"mail", "bank", "shop"}));
    PasswordEntry found;
    ASSERT_TRUE(store.GetEntry(directory, kNew, "shop", found));
    EXPECT_EQ(FieldText(found.password), "pw-shop");

    // Going back by hand: the backup copied over the vault opens with the old password.
    RestartDevice();
    testsupport::WriteFile(VaultFile(), testsupport::ReadFile(backup));
    EXPECT_EQ(Picture(kOld), oldPicture);
    EXPECT_EQ(ListedNames(kOld), (std::vector<std::string>{"mail", "bank", "shop"}));
}

TEST_F(MasterPasswordChangeTest, WithoutTheOldPasswordOnlyThePictureMoves) {
    MakeVault(kOld, {"mail"});
    const Bytes pass = ReadRecords(VaultFile()).at("pass");
    Ombrix::Data<unsigned char> newPicture;
    MakePicture(newPicture, 9);
    ASSERT_TRUE(store.SetMasterPassword(newPicture, directory, kNew, std::nullopt));
    EXPECT_EQ(Picture(kNew), AsBytes(newPicture));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), pass);
    EXPECT_EQ(ListedNames(kOld), std::vector<std::string>{"mail"});
    EXPECT_NE(ListedNames(kNew), std::vector<std::string>{"mail"});
}

TEST_F(MasterPasswordChangeTest, AVaultWithoutEntriesGetsAnEmptyList) {
    MakeVault(kOld);
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kNew, kOld));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), "");
    EXPECT_TRUE(ListedNames(kNew).empty());
}

TEST_F(MasterPasswordChangeTest, AFailedChangeLeavesTheFileAsItWas) {
    MakeVault(kOld, {"mail"});
    const Records before = ReadRecords(VaultFile());
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, "short12", kOld));
    MakePicture(picture, 2, kPictureBytes - 1);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, kNew, kOld));
    EXPECT_EQ(ReadRecords(VaultFile()), before);
}

TEST_F(MasterPasswordChangeTest, AnExistingBackupIsNeverOverwritten) {
    MakeVault(kOld, {"mail"});
    // Files of the backup's name for this second and the next ones are already there.
    for (int ahead = 0; ahead < 3; ++ahead) {
        testsupport::WriteFile(VaultBackupPath(directory, LocalTimeIn(ahead)), "earlier");
    }
    EXPECT_FALSE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 3u);
    for (const std::string& name : Backups()) {
        EXPECT_EQ(testsupport::ReadFile(dir.File(name)), "earlier");
    }
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    EXPECT_TRUE(store.SetMasterPassword(picture, directory, kNew, kOld));
    EXPECT_EQ(ListedNames(kNew), std::vector<std::string>{"mail"});
}

TEST_F(MasterPasswordChangeTest, TheBackupTakesTheVaultsModeAndFailuresLeaveNoFile) {
    MakeVault(kOld);
    ASSERT_EQ(::chmod(VaultFile().c_str(), 0640), 0);
    ASSERT_TRUE(BackupVaultFile(directory));
    struct stat info {};
    ASSERT_EQ(::stat(dir.File(Backups()[0]).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // No vault file: nothing to copy. A vault path that cannot be read: the half-made
    // backup is removed again. A directory beyond any path limit: refused, no crash.
    testsupport::TempDir empty;
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    ASSERT_EQ(::mkdir(VaultFilePath(empty.Path() + "/").c_str(), 0755), 0);
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    EXPECT_TRUE(testsupport::ListFiles(empty.Path(), "ferrocask_").empty());
    EXPECT_FALSE(BackupVaultFile(directory + std::string(5000, 'x') + "/"));
}

}  // namespace
