#include "vault/VaultCipher.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "framework/MemoryLock.h"
#include "vault/Aes128.h"
#include "vault/VaultDecryptor.h"

const unsigned char kVaultKeyOffset = FERROCASK_KEY_OFFSET;

namespace {

// The key and the cipher's round keys, together in memory that is locked while they live
// and wiped when they go.
struct EncryptionWithKey {
    VaultKey key;
    Aes128 cipher;
};

// What both directions refuse: a password too short to make a key, or no buffer.
bool Processable(std::string_view masterPassword, const unsigned char* buffer, int length) {
    return masterPassword.size() >= kMinMasterPasswordLength && buffer != nullptr && length >= 0;
}

}  // namespace

bool EncryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length,
                        unsigned char keyOffset) {
    if (!Processable(masterPassword, buffer, length)) {
        return false;
    }
    const size_t wholeBlocks = static_cast<size_t>(length) / kVaultBlockSize;
    if (wholeBlocks == 0) {
        return true;
    }
    Ombrix::LockedBox<EncryptionWithKey> state;
    DeriveVaultKeyInto(masterPassword, state->key, keyOffset);
    state->cipher.SetKey(state->key.data(), Aes128::Direction::kEncrypt);
    // Every block is transformed on its own, which is what the stored format requires.
    state->cipher.Process(buffer, buffer, wholeBlocks);
    return true;
}

void DeriveVaultKeyInto(std::string_view masterPassword, VaultKey& key) {
    DeriveVaultKeyInto(masterPassword, key, kVaultKeyOffset);
}

void DeriveVaultKeyInto(std::string_view masterPassword, VaultKey& key, unsigned char keyOffset) {
    if (masterPassword.size() < kMinMasterPasswordLength) {
        throw std::invalid_argument("master password shorter than 8 bytes");
    }
    // Only the first 16 bytes of the repeated text ever matter, so it is built in the key
    // itself: each round appends, with the offset added, as much of what is there as fits.
    constexpr size_t kKeySize = kVaultKeySize;
    size_t length = std::min(masterPassword.size(), kKeySize);
    std::memcpy(key.data(), masterPassword.data(), length);
    while (length < kKeySize) {
        const size_t appended = std::min(length, kKeySize - length);
        for (size_t i = 0; i < appended; ++i) {
            key[length + i] = static_cast<unsigned char>(key[i] + keyOffset);
        }
        length *= 2;
    }
}

VaultKey DeriveVaultKey(std::string_view masterPassword) {
    VaultKey key;
    DeriveVaultKeyInto(masterPassword, key);
    return key;
}

bool EncryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length) {
    return EncryptVaultBuffer(masterPassword, buffer, length, kVaultKeyOffset);
}

bool DecryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length) {
    return DecryptVaultBuffer(masterPassword, buffer, length, kVaultKeyOffset);
}

bool DecryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length,
                        unsigned char keyOffset) {
    if (!Processable(masterPassword, buffer, length)) {
        return false;
    }
    VaultDecryptor(masterPassword, keyOffset).Decrypt(buffer, buffer, static_cast<size_t>(length));
    return true;
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
