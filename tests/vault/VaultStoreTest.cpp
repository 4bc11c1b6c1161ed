#include "vault/VaultStore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "framework/LocalTime.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "secret12";

std::string Stamp(const Ombrix::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

TEST_F(VaultTest, AFreshDirectoryGetsAnEmptyVaultFileAndNoVault) {
    EXPECT_FALSE(store.VaultExists(directory));
    EXPECT_TRUE(testsupport::FileExists(VaultFile()));
    EXPECT_TRUE(ReadRecords(VaultFile()).empty());

    int width = -1, height = -1;
    EXPECT_EQ(store.ReadPicture(directory, kPassword, &width, &height), nullptr);
    EXPECT_EQ(width, -1);
    EXPECT_TRUE(ListedNames(kPassword).empty());
}

TEST_F(VaultTest, ThePictureOpensOnlyWithItsMasterPassword) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 5);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    EXPECT_TRUE(store.VaultExists(directory));
    EXPECT_TRUE(ListedNames(kPassword).empty());
    EXPECT_EQ(ReadRecords(VaultFile()).count("pass"), 0u);

    int width = 0, height = 0;
    const unsigned char* shown = store.ReadPicture(directory, kPassword, &width, &height);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 128);
    EXPECT_EQ(AsBytes(shown, kPictureBytes), AsBytes(picture));

    width = height = 0;
    shown = store.ReadPicture(directory, "wrong123", &width, &height);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(width, 128);
    EXPECT_NE(AsBytes(shown, kPictureBytes), AsBytes(picture));

    width = -1;
    EXPECT_EQ(store.ReadPicture(directory, "short12", &width, &height), nullptr);
    EXPECT_EQ(width, -1);
}

TEST_F(VaultTest, SettingAPasswordRefusesWrongPicturesAndShortPasswords) {
    Ombrix::Data<unsigned char> picture;
    for (int length : {kPictureBytes - 1, kPictureBytes + 1, 0}) {
        MakePicture(picture, 1, length);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt))
            << length;
    }
    MakePicture(picture, 1);
    EXPECT_FALSE(store.SetMasterPassword(picture, directory, "short12", std::nullopt));
    EXPECT_FALSE(store.VaultExists(directory));
    EXPECT_TRUE(ReadRecords(VaultFile()).empty());
}

TEST_F(VaultTest, EntriesKeepTheirOrderThroughModifyAndDelete) {
    MakeVault(kPassword, {"mail", "bank", "shop"});
    EntryList listed;
    store.ListEntries(listed, directory, kPassword);
    ASSERT_EQ(Names(listed), (std::vector<std::string>{"mail", "bank", "shop"}));
    for (const PasswordEntry& entry : listed) {
        EXPECT_EQ(FieldText(entry.kind), "normal");
        EXPECT_EQ(std::string(entry.password, 64), std::string(64, '\0'));
    }

    PasswordEntry found;
    ASSERT_TRUE(store.GetEntry(directory, kPassword, "bank", found));
    EXPECT_EQ(FieldText(found.password), "pw-bank");

    store.DeleteEntry(directory, kPassword, MakePasswordEntry("bank", ""));
    EXPECT_EQ(ListedNames(kPassword), (std::vector<std::string>{"mail", "shop"}));

    store.ModifyEntry(directory, kPassword, MakePasswordEntry("mail", "changed"));
    EXPECT_EQ(ListedNames(kPassword), (std::vector<std::string>{"mail", "shop"}));
    ASSERT_TRUE(store.GetEntry(directory, kPassword, "mail", found));
    EXPECT_EQ(FieldText(found.password), "changed");
    ASSERT_TRUE(store.GetEntry(directory, kPassword, "shop", found));
    EXPECT_EQ(FieldText(found.password), "pw-shop");
}

TEST_F(VaultTest, NamesMatchExactlyAndAMissingNameLeavesTheResultUntouched) {
    MakeVault(kPassword, {"Bank"});
    PasswordEntry out = MakePasswordEntry("untouched", "x");
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "bank", out));
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "Ban", out));
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "Bank ", out));
    EXPECT_EQ(FieldText(out.name), "untouched");
    EXPECT_TRUE(store.GetEntry(directory, kPassword, "Bank", out));
}

TEST_F(VaultTest, ModifyingOrDeletingAnAbsentNameWritesNothing) {
    MakeVault(kPassword);
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("nobody", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("nobody", ""));
    EXPECT_EQ(ReadRecords(VaultFile()).count("pass"), 0u);

    store.AddEntry(directory, kPassword, MakePasswordEntry("one", "1"));
    const Records before = ReadRecords(VaultFile());
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("two", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("two", ""));
    EXPECT_EQ(ReadRecords(VaultFile()), before);
}

