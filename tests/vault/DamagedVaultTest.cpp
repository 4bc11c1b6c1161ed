// Vault files the program never writes itself: every operation must end with its failure
// result (or a sound reading of what is there) and never read or write past a value.
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
        Names(kPassword);
    }
};

TEST_F(DamagedVaultTest, AFileThatIsNoDatabaseStaysAsItIs) {
    const std::string junk(30000, 'j');
    testsupport::WriteFile(VaultFile(), junk);
    EXPECT_FALSE(store.VaultExists(directory));
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, kPassword));
    ExpectNoPicture();
    EXPECT_EQ(testsupport::ReadFile(VaultFile()), junk);
}

TEST_F(DamagedVaultTest, ATruncatedFileShowsNoPartialPicture) {
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
}

TEST_F(DamagedVaultTest, APictureOfTheWrongLengthIsNoPicture) {
    for (int length : {100, kPictureBytes - 16, kPictureBytes + 16}) {
        SCOPED_TRACE(length);
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
    EXPECT_EQ(Names(kPassword), (std::vector<std::string>{"first", "second"}));
    store.AddEntry(directory, kPassword, MakePasswordEntry("third", "3"));
    EXPECT_EQ(Names(kPassword), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass").size(), 3 * 192u);

    RestartDevice();
    WriteRecords(VaultFile(), {{"pass", std::string(100, 't')}});
    EXPECT_TRUE(Names(kPassword).empty());
}

}  // namespace
