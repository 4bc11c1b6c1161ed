// Reads a fuzzer's input as a sequence of choices: small numbers and byte strings taken from
// the front. When the input runs out every choice is zero or empty, so any input is valid.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t Byte() { return m_position < m_size ? m_data[m_position++] : 0; }

    std::uint16_t Word() {
        const std::uint16_t high = Byte();
        return static_cast<std::uint16_t>(high << 8 | Byte());
    }

    // Up to length bytes (fewer when the input ends).
    std::string Bytes(std::size_t length) {
        const std::size_t take = std::min(length, m_size - m_position);
        std::string bytes(reinterpret_cast<const char*>(m_data + m_position), take);
        m_position += take;
        return bytes;
    }

    // A string whose length (0 to maxLength) is the next byte.
    std::string Text(std::size_t maxLength) { return Bytes(Byte() % (maxLength + 1)); }

    // What is left of the input.
    std::string Rest() { return Bytes(m_size - m_position); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// length bytes made by repeating pattern (zeros for an empty pattern).
inline std::string Repeated(const std::string& pattern, std::size_t length) {
    std::string bytes(length, '\0');
    if (!pattern.empty()) {
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = pattern[i % pattern.size()];
        }
    }
    return bytes;
}

}  // namespace fuzzing
