#include "vault/VaultCipher.h"

#include <gtest/gtest.h>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes KeyBytes(const VaultKey& key) {
    return Bytes(key.begin(), key.end());
}

Bytes Hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

unsigned char Shifted(char c) {
    return static_cast<unsigned char>(c + kVaultKeyOffset);
}

TEST(VaultKeyTest, ShortPasswordsRepeatWithTheOffsetAdded) {
    const std::string eight = "abcd1234";
    Bytes expected(eight.begin(), eight.end());
    for (char c : eight) {
        expected.push_back(Shifted(c));
    }
    EXPECT_EQ(KeyBytes(DeriveVaultKey(eight)), expected);

    const std::string fifteen = "abcdefgh1234567";
    expected.assign(fifteen.begin(), fifteen.end());
    expected.push_back(Shifted('a'));
    EXPECT_EQ(KeyBytes(DeriveVaultKey(fifteen)), expected);
}

TEST(VaultKeyTest, LongPasswordsUseTheirFirstSixteenBytes) {
    const std::string sixteen = "0123456789abcdef";
    EXPECT_EQ(KeyBytes(DeriveVaultKey(sixteen)), Bytes(sixteen.begin(), sixteen.end()));
    EXPECT_EQ(KeyBytes(DeriveVaultKey(sixteen + "X")), KeyBytes(DeriveVaultKey(sixteen)));
    EXPECT_EQ(KeyBytes(DeriveVaultKey(sixteen + std::string(24, 'z'))),
              KeyBytes(DeriveVaultKey(sixteen)));
}

TEST(VaultKeyTest, TheOffsetWrapsWithinEachByte) {
    // Every byte value appears once; no addition may carry into its neighbour.
    std::string password;
    for (int i = 0; i < 8; ++i) {
        password.push_back(static_cast<char>(0xF8 + i));
    }
    const Bytes key = KeyBytes(DeriveVaultKey(password));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(key[8 + i], static_cast<unsigned char>((0xF8 + i + kVaultKeyOffset) % 256));
    }
}

TEST(VaultKeyTest, RefusesPasswordsShorterThanEightBytes) {
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

TEST(VaultCipherTest, EncryptsEachBlockOnItsOwn) {
    const std::string password = "secret42";
    Bytes buffer(49152);
    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<unsigned char>(i * 7 % 251);
    }
    Bytes expected(buffer.size());
    const VaultKey key = DeriveVaultKey(password);
    CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption reference(key, key.size());
    reference.ProcessData(expected.data(), buffer.data(), buffer.size());

    ASSERT_TRUE(EncryptVaultBuffer(password, buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_EQ(buffer, expected);
}

TEST(VaultCipherTest, EqualPlainBlocksGiveEqualCipherBlocks) {
    Bytes buffer(192, 0);
    ASSERT_TRUE(EncryptVaultBuffer("samepassw0rd", buffer.data(), 192));
    EXPECT_TRUE(std::equal(buffer.begin() + 16, buffer.begin() + 32, buffer.begin() + 160));
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

TEST(VaultCipherTest, PasswordsSharingSixteenBytesReadEachOther) {
    Bytes buffer(64, 0x5C), plain = buffer;
    ASSERT_TRUE(EncryptVaultBuffer("0123456789abcdefXYZ", buffer.data(), 64));
    ASSERT_TRUE(DecryptVaultBuffer(std::string("0123456789abcdef") + std::string(24, 'q'),
                                   buffer.data(), 64));
    EXPECT_EQ(buffer, plain);
}

TEST(VaultCipherTest, RefusalsChangeNothing) {
    Bytes buffer(32, 0x11), original = buffer;
    EXPECT_FALSE(EncryptVaultBuffer("short1", buffer.data(), 32));
    EXPECT_FALSE(DecryptVaultBuffer("", buffer.data(), 32));
    EXPECT_FALSE(EncryptVaultBuffer("longenough1", nullptr, 32));
    EXPECT_FALSE(EncryptVaultBuffer("longenough1", buffer.data(), -16));
    EXPECT_EQ(buffer, original);
}

TEST(VaultCipherTest, ATrailingPartialBlockIsLeftAlone) {
    Bytes buffer(40, 0x33);
    ASSERT_TRUE(EncryptVaultBuffer("longenough1", buffer.data(), 40));
    EXPECT_NE(Bytes(buffer.begin(), buffer.begin() + 16), Bytes(16, 0x33));
    EXPECT_EQ(Bytes(buffer.begin() + 32, buffer.end()), Bytes(8, 0x33));
}

TEST(VaultCipherTest, WorksOnTheUsedPartOfADataBuffer) {
    Ombrix::Data<unsigned char> data(64);
    Bytes plain(48, 0x7A);
    data.Append(plain.data(), 48);
    ASSERT_TRUE(EncryptVaultBuffer("longenough1", data));
    EXPECT_NE(Bytes(data.m_pBuffer, data.m_pBuffer + 48), plain);
    ASSERT_TRUE(DecryptVaultBuffer("longenough1", data));
    EXPECT_EQ(Bytes(data.m_pBuffer, data.m_pBuffer + 48), plain);

    Ombrix::Data<unsigned char> empty;
    EXPECT_TRUE(EncryptVaultBuffer("longenough1", empty));
    EXPECT_FALSE(EncryptVaultBuffer("short", empty));
}

}  // namespace
