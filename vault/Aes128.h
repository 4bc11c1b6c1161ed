// AES-128 on whole 16-byte blocks, each block on its own: the one transformation the vault
// needs. Where the processor has AES instructions they do the work, eight blocks in flight;
// elsewhere a plain byte-wise implementation does. Both give the blocks of FIPS-197.
#pragma once

#include <cstddef>

class Aes128 {
public:
    enum class Direction { kEncrypt, kDecrypt };

    Aes128() = default;
    // The round keys are wiped: they are as secret as the key.
    ~Aes128();
    Aes128(const Aes128&) = delete;
    Aes128& operator=(const Aes128&) = delete;

    // Makes the round keys of the 16 bytes at key for one direction, with the processor's
    // instructions when ProcessorInstructionsInUse() says so at this moment.
    void SetKey(const unsigned char* key, Direction direction);

    // Transforms blocks 16-byte blocks from in into out, which is in itself or does not
    // overlap it. Without a key set, does nothing. Inline, with the way chosen when the key
    // was set: the vault's reads call it for every field.
    void Process(const unsigned char* in, unsigned char* out, std::size_t blocks) const {
        if (m_process != nullptr && blocks != 0) {
            m_process(m_roundKeys, in, out, blocks);
        }
    }

    // Whether ciphers keyed from now on use the processor's AES instructions: where there are
    // any and they are allowed (the default). The tests compare the two ways.
    static bool ProcessorInstructionsInUse();
    static void AllowProcessorInstructions(bool allowed);

private:
    using BlockFunction = void (*)(const unsigned char (*roundKeys)[16], const unsigned char* in,
                                   unsigned char* out, std::size_t blocks);

    alignas(16) unsigned char m_roundKeys[11][16] = {};
    BlockFunction m_process = nullptr;
};
