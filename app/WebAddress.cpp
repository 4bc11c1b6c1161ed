#include "app/WebAddress.h"

#include "app/BuildSettings.h"

namespace {

constexpr std::size_t kKeyLength = 6;

int DigitValue(char digit) {
    const int c = static_cast<unsigned char>(digit);
    return digit >= '0' && digit <= '9' ? c - 48 : c - 87;
}

}  // namespace

std::string DecodeAddress(std::string_view hex, std::string_view key) {
    std::string out;
    const std::size_t keyLength = key.size() < kKeyLength ? key.size() : kKeyLength;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        // An odd text's last digit is paired with the zero that terminates the text, which
        // counts like any other non-decimal character.
        const int high = DigitValue(hex[i]);
        const int low = DigitValue(i + 1 < hex.size() ? hex[i + 1] : '\0');
        // Reduced modulo 256 the way a byte holds it, also for digits below '0'.
        unsigned value = static_cast<unsigned>(high * 16 + low) & 0xFFu;
        if (keyLength != 0) {
            value ^= static_cast<unsigned char>(key[(i / 2) % keyLength]);
        }
        if (value != 0) {
            out.push_back(static_cast<char>(value));
        }
    }
    return out;
}

std::string WebLinkAddress() {
    return DecodeAddress(buildsettings::kStoredWebAddress, buildsettings::kWebAddressKey);
}
