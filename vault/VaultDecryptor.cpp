#include "vault/VaultDecryptor.h"

#include "framework/SecureWipe.h"
#include "vault/Aes128.h"
#include "vault/VaultCipher.h"

// The key too lives here while the round keys are made: one locked block for both, so that
// a decryptor locks and unlocks memory once.
struct VaultDecryptor::Schedule {
    VaultKey key;
    Aes128 cipher;
};

VaultDecryptor::VaultDecryptor(std::string_view masterPassword)
    : VaultDecryptor(masterPassword, kVaultKeyOffset) {}

VaultDecryptor::VaultDecryptor(std::string_view masterPassword, unsigned char keyOffset) {
    VaultKey& key = m_schedule->key;
    DeriveVaultKeyInto(masterPassword, key, keyOffset);  // throws for a short password
    m_schedule->cipher.SetKey(key.data(), Aes128::Direction::kDecrypt);
    Ombrix::SecureWipe(key.data(), key.size());
}

VaultDecryptor::~VaultDecryptor() = default;

void VaultDecryptor::Decrypt(const unsigned char* in, unsigned char* out,
                             std::size_t length) const {
    m_schedule->cipher.Process(in, out, length / kVaultBlockSize);
}
