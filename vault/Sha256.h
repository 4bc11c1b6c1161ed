// SHA-256 (FIPS 180-4), for digests the program keeps of secrets instead of the secrets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    using Digest = std::array<unsigned char, 32>;

    Sha256();
    // What was hashed is wiped from the object's buffer when it goes.
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything given since construction; the object is spent after this.
    Digest Final();

private:
    void Compress(const unsigned char* block);

    std::uint32_t m_state[8];
    unsigned char m_buffer[64];
    std::size_t m_buffered = 0;
    std::uint64_t m_totalBytes = 0;
};
