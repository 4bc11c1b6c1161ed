#include <gtest/gtest.h>

#include <string>

#include "app/WebAddress.h"

// Each pair of digits is one byte, combined with the key byte of the pair's number; a digit
// counts its character minus 87 (so 'a'..'f' are 10..15), a last odd digit pairs with zero,
// and a pair whose result is zero adds nothing but still counts.
TEST(WebAddressTest, DecodesPairsKeyedByTheirNumber) {
    const struct {
        std::string hex, key, expected;
    } cases[] = {
        {"00000000000000", "qmvxte", "qmvxteq"},  // the seventh pair takes key byte 0 again
        {"1002021d181315", "qmvxte", "aotelvd"},
        {"711c", "qmvxte", "q"},  // 0x71 ^ 'q' is zero, 0x1c ^ 'm' is 'q'
        {"6a6B", "", "jK"},       // 'B' - 87 = -21: 96 - 21 = 'K'
        {"A0", "", "\xA0"},       // (65 - 87) * 16 mod 256
        {"007", "qm", std::string("q") + static_cast<char>(25 ^ 'm')},  // '7' * 16 + (0 - 87)
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeAddress(c.hex, c.key), c.expected) << c.hex << " with " << c.key;
    }
    // The stored form decodes to the configured address.
    EXPECT_EQ(WebLinkAddress(), FERROCASK_WEB_ADDRESS);
}
