// The vault's only cipher: AES-128 under a key made from the master password, each 16-byte
// block encrypted on its own (no chaining, no IV, no padding). The vault file format depends
// on every detail here, so none of it may change.
#pragma once

#include <cstddef>
#include <string_view>

#include "framework/Data.h"
#include "framework/SecureWipe.h"

constexpr int kVaultKeySize = 16;
constexpr int kVaultBlockSize = 16;
constexpr int kMinMasterPasswordLength = 8;

// The byte added to the repeated part of a short master password. Fixed per build and never
// stored: builds that must read each other's vaults must agree on it.
extern const unsigned char kVaultKeyOffset;

// A key that wipes itself when it goes out of scope.
class VaultKey {
public:
    VaultKey() = default;
    VaultKey(const VaultKey& other) : VaultKey() { *this = other; }
    VaultKey& operator=(const VaultKey& other) {
        for (std::size_t i = 0; i < size(); ++i) {
            m_bytes[i] = other.m_bytes[i];
        }
        return *this;
    }
    ~VaultKey() { Ombrix::SecureWipe(m_bytes, sizeof m_bytes); }

    unsigned char* data() { return m_bytes; }
    const unsigned char* data() const { return m_bytes; }
    static constexpr std::size_t size() { return kVaultKeySize; }
    unsigned char& operator[](std::size_t i) { return m_bytes[i]; }
    unsigned char operator[](std::size_t i) const { return m_bytes[i]; }
    const unsigned char* begin() const { return m_bytes; }
    const unsigned char* end() const { return m_bytes + kVaultKeySize; }

private:
    unsigned char m_bytes[kVaultKeySize] = {};
};

// The 16-byte key of a master password of at least 8 bytes: the password is repeated, with
// the offset added to every byte of the repetition, until it reaches 16 bytes; then cut to
// 16. Throws std::invalid_argument for a shorter password.
VaultKey DeriveVaultKey(std::string_view masterPassword);
// The same, written into key (for a key that lives in locked memory).
void DeriveVaultKeyInto(std::string_view masterPassword, VaultKey& key);
// The same with another build's offset: what that build derives from the password.
void DeriveVaultKeyInto(std::string_view masterPassword, VaultKey& key, unsigned char keyOffset);

// Encrypts (or decrypts) in place every whole 16-byte block of the buffer. The key and the
// cipher's key schedule live in locked memory while the work runs. A trailing
// partial block is never touched. Returns false, changing nothing, for a master password
// shorter than 8 bytes, a null buffer or a negative length.
bool EncryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length);
bool DecryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length);
// The same under the key another build, of offset keyOffset, derives from the password: for
// reading (or, in tests, making) a vault of that build.
bool EncryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length,
                        unsigned char keyOffset);
bool DecryptVaultBuffer(std::string_view masterPassword, unsigned char* buffer, int length,
                        unsigned char keyOffset);

// The same on the used part of a buffer.
bool EncryptVaultBuffer(std::string_view masterPassword, Ombrix::Data<unsigned char>& buffer);
bool DecryptVaultBuffer(std::string_view masterPassword, Ombrix::Data<unsigned char>& buffer);
