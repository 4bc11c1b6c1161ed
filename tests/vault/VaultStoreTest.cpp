#include "vault/VaultStore.h"

#include <cerrno>
#include <cstring>

#include "framework/LocalTime.h"
#include "vault/ProgramDirectory.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "secret12";

std::string Stamp(const Ombrix::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "_%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

TEST_F(VaultTest, ThePictureOpensOnlyWithItsMasterPassword) {
    EXPECT_FALSE(store.VaultExists(directory));
    EXPECT_TRUE(ReadRecords(VaultFile()).empty());  // created, without records
    Ombrix::Data<unsigned char> picture;
    for (int length : {kPictureBytes - 1, kPictureBytes + 1, 0}) {
        MakePicture(picture, 5, length);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    }
    MakePicture(picture, 5);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, "short12", std::nullopt));
    EXPECT_TRUE(ReadRecords(VaultFile()).empty());

    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    EXPECT_TRUE(store.VaultExists(directory));
    EXPECT_TRUE(Names(kPassword).empty());
    int width = 0, height = 0;
    EXPECT_EQ(AsBytes(store.ReadPicture(directory, kPassword, &width, &height)),
              AsBytes(picture.m_pBuffer));
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 128);
    const unsigned char* scrambled = store.ReadPicture(directory, "wrong123", &width, &height);
    ASSERT_NE(scrambled, nullptr);
    EXPECT_NE(AsBytes(scrambled), AsBytes(picture.m_pBuffer));
    width = -1;
    EXPECT_EQ(store.ReadPicture(directory, "short12", &width, &height), nullptr);
    EXPECT_EQ(width, -1);

    // The stored bytes are the picture under AES-128 ECB with nothing added (no salt, so
    // equal pictures under equal passwords give equal vaults).
    EXPECT_EQ(ReadRecords(VaultFile()),
              (Records{{"main", Ecb(kPassword, AsBytes(picture.m_pBuffer))}}));
}

TEST_F(VaultTest, EntriesAreStoredAsZeroPaddedRecordsInTheOrderAdded) {
    MakeVault(kPassword, {"mail", "bank", std::string(70, 'n')});
    const std::string plain = Ecb<CryptoPP::ECB_Mode<CryptoPP::AES>::Decryption>(
        kPassword, ReadRecords(VaultFile()).at("pass"));
    ASSERT_EQ(plain.size(), 3 * 192u);
    const auto padded = [](std::string text) { return text.append(64 - text.size(), '\0'); };
    EXPECT_EQ(plain.substr(192, 192), padded("bank") + padded("normal") + padded("pw-bank"));
    EXPECT_EQ(plain.substr(384, 64), padded(std::string(62, 'n')));

    EntryList listed;
    store.ListEntries(listed, directory, kPassword);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(std::string(listed[1].password, 64), std::string(64, '\0'));
    EXPECT_EQ(PasswordOf(kPassword, "bank"), "pw-bank");
    EXPECT_EQ(PasswordOf(kPassword, "Bank"), "<none>");  // exact, case-sensitive names
    EXPECT_EQ(PasswordOf(kPassword, "ban"), "<none>");
}

TEST_F(VaultTest, ModifyKeepsThePlaceAndDeleteClosesTheGap) {
    MakeVault(kPassword, {"mail", "bank", "shop"});
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("bank", ""));
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("mail", "changed"));
    EXPECT_EQ(Names(kPassword), (std::vector<std::string>{"mail", "shop"}));
    EXPECT_EQ(PasswordOf(kPassword, "mail"), "changed");
    EXPECT_EQ(PasswordOf(kPassword, "shop"), "pw-shop");

    store.DeleteEntry(directory, kPassword, MakePasswordEntry("mail", ""));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("shop", ""));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), "");
    store.AddEntry(directory, kPassword, MakePasswordEntry("again", "2"));
    EXPECT_EQ(Names(kPassword), std::vector<std::string>{"again"});
}

