// The program's own AES-128 and SHA-256 against the standards' examples and against Crypto++
// as a reference, with and without the processor's AES instructions.
#include <cryptopp/aes.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "vault/Aes128.h"
#include "vault/Sha256.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

Bytes RandomBytes(std::size_t length, std::mt19937& random) {
    Bytes bytes(length);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

class Aes128BothWays : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Aes128::AllowProcessorInstructions(GetParam());
        if (GetParam() && !Aes128::ProcessorInstructionsInUse()) {
            GTEST_SKIP() << "this processor has no AES instructions";
        }
    }
    void TearDown() override { Aes128::AllowProcessorInstructions(true); }
};

// FIPS-197, appendix C.1, and its inverse; in place and into another buffer.
TEST_P(Aes128BothWays, GivesTheStandardsExample) {
    const Bytes key = FromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
    const Bytes cipher = FromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    Aes128 encryption, decryption;
    encryption.SetKey(key.data(), Aes128::Direction::kEncrypt);
    decryption.SetKey(key.data(), Aes128::Direction::kDecrypt);
    Bytes out(16);
    encryption.Process(plain.data(), out.data(), 1);
    EXPECT_EQ(out, cipher);
    decryption.Process(out.data(), out.data(), 1);
    EXPECT_EQ(out, plain);
}

// Random keys and runs of blocks around the eight-block batches, both directions, against
// Crypto++ block by block; a cipher without a key leaves everything alone.
TEST_P(Aes128BothWays, TransformsEveryBlockAsCryptoppDoes) {
    std::mt19937 random(11);
    for (const std::size_t blocks : {1, 7, 8, 9, 16, 17, 100}) {
        const Bytes key = RandomBytes(16, random);
        const Bytes input = RandomBytes(blocks * 16, random);
        Bytes encrypted(input.size()), decrypted(input.size());
        CryptoPP::AES::Encryption referenceEncryption(key.data(), key.size());
        CryptoPP::AES::Decryption referenceDecryption(key.data(), key.size());
        for (std::size_t at = 0; at < input.size(); at += 16) {
            referenceEncryption.ProcessBlock(&input[at], &encrypted[at]);
            referenceDecryption.ProcessBlock(&input[at], &decrypted[at]);
        }
        Aes128 encryption, decryption;
        encryption.SetKey(key.data(), Aes128::Direction::kEncrypt);
        decryption.SetKey(key.data(), Aes128::Direction::kDecrypt);
        Bytes out(input.size());
        encryption.Process(input.data(), out.data(), blocks);
        EXPECT_EQ(out, encrypted) << blocks << " blocks";
        decryption.Process(out.data(), out.data(), blocks);
        EXPECT_EQ(out, input) << blocks << " blocks, back";
        decryption.Process(input.data(), out.data(), blocks);
        EXPECT_EQ(out, decrypted) << blocks << " blocks decrypted";
        // From and to buffers that are not 16-byte aligned.
        Bytes from(input.size() + 1), to(input.size() + 3);
        std::copy(input.begin(), input.end(), from.begin() + 1);
        encryption.Process(from.data() + 1, to.data() + 3, blocks);
        EXPECT_TRUE(std::equal(encrypted.begin(), encrypted.end(), to.begin() + 3))
            << blocks << " blocks, unaligned";
    }
    const Aes128 unkeyed;
    Bytes untouched(32, 0x5a);
    unkeyed.Process(untouched.data(), untouched.data(), 2);
    EXPECT_EQ(untouched, Bytes(32, 0x5a));
}

INSTANTIATE_TEST_SUITE_P(ProcessorAndBytewise, Aes128BothWays, ::testing::Bool());

std::string Hex(const Sha256::Digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string DigestOf(const std::string& text) {
    Sha256 sha;
    sha.Update(text.data(), text.size());
    return Hex(sha.Final());
}

// FIPS 180-4's examples (one block, two blocks, a million bytes) and the empty text.
TEST(Sha256Test, GivesTheStandardsExamples) {
    EXPECT_EQ(DigestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestOf(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Every length around the block and padding boundaries, given whole or in pieces of
// another size, against Crypto++.
TEST(Sha256Test, AgreesWithCryptoppAtEveryLengthAndAnySplit) {
    std::mt19937 random(5);
    for (std::size_t length = 0; length <= 200; ++length) {
        const Bytes text = RandomBytes(length, random);
        Sha256::Digest expected;
        CryptoPP::SHA256().CalculateDigest(expected.data(), text.data(), text.size());
        Sha256 whole;
        whole.Update(text.data(), text.size());
        EXPECT_EQ(whole.Final(), expected) << length;
        Sha256 pieces;
        const std::size_t piece = 1 + length % 13;
        for (std::size_t at = 0; at < length; at += piece) {
            pieces.Update(text.data() + at, std::min(piece, length - at));
        }
        EXPECT_EQ(pieces.Final(), expected) << length << " in pieces of " << piece;
    }
}

}  // namespace
