#include "vault/PasswordEntry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "support/TempDir.h"
#include "vault/ProgramDirectory.h"

namespace {

const Ombrix::LocalTime kWhen{2013, 12, 5, 9, 30, 7};
const std::string kStamp = "_20131205093007";

EntryList Entries(const std::vector<std::string>& names) {
    EntryList entries;
    for (const std::string& name : names) {
        entries.push_back(MakePasswordEntry(name, "x"));
    }
    return entries;
}

TEST(PasswordEntryTest, FieldsHoldAtMost62BytesAndAreReadWithinTheirSize) {
    const PasswordEntry entry = MakePasswordEntry(std::string(70, 'a'), "pw");
    EXPECT_EQ(FieldText(entry.name), std::string(62, 'a'));
    EXPECT_EQ(entry.name[62], '\0');
    EXPECT_EQ(entry.name[63], '\0');
    EXPECT_EQ(FieldText(entry.kind), "normal");
    EXPECT_EQ(std::string(entry.password + 2, 62), std::string(62, '\0'));

    PasswordEntry full;
    std::memset(&full, 'z', sizeof full);
    EXPECT_EQ(FieldText(full.name), std::string(64, 'z'));
    NormalizeEntry(full);
    EXPECT_EQ(FieldText(full.password), std::string(62, 'z'));
    EXPECT_EQ(std::string(full.kind + 62, 2), std::string(2, '\0'));

    // Text after an embedded zero byte is not stored.
    EXPECT_EQ(FieldText(MakePasswordEntry(std::string("ab\0cd", 5), "").name), "ab");
}

TEST(RenameDuplicateTest, CutsToFortySevenBytesAndAddsTheMoment) {
    EXPECT_EQ(RenameDuplicate("mail", Entries({"mail"}), kWhen), "mail" + kStamp);
    const std::string long60(60, 'L');
    EXPECT_EQ(RenameDuplicate(long60, Entries({long60}), kWhen), std::string(47, 'L') + kStamp);
    EXPECT_EQ(RenameDuplicate("free", Entries({"mail"}), kWhen), "free");
}

TEST(RenameDuplicateTest, ATakenRenamedNameIsRenamedAgain) {
    EXPECT_EQ(RenameDuplicate("mail", Entries({"mail", "mail" + kStamp}), kWhen),
              "mail" + kStamp + kStamp);
}

TEST(RenameDuplicateTest, LongNamesThatRenameToThemselvesGetANumber) {
    const std::string long50(50, 'L');
    const std::string renamed = std::string(47, 'L') + kStamp;
    EntryList entries = Entries({long50, renamed});
    std::set<std::string> names{long50, renamed};
    for (int i = 1; i <= 12; ++i) {
        const std::string name = RenameDuplicate(long50, entries, kWhen);
        EXPECT_LE(name.size(), 62u);
        EXPECT_TRUE(names.insert(name).second) << name;
        entries.push_back(MakePasswordEntry(name, "x"));
    }
    EXPECT_EQ(entries[2].name, std::string(45, 'L') + kStamp + "_1");
    EXPECT_EQ(entries[13].name, std::string(44, 'L') + kStamp + "_12");
}

TEST(ProgramDirectoryTest, IsTheFolderOfTheRunningProgram) {
    const std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.front(), '/');
    EXPECT_EQ(directory.back(), '/');
    EXPECT_TRUE(testsupport::FileExists(directory + program_invocation_short_name));
}

}  // namespace
