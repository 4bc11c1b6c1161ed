#include <gtest/gtest.h>

#include "framework/SecretString.h"
#include "platform/FileDialog.h"
#include "platform/Painting.h"
#include "platform/TextCodec.h"
#include "resources/Texts.h"

using namespace platform;

namespace {

wxString U(const char* utf8) {
    return wxString::FromUTF8(utf8);
}

}  // namespace

TEST(TextCodecTest, ChineseNamesTravelAsGb18030Bytes) {
    const std::optional<std::string> bytes = DisplayToGb18030(U("名字 ab"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, std::string("\xC3\xFB\xD7\xD6 ab"));
    EXPECT_EQ(Gb18030ToDisplay(*bytes), U("名字 ab"));
    // Characters outside GBK (a CJK Extension B character, an emoji) use GB18030's four-byte
    // form and come back unchanged, also next to a euro sign.
    EXPECT_EQ(DisplayToGb18030(U("𠀀😀")), std::string("\x95\x32\x82\x36\x94\x39\xFC\x36"));
    EXPECT_EQ(Gb18030ToDisplay("\x95\x32\x82\x36\x94\x39\xFC\x36"), U("𠀀😀"));
    EXPECT_EQ(DisplayToGb18030(U("€𠀀€")), std::string("\x80\x95\x32\x82\x36\x80"));
    EXPECT_EQ(Gb18030ToDisplay("\x80\x95\x32\x82\x36\x80"), U("€𠀀€"));
    EXPECT_EQ(DisplayToGb18030(wxString()), std::string());
}

TEST(TextCodecTest, EuroSignIsTheSingleByte0x80AsWindowsBuildsStoreIt) {
    const struct {
        const char* text;
        std::string bytes;
    } cases[] = {
        {"€", "\x80"},
        {"ab€cd",
         "ab\x80"
         "cd"},
        {"€€", "\x80\x80"},
        {"名€字 1€", "\xC3\xFB\x80\xD7\xD6 1\x80"},
        {"€名", "\x80\xC3\xFB"},  // the character after the euro sign keeps both its bytes
        {"亐€", "\x81\x80\x80"},  // 0x80 as a second byte is still that character's
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayToGb18030(U(c.text)), c.bytes) << c.text;
        EXPECT_EQ(Gb18030ToDisplay(c.bytes), U(c.text)) << c.text;
    }
    // GB18030's own euro sign, as older vaults hold it, still reads as the euro sign.
    EXPECT_EQ(Gb18030ToDisplay("x\xA2\xE3y"), U("x€y"));
}

TEST(TextCodecTest, InvalidBytesStillShowAndAreRefusedForSecrets) {
    // 0xFF starts no GB18030 sequence; a lone lead byte at the end is cut short. The byte
    // after an invalid one starts a character again, so 0x80 there is the euro sign.
    const std::string scrambled = std::string("a\xFF\x80") + "\xC3\xFB" + "\xFF" + "\xC3";
    EXPECT_EQ(Gb18030ToDisplay(scrambled), U("a\xEF\xBF\xBD€名\xEF\xBF\xBD\xEF\xBF\xBD"));

    Ombrix::SecretString out("left over");
    EXPECT_FALSE(Gb18030ToUtf8Secret(scrambled, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(Gb18030ToUtf8Secret("pw\x80", out));  // secrets take strict GB18030 only
    ASSERT_TRUE(Gb18030ToUtf8Secret("\xC3\xFBpw&1", out));
    EXPECT_EQ(out.view(), "名pw&1");
}

TEST(FileFilterTest, FiltersBecomeCaseInsensitiveWildcards) {
    EXPECT_EQ(TranslateFileFilter(U(texts::kPictureFileFilter)),
              "jpg Fliex(*.jpg)|*.[jJ][pP][gG]|gif Fliex(*.gif)|*.[gG][iI][fF]|"
              "bmp Fliex(*.bmp)|*.[bB][mM][pP]|dib Fliex(*.dib)|*.[dD][iI][bB]|"
              "All Files (*.*)|*");
    EXPECT_EQ(TranslateFileFilter("Pictures|*.png;*.gif|Odd"),
              "Pictures|*.[pP][nN][gG];*.[gG][iI][fF]");
    EXPECT_EQ(TranslateFileFilter("||ignored|*.x"), "");
}

TEST(MnemonicTest, AmpersandsFollowCaptionRules) {
    EXPECT_EQ(ParseMnemonic("&&").shown, "&");
    EXPECT_EQ(ParseMnemonic("&&").underlined, -1);
    const MnemonicText save = ParseMnemonic("Sa&ve");
    EXPECT_EQ(save.shown, "Save");
    EXPECT_EQ(save.underlined, 2);
    EXPECT_EQ(ParseMnemonic("end&").shown, "end");
    // A doubled text always shows as itself.
    for (const wxString text : {"&", "a&&b", "&x&", "p&ss&&"}) {
        const MnemonicText shown = ParseMnemonic(DoubleAmpersands(text));
        EXPECT_EQ(shown.shown, text);
        EXPECT_EQ(shown.underlined, -1);
    }
}
