// Vault files the program never writes itself: every operation must end with its failure
// result (or a sound reading of what is there) and never read or write past a value.
#include <gtest/gtest.h>
#include <unistd.h>

#include "vault/VaultCipher.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "damaged1";

// Runs every vault operation once; they must all end without harm.
void TouchEverything(VaultStore& store, const std::string& directory) {
    int width = 0, height = 0;
    store.ReadPicture(directory, kPassword, &width, &height);
    EntryList entries;
    store.ListEntries(entries, directory, kPassword);
    PasswordEntry entry;
    store.GetEntry(directory, kPassword, "a", entry);
    store.AddEntry(directory, kPassword, MakePasswordEntry("a", "1"));
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("a", "2"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("a", ""));
}

TEST_F(VaultTest, AFileThatIsNoDatabaseGivesTheFailureResultsAndStaysAsItIs) {
    const std::string junk(30000, 'j');
    testsupport::WriteFile(VaultFile(), junk);
    EXPECT_FALSE(store.VaultExists(directory));
    int width = -1, height = -1;
    EXPECT_EQ(store.ReadPicture(directory, kPassword, &width, &height), nullptr);
    EXPECT_EQ(width, -1);
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, kPassword));
    TouchEverything(store, directory);
    EXPECT_TRUE(ListedNames(kPassword).empty());
    EXPECT_EQ(testsupport::ReadFile(VaultFile()), junk);
}

TEST_F(VaultTest, ATruncatedFileNeverCrashesAndNeverShowsAPartialPicture) {
    MakeVault(kPassword, {"one", "two"});
    RestartDevice();
    const Bytes whole = testsupport::ReadFile(VaultFile());
    for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{8192},
                             std::size_t{16384}, whole.size() / 2, whole.size() - 8192}) {
        SCOPED_TRACE(size);
        testsupport::WriteFile(VaultFile(), whole.substr(0, size));
        VaultStore fresh;
        int width = -1, height = -1;
        EXPECT_EQ(fresh.ReadPicture(directory, kPassword, &width, &height), nullptr);
        EXPECT_EQ(width, -1);
        TouchEverything(fresh, directory);
        RestartDevice();
    }
}

TEST_F(VaultTest, APictureOfTheWrongLengthIsNoPicture) {
    for (int length : {100, kPictureBytes - 16, kPictureBytes + 16}) {
        SCOPED_TRACE(length);
        WriteRecords(VaultFile(), {{"main", Bytes(length, 'm')}});
        RestartDevice();
        EXPECT_TRUE(store.VaultExists(directory));
        int width = -1, height = -1;
        EXPECT_EQ(store.ReadPicture(directory, kPassword, &width, &height), nullptr);
        EXPECT_EQ(width, -1);
        EXPECT_EQ(height, -1);
        RestartDevice();
    }
}

TEST_F(VaultTest, AnEntryListWithABrokenTailUsesItsWholeEntries) {
    MakeVault(kPassword, {"first", "second"});
    RestartDevice();
    Bytes pass = ReadRecords(VaultFile()).at("pass");
    pass += Bytes(100, 't');
    WriteRecords(VaultFile(), {{"pass", pass}});
    RestartDevice();

    EXPECT_EQ(ListedNames(kPassword), (std::vector<std::string>{"first", "second"}));
    store.AddEntry(directory, kPassword, MakePasswordEntry("third", "3"));
    EXPECT_EQ(ListedNames(kPassword), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass").size(), 3 * 192u);

    WriteRecords(VaultFile(), {{"pass", Bytes(100, 't')}});
    RestartDevice();
    EXPECT_TRUE(ListedNames(kPassword).empty());
}

}  // namespace
