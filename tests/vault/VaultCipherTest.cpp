#include "vault/VaultCipher.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes KeyOf(const std::string& password) {
    const VaultKey key = DeriveVaultKey(password);
    return Bytes(key.begin(), key.end());
}

Bytes Hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// A short password is repeated with the offset added to each byte of the repetition (within
// the byte: no addition carries into its neighbour), then cut to 16 bytes.
TEST(VaultKeyTest, ShortPasswordsRepeatWithTheOffsetAdded) {
    for (const std::string& password : {std::string("abcd1234"), std::string("ab\xfd\xfe\xff!12"),
                                        std::string("abcdefgh1234567")}) {
        Bytes expected(password.begin(), password.end());
        for (std::size_t i = 0; expected.size() < 16; ++i) {
            expected.push_back(static_cast<unsigned char>(password[i] + kVaultKeyOffset));
        }
        EXPECT_EQ(KeyOf(password), expected) << password;
    }
}

TEST(VaultKeyTest, LongPasswordsUseTheirFirstSixteenBytesAndShortOnesAreRefused) {
    const std::string sixteen = "0123456789abcdef";
    EXPECT_EQ(KeyOf(sixteen), Bytes(sixteen.begin(), sixteen.end()));
    EXPECT_EQ(KeyOf(sixteen + "X"), KeyOf(sixteen));
    EXPECT_EQ(KeyOf(sixteen + std::string(24, 'z')), KeyOf(sixteen));
    EXPECT_THROW(DeriveVaultKey("abc1234"), std::invalid_argument);
    EXPECT_THROW(DeriveVaultKey(""), std::invalid_argument);
}

TEST(VaultCipherTest, MatchesTheAes128KnownAnswer) {
    // The AES-128 example vector: the password is the 16 key bytes themselves.
    const Bytes keyBytes = Hex("000102030405060708090a0b0c0d0e0f");
    const std::string password(keyBytes.begin(), keyBytes.end());
    Bytes block = Hex("00112233445566778899aabbccddeeff");
    ASSERT_TRUE(EncryptVaultBuffer(password, block.data(), 16));
    EXPECT_EQ(block, Hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
    ASSERT_TRUE(DecryptVaultBuffer(password, block.data(), 16));
    EXPECT_EQ(block, Hex("00112233445566778899aabbccddeeff"));
}

// Each whole block is encrypted on its own, as Crypto++'s ECB mode does it under the derived
// key; a trailing partial block is left alone.
TEST(VaultCipherTest, EncryptsEachBlockOnItsOwnAndLeavesATrailingPartialBlock) {
    for (const std::string password : {"secret42", "0123456789abcdefXYZ"}) {
        Bytes buffer(49152 + 8);
        for (size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = static_cast<unsigned char>(i * 7 % 251);
        }
        Bytes expected = buffer;
        const VaultKey key = DeriveVaultKey(password);
        CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption reference(key, key.size());
        reference.ProcessData(expected.data(), buffer.data(), 49152);
        ASSERT_TRUE(EncryptVaultBuffer(password, buffer.data(), static_cast<int>(buffer.size())));
        EXPECT_EQ(buffer, expected) << password;
    }
}

TEST(VaultCipherTest, RoundTripRestoresAndAnotherKeyScramblesEveryBlock) {
    Bytes plain(192 * 3);
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<unsigned char>(i);
    }
    Bytes buffer = plain;
    ASSERT_TRUE(EncryptVaultBuffer("rightpass1", buffer.data(), static_cast<int>(buffer.size())));
    Bytes wrong = buffer;
    ASSERT_TRUE(DecryptVaultBuffer("rightpass1", buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_EQ(buffer, plain);

    ASSERT_TRUE(DecryptVaultBuffer("wrongpass1", wrong.data(), static_cast<int>(wrong.size())));
    for (size_t b = 0; b < plain.size(); b += 16) {
        EXPECT_FALSE(std::equal(plain.begin() + b, plain.begin() + b + 16, wrong.begin() + b))
            << "block " << b / 16;
    }
}

// A too short password, a null buffer or a negative length is refused and changes nothing;
// a data buffer is worked on in its used part.
TEST(VaultCipherTest, RefusalsChangeNothingAndADataBufferIsWorkedOnInItsUsedPart) {
    Bytes buffer(32, 0x11), original = buffer;
    EXPECT_FALSE(EncryptVaultBuffer("short1", buffer.data(), 32));
    EXPECT_FALSE(DecryptVaultBuffer("", buffer.data(), 32));
    EXPECT_FALSE(EncryptVaultBuffer("longenough1", nullptr, 32));
    EXPECT_FALSE(EncryptVaultBuffer("longenough1", buffer.data(), -16));
    EXPECT_EQ(buffer, original);

    Ombrix::Data<unsigned char> data(64);
    Bytes plain(48, 0x7A), expected = plain;
    data.Append(plain.data(), 48);
    ASSERT_TRUE(EncryptVaultBuffer("longenough1", expected.data(), 48));
    ASSERT_TRUE(EncryptVaultBuffer("longenough1", data));
    EXPECT_EQ(Bytes(data.m_pBuffer, data.m_pBuffer + 48), expected);
    ASSERT_TRUE(DecryptVaultBuffer("longenough1", data));
    EXPECT_EQ(Bytes(data.m_pBuffer, data.m_pBuffer + 48), plain);
    Ombrix::Data<unsigned char> empty;
    EXPECT_TRUE(EncryptVaultBuffer("longenough1", empty));
    EXPECT_FALSE(EncryptVaultBuffer("short", empty));
}

}  // namespace
