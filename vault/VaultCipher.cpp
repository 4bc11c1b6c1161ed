#include "vault/VaultCipher.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <cryptopp/rijndael.h>

const unsigned char kVaultKeyOffset = FERROCASK_KEY_OFFSET;

namespace {

template <class Cipher>
bool ProcessVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length) {
    if (masterPassword.size() < kMinMasterPasswordLength || buffer == nullptr || length < 0) {
        return false;
    }
    const size_t wholeBlocks = static_cast<size_t>(length) / kVaultBlockSize;
    if (wholeBlocks == 0) {
        return true;
    }
    const VaultKey key = DeriveVaultKey(masterPassword);
    // The cipher's key schedule lives in Crypto++'s own wiping buffers.
    Cipher cipher(key, key.size());
    // No XOR input and no flags: every block is transformed on its own, exactly as if it
    // were processed one at a time, which is what the stored format requires.
    cipher.AdvancedProcessBlocks(buffer, nullptr, buffer, wholeBlocks * kVaultBlockSize, 0);
    return true;
}

}  // namespace

VaultKey DeriveVaultKey(std::string_view masterPassword) {
    if (masterPassword.size() < kMinMasterPasswordLength) {
        throw std::invalid_argument("master password shorter than 8 bytes");
    }
    // Only the first 16 bytes of the working copy ever matter, so the copy is capped there;
    // the doubling with the offset on the appended half is the same for that prefix.
    CryptoPP::SecByteBlock work(reinterpret_cast<const CryptoPP::byte*>(masterPassword.data()),
                                std::min<size_t>(masterPassword.size(), kVaultKeySize));
    while (work.size() < kVaultKeySize) {
        const size_t n = work.size();
        CryptoPP::SecByteBlock doubled(2 * n);
        std::memcpy(doubled.data(), work.data(), n);
        for (size_t i = 0; i < n; ++i) {
            doubled[n + i] = static_cast<CryptoPP::byte>(work[i] + kVaultKeyOffset);
        }
        work.swap(doubled);
    }
    VaultKey key;
    std::memcpy(key.data(), work.data(), kVaultKeySize);
    return key;
}

bool EncryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length) {
    return ProcessVaultBuffer<CryptoPP::Rijndael::Encryption>(masterPassword, buffer, length);
}

bool DecryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length) {
    return ProcessVaultBuffer<CryptoPP::Rijndael::Decryption>(masterPassword, buffer, length);
}

bool EncryptVaultBuffer(std::string_view masterPassword, Ombrix::Data<unsigned char>& buffer) {
    if (buffer.m_nLength == 0) {
        return masterPassword.size() >= kMinMasterPasswordLength;
    }
    return EncryptVaultBuffer(masterPassword, buffer.m_pBuffer, buffer.m_nLength);
}

bool DecryptVaultBuffer(std::string_view masterPassword, Ombrix::Data<unsigned char>& buffer) {
    if (buffer.m_nLength == 0) {
        return masterPassword.size() >= kMinMasterPasswordLength;
    }
    return DecryptVaultBuffer(masterPassword, buffer.m_pBuffer, buffer.m_nLength);
}