TEST_F(VaultTest, DeletingTheLastEntryLeavesAnEmptyListThatLaterAdditionsReuse) {
    MakeVault(kPassword, {"only"});
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("only", ""));
    EXPECT_EQ(ReadRecords(VaultFile()).at("pass"), "");
    EXPECT_TRUE(ListedNames(kPassword).empty());
    store.AddEntry(directory, kPassword, MakePasswordEntry("again", "2"));
    EXPECT_EQ(ListedNames(kPassword), std::vector<std::string>{"again"});
}

TEST_F(VaultTest, AShortMasterPasswordWritesNothing) {
    MakeVault(kPassword, {"kept"});
    const Records before = ReadRecords(VaultFile());
    store.AddEntry(directory, "short12", MakePasswordEntry("new", "1"));
    store.ModifyEntry(directory, "short12", MakePasswordEntry("kept", "1"));
    store.DeleteEntry(directory, "short12", MakePasswordEntry("kept", ""));
    EXPECT_TRUE(ListedNames("short12").empty());
    EXPECT_EQ(ReadRecords(VaultFile()), before);
}

TEST_F(VaultTest, ADuplicateNameGetsTheTimeOfAdding) {
    const std::string long60(60, 'L');
    MakeVault(kPassword, {"mail", long60});
    const Ombrix::LocalTime before = Ombrix::CurrentLocalTime();
    store.AddEntry(directory, kPassword, MakePasswordEntry("mail", "second"));
    store.AddEntry(directory, kPassword, MakePasswordEntry(long60, "second"));
    const Ombrix::LocalTime after = Ombrix::CurrentLocalTime();

    const auto names = ListedNames(kPassword);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "mail");
    EXPECT_EQ(names[1], long60);
    const std::regex stamped("_(\\d{14})$");
    std::smatch match;
    for (const auto& [name, kept] :
         {std::pair{names[2], std::string("mail")}, std::pair{names[3], std::string(47, 'L')}}) {
        ASSERT_TRUE(std::regex_search(name, match, stamped)) << name;
        EXPECT_EQ(name.substr(0, name.size() - 15), kept);
        EXPECT_TRUE(match[1] == Stamp(before) || match[1] == Stamp(after)) << name;
    }
    PasswordEntry found;
    ASSERT_TRUE(store.GetEntry(directory, kPassword, "mail", found));
    EXPECT_EQ(FieldText(found.password), "pw-mail");
}

TEST_F(VaultTest, RepeatedLongDuplicatesAlwaysEndWithUniqueNamesThatFit) {
    const std::string long60(60, 'L');
    MakeVault(kPassword, {long60});
    for (int i = 0; i < 4; ++i) {
        store.AddEntry(directory, kPassword, MakePasswordEntry(long60, std::to_string(i)));
    }
    auto names = ListedNames(kPassword);
    ASSERT_EQ(names.size(), 5u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    for (const std::string& name : names) {
        EXPECT_LE(name.size(), 62u);
        EXPECT_EQ(name.substr(0, 40), long60.substr(0, 40));
    }
}

TEST_F(VaultTest, FieldsWithoutTerminatorAreCutAndNeverReadPastTheirEnd) {
    MakeVault(kPassword);
    PasswordEntry full;
    std::memset(full.name, 'N', sizeof full.name);
    std::memset(full.kind, 'K', sizeof full.kind);
    std::memset(full.password, 'P', sizeof full.password);
    store.AddEntry(directory, kPassword, full);
    PasswordEntry found;
    ASSERT_TRUE(store.GetEntry(directory, kPassword, std::string(62, 'N'), found));
    EXPECT_EQ(FieldText(found.password), std::string(62, 'P'));
    EXPECT_EQ(found.password[62], '\0');
    EXPECT_EQ(found.name[63], '\0');

    // A wrong master password decrypts to fields without any zero byte; they are listed and
    // compared within their 64 bytes.
    EntryList scrambled;
    store.ListEntries(scrambled, directory, "wrong123");
    ASSERT_EQ(scrambled.size(), 1u);
    EXPECT_LE(FieldText(scrambled[0].name).size(), 64u);
    EXPECT_FALSE(store.GetEntry(directory, "wrong123", std::string(62, 'N'), found));
}

}  // namespace
