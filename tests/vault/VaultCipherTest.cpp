// The vault key and cipher, and the read paths' decryptor both ways, against Crypto++.
#include "vault/VaultCipher.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "support/TestVault.h"
#include "vault/Aes128.h"
#include "vault/VaultDecryptor.h"
#include "vault/VaultStore.h"

namespace {
using Bytes = std::vector<unsigned char>;

Bytes RandomBytes(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

// A short password is repeated with the offset added to each byte (no carry into its
// neighbour) and cut to 16 bytes; a longer one is cut; one under 8 bytes is refused.
TEST(VaultKeyTest, ShortPasswordsRepeatWithTheOffsetAddedAndLongOnesAreCut) {
    for (const std::string password : {"abcd1234", "ab\xfd\xfe\xff!12", "abcdefgh1234567",
                                       "0123456789abcdef", "0123456789abcdef-and-more"}) {
        Bytes expected(password.begin(), password.begin() + std::min(password.size(), 16ul));
        for (std::size_t i = 0; expected.size() < 16; ++i) {
            expected.push_back(static_cast<unsigned char>(password[i] + kVaultKeyOffset));
        }
        const VaultKey key = DeriveVaultKey(password);
        EXPECT_EQ(Bytes(key.begin(), key.end()), expected) << password;
    }
    EXPECT_THROW(DeriveVaultKey("abc1234"), std::invalid_argument);
}

// As Crypto++'s ECB mode under the derived key, a trailing partial block left alone.
TEST(VaultCipherTest, EncryptsAsEcbAndOnlyTheRightKeyRestores) {
    for (const std::string password : {"secret42", "0123456789abcdefXYZ"}) {
        const Bytes plain = RandomBytes(49152 + 8, 3);
        Bytes buffer = plain, expected = plain;
        const VaultKey key = DeriveVaultKey(password);
        CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption(key.data(), key.size())
            .ProcessData(expected.data(), plain.data(), 49152);
        ASSERT_TRUE(EncryptVaultBuffer(password, buffer.data(), 49152 + 8));
        EXPECT_EQ(buffer, expected) << password;
        Bytes wrong = buffer;
        ASSERT_TRUE(DecryptVaultBuffer(password, buffer.data(), 49152 + 8));
        EXPECT_EQ(buffer, plain);
        ASSERT_TRUE(DecryptVaultBuffer("wrongpass1", wrong.data(), 49152));
        for (size_t b = 0; b < 49152; b += 16) {
            ASSERT_FALSE(std::equal(plain.begin() + b, plain.begin() + b + 16, wrong.begin() + b))
                << "block " << b / 16;
        }
    }
    // A too short password, a null buffer or a negative length is refused.
    Bytes buffer(32, 0x11), original = buffer;
    EXPECT_FALSE(EncryptVaultBuffer("short1", buffer.data(), 32));
    EXPECT_FALSE(DecryptVaultBuffer("", buffer.data(), 32));
    EXPECT_FALSE(EncryptVaultBuffer("longenough1", nullptr, 32));
    EXPECT_FALSE(EncryptVaultBuffer("longenough1", buffer.data(), -16));
    EXPECT_EQ(buffer, original);
}

class ProcessorInstructions : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { Aes128::AllowProcessorInstructions(GetParam()); }
    void TearDown() override { Aes128::AllowProcessorInstructions(true); }
};

TEST_P(ProcessorInstructions, DecryptsAsCryptoppDoesAndLeavesAPartialTail) {
    // Lengths around the eight-block batches, passwords of every key-building length.
    for (const std::size_t length : {0, 15, 16, 127, 128, 129, 144, 1000, 4099}) {
        for (const std::string password :
             {"abcdefgh", "0123456789abcdef", "a longer passphrase!"}) {
            const Bytes stored = RandomBytes(length, length * 31u + 7);
            const VaultKey key = DeriveVaultKey(password);
            CryptoPP::AES::Decryption reference(key.data(), key.size());
            Bytes expected = stored;
            for (std::size_t at = 0; at + 16 <= length; at += 16) {
                reference.ProcessBlock(&expected[at]);
            }
            const VaultDecryptor decryptor(password);
            Bytes apart(length, 0xEE), inPlace = stored;
            decryptor.Decrypt(stored.data(), apart.data(), length);
            decryptor.Decrypt(inPlace.data(), inPlace.data(), length);
            EXPECT_EQ(inPlace, expected) << length << " " << password;
            std::fill(expected.begin() + length / 16 * 16, expected.end(), 0xEE);
            EXPECT_EQ(apart, expected) << "the tail is left alone";
        }
    }
    EXPECT_THROW(VaultDecryptor("short"), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(BothWays, ProcessorInstructions, ::testing::Bool());

TEST(VaultReadTest, ListsNamesAndKindsOnlyAndLooksUpAcrossBatches) {
    const std::string master = "read-test-1";
    testsupport::TestVault vault;
    VaultStore& store = vault.store;
    const std::string& at = vault.Directory();
    const auto name = [](int i) { return "name-" + std::to_string(i == 130 ? 64 : i); };
    vault.Create(master, 1);
    for (int i = 0; i <= 130; ++i) {  // more than two batches; the last one's name is taken
        store.m_entries.push_back(MakePasswordEntry(name(i), "secret-" + std::to_string(i)));
    }
    ASSERT_TRUE(store.SaveEntries(at, master, false));
    store.m_entries.clear();
    EntryList listed(200, MakePasswordEntry("old", "old password"));
    store.ListEntries(listed, at, master);
    ASSERT_EQ(listed.size(), 131u);
    for (int i = 0; i <= 130; ++i) {
        EXPECT_EQ(FieldText(listed[i].name), name(i));
        EXPECT_EQ(FieldText(listed[i].kind), "normal");
        EXPECT_EQ(std::string(listed[i].password, 64), std::string(64, '\0'));
    }
    PasswordEntry found{};
    for (const int i : {0, 63, 64, 65, 127, 128, 129}) {  // the first of the two name-64s
        ASSERT_TRUE(store.GetEntry(at, master, name(i), found));
        EXPECT_EQ(FieldText(found.password), "secret-" + std::to_string(i));
    }
    // An absent name, a wrong or too short master password: the entry stays as it was.
    EXPECT_FALSE(store.GetEntry(at, master, "name-130", found));
    EXPECT_FALSE(store.GetEntry(at, master, std::string_view(), found));  // no name at all
    EXPECT_FALSE(store.GetEntry(at, "not-the-master", "name-1", found));
    EXPECT_FALSE(store.GetEntry(at, "short", "name-1", found));
    EXPECT_EQ(FieldText(found.name), "name-129");
    store.ListEntries(listed, at, "short");
    EXPECT_TRUE(listed.empty());
    store.ListEntries(listed, at, "not-the-master");
    EXPECT_EQ(listed.size(), 131u);
    EXPECT_NE(FieldText(listed[0].name), "name-0");
}
}  // namespace
