#include <gtest/gtest.h>

#include <string>

#include "app/WebAddress.h"

namespace {

// Encodes text the way the stored form is meant to be made: each byte combined with key
// byte (position mod 6), two lower-case hex digits.
std::string Encode(const std::string& text, const std::string& key) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned value =
            static_cast<unsigned char>(text[i]) ^ static_cast<unsigned char>(key[i % key.size()]);
        hex += kDigits[value >> 4];
        hex += kDigits[value & 0xF];
    }
    return hex;
}

}  // namespace

TEST(WebAddressTest, DecodesEachPairWithTheKeyByteOfItsPairNumber) {
    // "qm" xor "qm" is zero twice; then 'a' ^ 'v' etc.: pairs are keyed by their number,
    // the seventh with key byte 0 again.
    EXPECT_EQ(DecodeAddress("00000000000000", "qmvxte"), "qmvxteq");
    EXPECT_EQ(DecodeAddress(Encode("abcdefgh", "qmvxte"), "qmvxte"), "abcdefgh");
    EXPECT_EQ(DecodeAddress("", "qmvxte"), "");
    // A zero result adds nothing but still counts as a pair: 0x71 is 'q' (key byte 0), the
    // next pair is still keyed with byte 1; in the seventh place one character only drops.
    EXPECT_EQ(DecodeAddress("71" + Encode("Xm", "qmvxte").substr(2), "qmvxte"), "m");
    EXPECT_EQ(DecodeAddress(Encode("abcdef", "qmvxte") + "71" + Encode("zz", "qmvxte").substr(2),
                            "qmvxte"),
              "abcdefz");
    EXPECT_EQ(DecodeAddress("716d7678", "qmvx"), "");
    // The stored form decodes to the configured address.
    EXPECT_EQ(WebLinkAddress(), FERROCASK_WEB_ADDRESS);
}

TEST(WebAddressTest, OddDigitsCountTheirCharacterMinus87AndALastOneIsPairedWithZero) {
    // 'a'..'f' are 10..15; 'B' - 87 = -21: 96 - 21 = 'K'.
    EXPECT_EQ(DecodeAddress("4142", ""), "AB");
    EXPECT_EQ(DecodeAddress("6a6B", ""), "jK");
    // Upper-case 'A' (65 - 87 = -22) paired with '0': (-22 * 16) mod 256 = 0xA0.
    EXPECT_EQ(DecodeAddress("A0", ""), std::string(1, static_cast<char>(0xA0)));
    // "4F": 4 * 16 + (70 - 87) = 47, '/'.
    EXPECT_EQ(DecodeAddress("4F", ""), "/");
    // An odd last digit pairs with the terminating zero: '7' * 16 + (0 - 87) = 25, keyed
    // like any pair (pair 1 with 'm').
    EXPECT_EQ(DecodeAddress("417", ""), std::string("A") + static_cast<char>(25));
    EXPECT_EQ(DecodeAddress("007", "qm"), std::string("q") + static_cast<char>(25 ^ 'm'));
}
