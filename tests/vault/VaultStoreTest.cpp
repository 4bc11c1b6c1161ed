#include "vault/VaultStore.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <cerrno>
#include <cstring>

#include "framework/LocalTime.h"
#include "vault/ProgramDirectory.h"
#include "vault/VaultCipher.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "secret12";

// AES-128 in ECB mode under the vault key of password, done by Crypto++'s own mode class.
template <class Direction = CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption>
std::string Ecb(const std::string& password, std::string bytes) {
    const VaultKey key = DeriveVaultKey(password);
    Direction cipher(key.data(), key.size());
    auto* data = reinterpret_cast<CryptoPP::byte*>(bytes.data());
    cipher.ProcessData(data, data, bytes.size());
    return bytes;
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
    EXPECT_TRUE(Entries(kPassword).empty());
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

// Entries are stored as records of three zero-padded 64-byte fields, in the order added, and
// found by their exact name; fields without a terminator are cut and never read past.
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

    PasswordEntry full;
    std::memset(&full, 'F', sizeof full);
    store.AddEntry(directory, kPassword, full);
    PasswordEntry found;
    ASSERT_TRUE(store.GetEntry(directory, kPassword, std::string(62, 'F'), found));
    EXPECT_EQ(std::string(found.password, 64), std::string(62, 'F') + std::string(2, '\0'));
    // A wrong password decrypts to fields that may hold no zero byte at all.
    EXPECT_EQ(Entries("wrong123").size(), 4u);
    EXPECT_EQ(PasswordOf("wrong123", std::string(62, 'F')), "<none>");
}

// A change keeps the entry's place and a removal closes the gap; a change or removal of an
// absent name, or anything under a too short password, writes nothing.
TEST_F(VaultTest, ModifyKeepsThePlaceDeleteClosesTheGapAndMisfitsWriteNothing) {
    MakeVault(kPassword);
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("nobody", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("nobody", ""));
    EXPECT_EQ(ReadRecords(VaultFile()).count("pass"), 0u);

    for (const char* name : {"mail", "bank", "shop"}) {
        store.AddEntry(directory, kPassword, MakePasswordEntry(name, std::string("pw-") + name));
    }
    const Records before = ReadRecords(VaultFile());
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("two", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("two", ""));
    store.AddEntry(directory, "short12", MakePasswordEntry("new", "1"));
    store.ModifyEntry(directory, "short12", MakePasswordEntry("mail", "x"));
    store.DeleteEntry(directory, "short12", MakePasswordEntry("mail", ""));
    EXPECT_TRUE(Entries("short12").empty());
    EXPECT_EQ(ReadRecords(VaultFile()), before);

    store.DeleteEntry(directory, kPassword, MakePasswordEntry("bank", ""));
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("mail", "changed"));
    EXPECT_EQ(Entries(kPassword), (std::vector<std::string>{"mail=changed", "shop=pw-shop"}));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("mail", ""));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("shop", ""));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), "");
    store.AddEntry(directory, kPassword, MakePasswordEntry("again", "2"));
    EXPECT_EQ(Entries(kPassword), std::vector<std::string>{"again=2"});
}

// A name taken already gets the time of adding, cut to fit the field; a name that renames to
// itself as well gets a number.
TEST_F(VaultTest, ADuplicateNameGetsTheTimeOfAdding) {
    const auto stamp = [](const Ombrix::LocalTime& t) {
        char text[32];
        std::snprintf(text, sizeof text, "_%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
        return std::string(text);
    };
    const std::string long60(60, 'L');
    MakeVault(kPassword, {"mail", long60});
    const Ombrix::LocalTime before = Ombrix::CurrentLocalTime();
    store.AddEntry(directory, kPassword, MakePasswordEntry("mail", "second"));
    store.AddEntry(directory, kPassword, MakePasswordEntry(long60, "second"));
    const Ombrix::LocalTime after = Ombrix::CurrentLocalTime();
    const auto names = Entries(kPassword);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_TRUE(names[2] == "mail" + stamp(before) + "=second" ||
                names[2] == "mail" + stamp(after) + "=second");
    EXPECT_TRUE(names[3] == std::string(47, 'L') + stamp(before) + "=second" ||
                names[3] == std::string(47, 'L') + stamp(after) + "=second");
    EXPECT_EQ(PasswordOf(kPassword, "mail"), "pw-mail");

    const Ombrix::LocalTime when{2013, 12, 5, 9, 30, 7};
    const std::string fixed = "_20131205093007";
    EntryList entries{MakePasswordEntry("mail", ""), MakePasswordEntry("mail" + fixed, "")};
    EXPECT_EQ(RenameDuplicate("mail", entries, when), "mail" + fixed + fixed);
    const std::string long50(50, 'L');
    entries = {MakePasswordEntry(long50, ""), MakePasswordEntry(std::string(47, 'L') + fixed, "")};
    for (int i = 0; i < 10; ++i) {
        entries.push_back(MakePasswordEntry(RenameDuplicate(long50, entries, when), ""));
    }
    EXPECT_EQ(FieldText(entries[2].name), std::string(45, 'L') + fixed + "_1");
    EXPECT_EQ(FieldText(entries[11].name), std::string(44, 'L') + fixed + "_10");
}

TEST(ProgramDirectoryTest, IsTheFolderOfTheRunningProgram) {
    const std::string directory = ProgramDirectory();
    ASSERT_EQ(directory.front(), '/');
    EXPECT_EQ(directory.back(), '/');
    EXPECT_TRUE(testsupport::FileExists(directory + program_invocation_short_name));
}

}  // namespace
