// The vault file's bytes, read around the vault store with Berkeley DB and a separate AES.
#include <gtest/gtest.h>

#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {

const std::string kPassword = "layout99";

TEST_F(VaultTest, MainIsThePictureEncryptedBlockByBlockWithoutSalt) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 3);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    const Records records = ReadRecords(VaultFile());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.at("main"), EcbEncrypt(kPassword, AsBytes(picture)));

    testsupport::TempDir other;
    VaultStore second;
    ASSERT_TRUE(second.SetMasterPassword(picture, other.Path() + "/", kPassword, std::nullopt));
    EXPECT_EQ(ReadRecords(VaultFilePath(other.Path() + "/")).at("main"), records.at("main"));
    RestartDevice();  // closes the second vault before its folder goes
}

TEST_F(VaultTest, PassHoldsOneZeroPaddedRecordOf192BytesPerEntry) {
    MakeVault(kPassword);
    const std::string long70(70, 'n');
    store.AddEntry(directory, kPassword, MakePasswordEntry("bank", "p@ss"));
    store.AddEntry(directory, kPassword, MakePasswordEntry(long70, "x"));

    const Bytes stored = ReadRecords(VaultFile()).at("pass");
    ASSERT_EQ(stored.size(), 2 * 192u);
    const Bytes plain = EcbDecrypt(kPassword, stored);
    const auto field = [&plain](int entry, int index) {
        return plain.substr(entry * 192 + index * 64, 64);
    };
    const auto padded = [](const std::string& text) {
        return text + std::string(64 - text.size(), '\0');
    };
    EXPECT_EQ(field(0, 0), padded("bank"));
    EXPECT_EQ(field(0, 1), padded("normal"));
    EXPECT_EQ(field(0, 2), padded("p@ss"));
    EXPECT_EQ(field(1, 0), padded(long70.substr(0, 62)));
    EXPECT_EQ(field(1, 2), padded("x"));
}

}  // namespace
