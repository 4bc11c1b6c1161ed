// Decryption of vault blocks under one master password, with one key set-up for many calls:
// the list's reads decrypt field by field (with Aes128: the processor's AES instructions
// where there are any). The key and its round keys live in locked memory that is wiped when
// the decryptor goes.
#pragma once

#include <cstddef>
#include <string_view>

#include "framework/MemoryLock.h"

class VaultDecryptor {
public:
    // Throws std::invalid_argument for a master password shorter than 8 bytes.
    explicit VaultDecryptor(std::string_view masterPassword);
    VaultDecryptor(std::string_view masterPassword, unsigned char keyOffset);
    ~VaultDecryptor();
    VaultDecryptor(const VaultDecryptor&) = delete;
    VaultDecryptor& operator=(const VaultDecryptor&) = delete;

    // Decrypts the whole 16-byte blocks of the length bytes at in into out, which is in
    // itself or does not overlap it. A trailing partial block is neither read nor written.
    void Decrypt(const unsigned char* in, unsigned char* out, std::size_t length) const;

private:
    struct Schedule;
    Ombrix::LockedBox<Schedule> m_schedule;
};
