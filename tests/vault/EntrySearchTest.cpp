#include "vault/EntrySearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vault/VaultCipher.h"

namespace {

const std::string kPassword = "search-pw1";

// Entries named "n0", "n1"... with passwords "pw-0", "pw-1"..., encrypted as the vault
// stores them; the entry at duplicateAt (if any) is named as the one at 100.
std::string EncryptedList(int count, int duplicateAt = -1) {
    std::string list;
    for (int i = 0; i < count; ++i) {
        const std::string name = "n" + std::to_string(i == duplicateAt ? 100 : i);
        const PasswordEntry entry = MakePasswordEntry(name, "pw-" + std::to_string(i));
        list.append(reinterpret_cast<const char*>(&entry), kEntrySize);
    }
    EXPECT_TRUE(EncryptVaultBuffer(kPassword, reinterpret_cast<unsigned char*>(&list[0]),
                                   static_cast<int>(list.size())));
    return list;
}

// Hands list (from its byte from on) to search in pieces whose lengths take the sizes in turn.
void Feed(EntrySearch& search, const std::string& list, const std::vector<std::size_t>& sizes,
          std::size_t from = 0) {
    for (std::size_t at = from, turn = 0; at < list.size(); ++turn) {
        const std::size_t bytes = std::min(sizes[turn % sizes.size()], list.size() - at);
        search.Take(reinterpret_cast<const unsigned char*>(list.data()) + at, bytes);
        at += bytes;
    }
}

// The password of the entry the search finds, or "-" when it finds none.
std::string Search(const std::string& list, const std::string& name,
                   const std::vector<std::size_t>& sizes) {
    const VaultDecryptor decryptor(kPassword);
    EntrySearch search(decryptor, name);
    Feed(search, list, sizes);
    PasswordEntry found{};
    return search.Found(found) ? std::string(FieldText(found.password)) : "-";
}

}  // namespace

// Whole, byte by byte, or cut anywhere, also within a name and at the edges of the batches of
// names decrypted together: the first entry of the name is found, and only that one.
TEST(EntrySearchTest, FindsTheFirstEntryOfTheNameWhereverThePiecesCutTheList) {
    const std::string list = EncryptedList(300, 250);
    const std::vector<std::vector<std::size_t>> cuts = {
        {list.size()}, {1}, {191, 193}, {7, 500, 64 * kEntrySize}, {kEntrySize * 64 + 10}};
    for (const auto& sizes : cuts) {
        SCOPED_TRACE("first piece " + std::to_string(sizes[0]));
        EXPECT_EQ(Search(list, "n0", sizes), "pw-0");
        EXPECT_EQ(Search(list, "n63", sizes), "pw-63");
        EXPECT_EQ(Search(list, "n64", sizes), "pw-64");
        EXPECT_EQ(Search(list, "n100", sizes), "pw-100");  // not the later one at 250
        EXPECT_EQ(Search(list, "n299", sizes), "pw-299");
        EXPECT_EQ(Search(list, "n1", sizes), "pw-1");  // not "n10" nor "n100"
        EXPECT_EQ(Search(list, "n250", sizes), "-");
        EXPECT_EQ(Search(list, "n", sizes), "-");
    }
    // A tail shorter than an entry is not one.
    EXPECT_EQ(Search(list.substr(0, list.size() - 1), "n299", {4096}), "-");
}

// A list read again from its start after a read that stopped part-way: nothing of the first
// read counts, neither an entry found in it nor the start of an entry it cut.
TEST(EntrySearchTest, ARestartForgetsEverythingTakenBefore) {
    const std::string list = EncryptedList(200);
    const VaultDecryptor decryptor(kPassword);
    {
        EntrySearch search(decryptor, "n5");
        Feed(search, list.substr(0, 20 * kEntrySize), {1000});
        search.Restart();
        Feed(search, EncryptedList(3), {1000});
        PasswordEntry found{};
        EXPECT_FALSE(search.Found(found));
    }
    {
        EntrySearch search(decryptor, "n150");
        Feed(search, list.substr(0, 10 * kEntrySize + 77), {1000});
        search.Restart();
        Feed(search, list, {1000});
        PasswordEntry found{};
        ASSERT_TRUE(search.Found(found));
        EXPECT_EQ(FieldText(found.password), "pw-150");
    }
}