TEST_F(VaultTest, AbsentNamesAndShortPasswordsWriteNothing) {
    MakeVault(kPassword);
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("nobody", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("nobody", ""));
    EXPECT_EQ(ReadRecords(VaultFile()).count("pass"), 0u);

    store.AddEntry(directory, kPassword, MakePasswordEntry("one", "1"));
    const Records before = ReadRecords(VaultFile());
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("two", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("two", ""));
    store.AddEntry(directory, "short12", MakePasswordEntry("new", "1"));
    store.ModifyEntry(directory, "short12", MakePasswordEntry("one", "x"));
    store.DeleteEntry(directory, "short12", MakePasswordEntry("one", ""));
    EXPECT_TRUE(Names("short12").empty());
    EXPECT_EQ(ReadRecords(VaultFile()), before);
}

TEST_F(VaultTest, ADuplicateNameGetsTheTimeOfAdding) {
    const std::string long60(60, 'L');
    MakeVault(kPassword, {"mail", long60});
    const Ombrix::LocalTime before = Ombrix::CurrentLocalTime();
    store.AddEntry(directory, kPassword, MakePasswordEntry("mail", "second"));
    store.AddEntry(directory, kPassword, MakePasswordEntry(long60, "second"));
    const Ombrix::LocalTime after = Ombrix::CurrentLocalTime();
    const auto names = Names(kPassword);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_TRUE(names[2] == "mail" + Stamp(before) || names[2] == "mail" + Stamp(after));
    EXPECT_TRUE(names[3] == std::string(47, 'L') + Stamp(before) ||
                names[3] == std::string(47, 'L') + Stamp(after));
    EXPECT_EQ(PasswordOf(kPassword, "mail"), "pw-mail");
}

TEST(RenameDuplicateTest, ANameThatRenamesToItselfGetsANumber) {
    const Ombrix::LocalTime when{2013, 12, 5, 9, 30, 7};
    const std::string stamp = "_20131205093007";
    EntryList entries{MakePasswordEntry("mail", ""), MakePasswordEntry("mail" + stamp, "")};
    EXPECT_EQ(RenameDuplicate("mail", entries, when), "mail" + stamp + stamp);

    const std::string long50(50, 'L');
    entries = {MakePasswordEntry(long50, ""), MakePasswordEntry(std::string(47, 'L') + stamp, "")};
    for (int i = 0; i < 10; ++i) {
        entries.push_back(MakePasswordEntry(RenameDuplicate(long50, entries, when), ""));
    }
    EXPECT_EQ(FieldText(entries[2].name), std::string(45, 'L') + stamp + "_1");
    EXPECT_EQ(FieldText(entries[11].name), std::string(44, 'L') + stamp + "_10");
}

TEST_F(VaultTest, FieldsWithoutTerminatorAreCutAndNeverReadPastTheirEnd) {
    MakeVault(kPassword);
    PasswordEntry full;
    std::memset(&full, 'F', sizeof full);
    store.AddEntry(directory, kPassword, full);
    PasswordEntry found;
    ASSERT_TRUE(store.GetEntry(directory, kPassword, std::string(62, 'F'), found));
    EXPECT_EQ(std::string(found.password, 64), std::string(62, 'F') + std::string(2, '\0'));
    // A wrong password decrypts to fields that may hold no zero byte at all.
    EXPECT_EQ(Names("wrong123").size(), 1u);
    EXPECT_EQ(PasswordOf("wrong123", std::string(62, 'F')), "<none>");
}

TEST(ProgramDirectoryTest, IsTheFolderOfTheRunningProgram) {
    const std::string directory = ProgramDirectory();
    ASSERT_EQ(directory.front(), '/');
    EXPECT_EQ(directory.back(), '/');
    EXPECT_TRUE(testsupport::FileExists(directory + program_invocation_short_name));
}

}  // namespace
