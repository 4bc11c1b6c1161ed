// Decoding of the web address on arbitrary digits and keys. Whatever the text, the result
// holds no zero byte, is at most one byte per pair of digits, and only the first six key
// bytes matter; and a text encoded the intended way (lower-case hex, each byte combined
// with the key byte of its place) decodes to itself, less its zero bytes.
//
// Input: a byte of choices, a key of up to 8 bytes, then the digits (or the text to encode).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/WebAddress.h"
#include "fuzz/FuzzInput.h"

namespace {

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

std::string Encode(const std::string& text, const std::string& key) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = static_cast<unsigned char>(text[i]);
        if (!key.empty()) {
            value ^= static_cast<unsigned char>(key[i % key.size()]);
        }
        hex += kDigits[value >> 4];
        hex += kDigits[value & 0xF];
    }
    return hex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input(data, size);
    const std::uint8_t choices = input.Byte();
    const std::string key = input.Text(8);
    const std::string rest = input.Rest();

    const std::string decoded = DecodeAddress(rest, key);
    Require(decoded.size() <= (rest.size() + 1) / 2, "at most one byte per pair of digits");
    Require(decoded.find('\0') == std::string::npos, "no zero byte in the result");
    Require(decoded == DecodeAddress(rest, key.substr(0, 6)), "only six key bytes count");

    if (choices & 1) {
        // The intended use: a key of at most six bytes, and the digits made from the text.
        const std::string usedKey = key.substr(0, 6);
        std::string withoutZeros;
        for (char c : rest) {
            if (c != '\0') {
                withoutZeros += c;
            }
        }
        Require(DecodeAddress(Encode(rest, usedKey), usedKey) == withoutZeros,
                "an encoded text decodes to itself");
    }
    return 0;
}
