// Vault files the program never writes itself: every operation fails or reads soundly.
#include <cstring>

#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {
const std::string kPassword = "damaged1";

class DamagedVaultTest : public VaultTest {
protected:
    // Runs every operation on the vault; none may crash, and no picture may be shown.
    void ExpectNoPicture() {
        int width = -1, height = -1;
        VaultStore fresh;
        EXPECT_EQ(fresh.ReadPicture(directory, kPassword, &width, &height), nullptr);
        EXPECT_EQ(width + height, -2);
        fresh.AddEntry(directory, kPassword, MakePasswordEntry("a", "1"));
        fresh.ModifyEntry(directory, kPassword, MakePasswordEntry("a", "2"));
        fresh.DeleteEntry(directory, kPassword, MakePasswordEntry("a", ""));
        Entries(kPassword);
    }
    void Replace(const std::string& content) {
        testsupport::WriteFile(VaultFile(), content);
        RestartDevice();
    }
};

std::uint32_t NumberAt(const std::string& file, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, file.data() + at, 4);
    return value;
}

std::string WithNumber(std::string file, std::size_t at, std::uint32_t value) {
    std::memcpy(&file[at], &value, 4);
    return file;
}

// A new vault would be written over the user's passwords.
TEST_F(DamagedVaultTest, AFileTheDatabaseCannotReadIsNeverTakenForAMissingVault) {
    MakeVault(kPassword, {"one"});
    RestartDevice();
    const std::string sound = VaultBytes();
    for (const std::string& content :
         {std::string(30000, 'j'), WithNumber(sound, 16, 10), sound.substr(0, 100)}) {
        Replace(content);
        EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kUnreadable);
        EXPECT_FALSE(store.VaultExists(directory));
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, kPassword));
        ExpectNoPicture();
        EXPECT_TRUE(VaultBytes() == content);
        EXPECT_EQ(testsupport::ListFiles(dir.Path()), Strings{"ferrocask.db"});
    }
    // A file cut short at any length shows no partial picture and lets no operation crash.
    for (std::size_t size : {0ul, 8192ul, 16384ul, sound.size() / 2, sound.size() - 8192}) {
        Replace(sound.substr(0, size));
        ExpectNoPicture();
    }
}

// Version 8 is read as it is.
TEST_F(DamagedVaultTest, AnOlderOnDiskVersionIsUpgradedAfterABackup) {
    MakeVault(kPassword, {"one", "two"});
    RestartDevice();
    const std::string version8 = WithNumber(VaultBytes(), 16, 8);
    Replace(version8);
    EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kVault);
    EXPECT_TRUE(VaultBytes() == version8);
    EXPECT_TRUE(Backups().empty());
    // Version 7's meta page: the flags, the file id and the tree's settings sit 16 bytes
    // earlier, without the four bytes that follow the file id in version 8.
    const std::uint32_t pageSize = NumberAt(version8, 20);
    std::string version7 = WithNumber(version8.substr(0, 32), 16, 7) + version8.substr(48, 44) +
                           std::string(pageSize - 76, '\0') + version8.substr(pageSize);
    version7.replace(56, 4, 4, '\0');
    Replace(version7);
    ASSERT_EQ(store.CheckVault(directory), VaultFileStatus::kVault);
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_TRUE(testsupport::ReadFile(dir.File(Backups()[0])) == version7);
    EXPECT_EQ(Entries(kPassword), (Strings{"one=pw-one", "two=pw-two"}));
    EXPECT_GE(NumberAt(VaultBytes(), 16), 8u);
    EXPECT_TRUE(store.AddEntry(directory, kPassword, MakePasswordEntry("three", "3")));
}

// The entries' chain of overflow pages points past the file: nothing may rewrite them.
TEST_F(DamagedVaultTest, EntriesThatCannotBeReadAreNeverReplaced) {
    MakeVault(kPassword, {}, 60);
    RestartDevice();
    std::string file = VaultBytes();
    // An overflow page (type 7 at byte 25) first of a chain of two (previous and next page at
    // bytes 12 and 16): the entries' chain, as the picture's is seven pages long.
    std::size_t overflow = 0;
    for (std::size_t page = 8192; page < file.size(); page += 8192) {
        const std::uint32_t next = NumberAt(file, page + 16);
        if (file[page + 25] == 7 && NumberAt(file, page + 12) == 0 && next != 0 &&
            NumberAt(file, next * 8192u + 16) == 0) {
            overflow = page;
        }
    }
    ASSERT_NE(overflow, 0u);
    file = WithNumber(file, overflow + 16, 0x7fffff);
    Replace(file);
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, "newpass9", kPassword));
    EXPECT_FALSE(store.AddEntry(directory, kPassword, MakePasswordEntry("added", "1")));
    EXPECT_FALSE(store.ModifyEntry(directory, kPassword, MakePasswordEntry("e1", "2")));
    EXPECT_FALSE(store.DeleteEntry(directory, kPassword, MakePasswordEntry("e1", "")));
    EXPECT_TRUE(VaultBytes() == file);
    EXPECT_EQ(Picture(kPassword), PictureBytes(1));
}
}  // namespace
