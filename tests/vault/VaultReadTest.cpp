// The vault's read paths: the decryptor against Crypto++'s AES both ways, and the list and
// lookup reads that decrypt only what they hand out.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <cryptopp/rijndael.h>

#include "support/TestVault.h"
#include "vault/VaultCipher.h"
#include "vault/VaultDecryptor.h"
#include "vault/VaultStore.h"

namespace {

std::vector<unsigned char> RandomBytes(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(length);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

class ProcessorInstructions : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { VaultDecryptor::AllowProcessorInstructions(GetParam()); }
    void TearDown() override { VaultDecryptor::AllowProcessorInstructions(true); }
};

}  // namespace

TEST_P(ProcessorInstructions, DecryptsAsCryptoppDoesAndLeavesAPartialTail) {
    // Lengths around the eight-block batches, passwords of every key-building length.
    for (const std::size_t length : {0, 15, 16, 127, 128, 129, 144, 1000, 4099}) {
        for (const std::string password :
             {"abcdefgh", "0123456789abcdef", "a longer passphrase!"}) {
            const std::vector<unsigned char> stored = RandomBytes(length, length * 31u + 7);
            VaultKey key;
            DeriveVaultKeyInto(password, key);
            CryptoPP::Rijndael::Decryption reference(key, key.size());
            std::vector<unsigned char> expected = stored;
            for (std::size_t at = 0; at + 16 <= length; at += 16) {
                reference.ProcessBlock(&expected[at]);
            }
            const VaultDecryptor decryptor(password);
            std::vector<unsigned char> apart(length, 0xEE), inPlace = stored;
            decryptor.Decrypt(stored.data(), apart.data(), length);
            decryptor.Decrypt(inPlace.data(), inPlace.data(), length);
            const std::size_t whole = length / 16 * 16;
            EXPECT_EQ(inPlace, expected) << length << " " << password;
            EXPECT_TRUE(std::equal(apart.begin(), apart.begin() + whole, expected.begin()));
            EXPECT_TRUE(std::all_of(apart.begin() + whole, apart.end(),
                                    [](unsigned char c) { return c == 0xEE; }));
        }
    }
    EXPECT_THROW(VaultDecryptor("short"), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(BothWays, ProcessorInstructions, ::testing::Bool());

TEST(VaultReadTest, ListsNamesAndKindsOnlyAndLooksUpAcrossBatches) {
    const std::string master = "read-test-1";
    testsupport::TestVault vault;
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 130; ++i) {  // more than two batches of names
        entries.emplace_back("name-" + std::to_string(i), "secret-" + std::to_string(i));
    }
    entries.emplace_back("name-64", "second of that name");
    vault.Create(master, 1);
    for (const auto& [name, password] : entries) {  // one write, duplicate name kept
        vault.store.m_entries.push_back(MakePasswordEntry(name, password));
    }
    ASSERT_TRUE(vault.store.SaveEntries(vault.Directory(), master, false));
    vault.store.m_entries.clear();

    // A list used before, longer than the vault's, is reused and cut to it.
    EntryList listed(200, MakePasswordEntry("old", "old password"));
    vault.store.ListEntries(listed, vault.Directory(), master);
    ASSERT_EQ(listed.size(), entries.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(FieldText(listed[i].name), entries[i].first);
        EXPECT_EQ(FieldText(listed[i].kind), "normal");
        EXPECT_TRUE(std::all_of(std::begin(listed[i].password), std::end(listed[i].password),
                                [](char c) { return c == 0; }));
    }

    PasswordEntry found{};
    for (const int i : {0, 63, 64, 65, 127, 128, 129}) {
        ASSERT_TRUE(vault.store.GetEntry(vault.Directory(), master, entries[i].first, found));
        EXPECT_EQ(FieldText(found.password), entries[i].second);
        EXPECT_EQ(FieldText(found.name), entries[i].first);
    }
    // The first of two entries of one name; an absent name leaves out as it was.
    ASSERT_TRUE(vault.store.GetEntry(vault.Directory(), master, "name-64", found));
    EXPECT_EQ(FieldText(found.password), "secret-64");
    EXPECT_FALSE(vault.store.GetEntry(vault.Directory(), master, "name-130", found));
    EXPECT_EQ(FieldText(found.name), "name-64");
    EXPECT_FALSE(vault.store.GetEntry(vault.Directory(), "not-the-master", "name-1", found));
    EXPECT_FALSE(vault.store.GetEntry(vault.Directory(), "short", "name-1", found));

    // A master password too short for a key lists nothing; one that is wrong lists noise.
    vault.store.ListEntries(listed, vault.Directory(), "short");
    EXPECT_TRUE(listed.empty());
    vault.store.ListEntries(listed, vault.Directory(), "not-the-master");
    EXPECT_EQ(listed.size(), entries.size());
    EXPECT_NE(FieldText(listed[0].name), "name-0");
}
