#include "vault/VaultStore.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <sys/stat.h>

#include <ctime>

#include "vault/VaultBackup.h"
#include "vault/VaultCipher.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {
const std::string kPassword = "secret12", kNew = "newpass22";

template <class Direction>
std::string Ecb(const std::string& password, std::string bytes) {
    const VaultKey key = DeriveVaultKey(password);
    auto* data = reinterpret_cast<CryptoPP::byte*>(bytes.data());
    Direction(key.data(), key.size()).ProcessData(data, data, bytes.size());
    return bytes;
}
using Encrypt = CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption;
using Decrypt = CryptoPP::ECB_Mode<CryptoPP::AES>::Decryption;

// The picture is stored under AES-128 ECB with nothing added (no salt).
TEST_F(VaultTest, ThePictureOpensOnlyWithItsMasterPassword) {
    EXPECT_FALSE(store.VaultExists(directory));
    Ombrix::Data<unsigned char> picture;
    for (int length : {kPictureBytes - 1, kPictureBytes + 1, 0, kPictureBytes}) {
        MakePicture(picture, 5, length);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, "short12", std::nullopt));
        EXPECT_EQ(store.SetMasterPassword(picture, directory, kPassword, std::nullopt),
                  length == kPictureBytes);
    }
    int width = 0, height = 0;
    ASSERT_NE(store.ReadPicture(directory, kPassword, &width, &height), nullptr);
    EXPECT_EQ(width * 1000 + height, 128128);
    EXPECT_NE(Picture("wrong123"), PictureBytes(5));
    EXPECT_EQ(Picture("short12"), "");
    EXPECT_EQ(Record(VaultFile(), "main"), Ecb<Encrypt>(kPassword, PictureBytes(5)));
    EXPECT_EQ(Record(VaultFile(), "pass"), "<none>");
}

// Entries are records of three zero-padded 64-byte fields in the order added, found by their
// exact name; a change of an absent name, or any under a short password, writes nothing.
TEST_F(VaultTest, EntriesAreStoredInTheirOrderAndMisfitsWriteNothing) {
    MakeVault(kPassword, {"mail", "bank", std::string(70, 'n')});
    const std::string plain = Ecb<Decrypt>(kPassword, Record(VaultFile(), "pass"));
    const auto padded = [](std::string text) { return text.append(64 - text.size(), '\0'); };
    EXPECT_EQ(plain.substr(192), padded("bank") + padded("normal") + padded("pw-bank") +
                                     padded(std::string(62, 'n')) + padded("normal") +
                                     padded("pw-" + std::string(59, 'n')));
    PasswordEntry found;
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "Bank", found));
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "ban", found));
    const std::string before = VaultBytes();
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("two", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("two", ""));
    store.AddEntry(directory, "short12", MakePasswordEntry("new", "1"));
    store.ModifyEntry(directory, "short12", MakePasswordEntry("mail", "x"));
    store.DeleteEntry(directory, "short12", MakePasswordEntry("mail", ""));
    EXPECT_TRUE(VaultBytes() == before);
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("mail", ""));
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("bank", "changed"));
    EXPECT_EQ(Entries(kPassword),
              (Strings{"bank=changed", std::string(62, 'n') + "=pw-" + std::string(59, 'n')}));
}

TEST_F(VaultTest, ADuplicateNameGetsTheTimeOfAdding) {
    MakeVault(kPassword, {"mail"});
    store.AddEntry(directory, kPassword, MakePasswordEntry("mail", "second"));
    const Strings names = Entries(kPassword);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].substr(0, 7), "mail_20");
    EXPECT_EQ(names[1].size(), std::string("mail_20131205093007=second").size());
    const std::string fixed = "_20131205093007", long50(50, 'L');
    EntryList entries{MakePasswordEntry("mail", ""), MakePasswordEntry("mail" + fixed, "")};
    EXPECT_EQ(RenameDuplicate("mail", entries, {2013, 12, 5, 9, 30, 7}), "mail" + fixed + fixed);
    entries = {MakePasswordEntry(long50, "")};
    for (int i = 0; i < 11; ++i) {
        entries.push_back(
            MakePasswordEntry(RenameDuplicate(long50, entries, {2013, 12, 5, 9, 30, 7}), ""));
    }
    EXPECT_EQ(FieldText(entries[1].name), std::string(47, 'L') + fixed);
    EXPECT_EQ(FieldText(entries[2].name), std::string(45, 'L') + fixed + "_1");
    EXPECT_EQ(FieldText(entries[11].name), std::string(44, 'L') + fixed + "_10");
}

using MasterPasswordChangeTest = VaultTest;

// Without the old password only the picture moves. The backup keeps the vault's mode.
TEST_F(MasterPasswordChangeTest, TheEntriesFollowOnlyWithTheOldPasswordAndTheBackupOpens) {
    MakeVault(kPassword, {"mail", "bank"});
    ASSERT_EQ(::chmod(VaultFile().c_str(), 0640), 0);
    const std::string before = VaultBytes();
    ASSERT_TRUE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = dir.File(Backups()[0]);
    struct stat info {};
    ASSERT_EQ(::stat(backup.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(testsupport::ReadFile(backup), before);
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 9);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kNew, kPassword));
    EXPECT_EQ(Picture(kNew), PictureBytes(9));
    EXPECT_EQ(Entries(kNew), (Strings{"mail=pw-mail", "bank=pw-bank"}));
    MakePicture(picture, 3);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    EXPECT_EQ(Picture(kPassword), PictureBytes(3));
    EXPECT_EQ(Entries(kNew), (Strings{"mail=pw-mail", "bank=pw-bank"}));
    RestartDevice();
    testsupport::WriteFile(VaultFile(), testsupport::ReadFile(backup));
    EXPECT_EQ(Picture(kPassword), PictureBytes(1));
    EXPECT_EQ(Entries(kPassword), (Strings{"mail=pw-mail", "bank=pw-bank"}));
}

TEST_F(MasterPasswordChangeTest, AnExistingBackupIsNeverOverwritten) {
    EXPECT_EQ(VaultBackupPath("/d/", {2013, 12, 5, 9, 30, 7}), "/d/ferrocask_20131205093007.db");
    MakeVault(kPassword);
    for (int ahead = 0; ahead < 3; ++ahead) {  // this second and the next ones are taken
        const std::time_t when = std::time(nullptr) + ahead;
        std::tm t{};
        localtime_r(&when, &t);
        testsupport::WriteFile(
            VaultBackupPath(directory, {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                                        t.tm_min, t.tm_sec}),
            "earlier");
    }
    EXPECT_FALSE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 3u);
    for (const std::string& name : Backups()) {
        EXPECT_EQ(testsupport::ReadFile(dir.File(name)), "earlier");
    }
    // No vault file; a vault path that cannot be read; a directory beyond any path limit.
    testsupport::TempDir empty;
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    ASSERT_EQ(::mkdir(empty.File("ferrocask.db").c_str(), 0755), 0);
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    EXPECT_EQ(testsupport::ListFiles(empty.Path()), Strings{"ferrocask.db"});
    EXPECT_FALSE(BackupVaultFile(directory + std::string(5000, 'x') + "/"));
}
}  // namespace
