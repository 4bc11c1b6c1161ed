// Vault files the program never writes itself: every operation must end with its failure
// result (or a sound reading of what is there) and never read or write past a value, and a
// file that cannot be read is never taken for a missing vault.
#include <cstring>

#include "vault/VaultBackup.h"
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
        EXPECT_EQ(width, -1);
        EXPECT_EQ(height, -1);
        fresh.AddEntry(directory, kPassword, MakePasswordEntry("a", "1"));
        fresh.ModifyEntry(directory, kPassword, MakePasswordEntry("a", "2"));
        fresh.DeleteEntry(directory, kPassword, MakePasswordEntry("a", ""));
        Entries(kPassword);
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

// The meta page of a vault file rewritten in the layout of an older on-disk version of the
// database (version 7, at byte 16): the generic header is shorter there, so the flags, the
// file's id and the tree's settings sit 16 bytes earlier. The pages of the tree are the same.
std::string AsVersion7(std::string file) {
    const std::uint32_t pageSize = NumberAt(file, 20);
    const std::string meta = file.substr(0, pageSize);
    std::string old = WithNumber(meta.substr(0, 32) + std::string(pageSize - 32, '\0'), 16, 7);
    old.replace(32, 4, meta, 48, 4);    // flags
    old.replace(36, 20, meta, 52, 20);  // file id
    old.replace(60, 16, meta, 76, 16);  // smallest key count, record length and pad, root
    return file.replace(0, pageSize, old);
}

// Neither of these files may be set up anew or changed: a new vault would be written over
// the user's passwords.
TEST_F(DamagedVaultTest, AFileTheDatabaseCannotReadIsNeverTakenForAMissingVault) {
    MakeVault(kPassword, {"one"});
    RestartDevice();
    const std::string sound = testsupport::ReadFile(VaultFile());
    const std::string junk(30000, 'j');
    for (const std::string& content : {junk, WithNumber(sound, 16, 10), sound.substr(0, 100)}) {
        testsupport::WriteFile(VaultFile(), content);
        RestartDevice();
        EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kUnreadable);
        EXPECT_FALSE(store.VaultExists(directory));
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, kPassword));
        ExpectNoPicture();
        EXPECT_TRUE(testsupport::ReadFile(VaultFile()) == content);
        EXPECT_EQ(testsupport::ListFiles(dir.Path()), std::vector<std::string>{"ferrocask.db"});
    }
    // A missing file is no vault yet; one the program may create is made empty.
    ::unlink(VaultFile().c_str());
    RestartDevice();
    EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kNoVault);
}

// A file of an older on-disk version is kept as a backup, then brought up to the current
// version and opened; a version the library reads as it is stays untouched.
TEST_F(DamagedVaultTest, AnOlderOnDiskVersionIsUpgradedAfterABackup) {
    MakeVault(kPassword, {"one", "two"});
    RestartDevice();
    const std::string version8 = WithNumber(testsupport::ReadFile(VaultFile()), 16, 8);
    testsupport::WriteFile(VaultFile(), version8);
    RestartDevice();
    EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kVault);
    EXPECT_TRUE(testsupport::ReadFile(VaultFile()) == version8);
    EXPECT_TRUE(testsupport::ListFiles(dir.Path(), "ferrocask_").empty());

    const std::string version7 = AsVersion7(version8);
    testsupport::WriteFile(VaultFile(), version7);
    RestartDevice();
    ASSERT_EQ(store.CheckVault(directory), VaultFileStatus::kVault);
    const std::vector<std::string> backups = testsupport::ListFiles(dir.Path(), "ferrocask_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(testsupport::ReadFile(dir.File(backups[0])) == version7);
    EXPECT_EQ(Entries(kPassword), (std::vector<std::string>{"one=pw-one", "two=pw-two"}));
    // 8 is the oldest version the library reads as it is.
    EXPECT_GE(NumberAt(testsupport::ReadFile(VaultFile()), 16), 8u);
    EXPECT_TRUE(store.AddEntry(directory, kPassword, MakePasswordEntry("three", "3")));
    EXPECT_FALSE(testsupport::FileExists(VaultFile() + ".new"));
}

// The stored entries cannot be read (a page of their value is damaged): nothing that would
// rewrite them may happen, the master-password change least of all.
TEST_F(DamagedVaultTest, EntriesThatCannotBeReadAreNeverReplaced) {
    MakeVault(kPassword, Numbered("entry", 60));
    RestartDevice();
    std::string file = testsupport::ReadFile(VaultFile());
    // Both values lie on chains of overflow pages (page type 7 at byte 25 of a page; the
    // previous and next page's numbers at bytes 12 and 16). The list's chain is the one of
    // two pages (the picture takes seven); its first page gets pointed on to a page the
    // file does not have.
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
    testsupport::WriteFile(VaultFile(), file);
    RestartDevice();

    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, "newpass9", kPassword));
    EXPECT_FALSE(store.AddEntry(directory, kPassword, MakePasswordEntry("added", "1")));
    EXPECT_FALSE(store.ModifyEntry(directory, kPassword, MakePasswordEntry("entry1", "2")));
    EXPECT_FALSE(store.DeleteEntry(directory, kPassword, MakePasswordEntry("entry1", "")));
    EXPECT_TRUE(testsupport::ReadFile(VaultFile()) == file);
    EXPECT_EQ(Picture(kPassword).size(), static_cast<std::size_t>(kPictureBytes));
}

// A file cut short, or a picture record of the wrong length: no partial picture is shown.
TEST_F(DamagedVaultTest, ATruncatedFileOrAWrongLengthShowsNoPicture) {
    MakeVault(kPassword, {"one", "two"});
    RestartDevice();
    const std::string whole = testsupport::ReadFile(VaultFile());
    for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{8192},
                             std::size_t{16384}, whole.size() / 2, whole.size() - 8192}) {
        SCOPED_TRACE(size);
        testsupport::WriteFile(VaultFile(), whole.substr(0, size));
        ExpectNoPicture();
        RestartDevice();
    }
    for (int length : {100, kPictureBytes - 16, kPictureBytes + 16}) {
        SCOPED_TRACE(length);
        ::unlink(VaultFile().c_str());
        WriteRecords(VaultFile(), {{"main", std::string(length, 'm')}});
        RestartDevice();
        EXPECT_TRUE(store.VaultExists(directory));
        ExpectNoPicture();
    }
}

TEST_F(DamagedVaultTest, AnEntryListWithABrokenTailUsesItsWholeEntries) {
    MakeVault(kPassword, {"first", "second"});
    RestartDevice();
    WriteRecords(VaultFile(),
                 {{"pass", ReadRecords(VaultFile()).at("pass") + std::string(100, 't')}});
    EXPECT_EQ(Entries(kPassword), (std::vector<std::string>{"first=pw-first", "second=pw-second"}));
    store.AddEntry(directory, kPassword, MakePasswordEntry("third", "3"));
    EXPECT_EQ(Entries(kPassword),
              (std::vector<std::string>{"first=pw-first", "second=pw-second", "third=3"}));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass").size(), 3 * 192u);

    RestartDevice();
    WriteRecords(VaultFile(), {{"pass", std::string(100, 't')}});
    EXPECT_TRUE(Entries(kPassword).empty());
}

}  // namespace
