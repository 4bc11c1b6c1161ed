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
    // Characters outside GBK use GB18030's four-byte form and come back unchanged.
    const wxString rare = U("𠀀€");
    ASSERT_TRUE(DisplayToGb18030(rare).has_value());
    EXPECT_EQ(Gb18030ToDisplay(*DisplayToGb18030(rare)), rare);
    EXPECT_EQ(DisplayToGb18030(wxString()), std::string());
}

TEST(TextCodecTest, InvalidBytesStillShowAndAreRefusedForSecrets) {
    // 0x80 and 0xFF start no GB18030 sequence; a lone lead byte at the end is cut short.
    const std::string scrambled = std::string("a\x80") + "\xC3\xFB" + "\xFF" + "\xC3";
    EXPECT_EQ(Gb18030ToDisplay(scrambled), U("a\xEF\xBF\xBD名\xEF\xBF\xBD\xEF\xBF\xBD"));

    Ombrix::SecretString out("left over");
    EXPECT_FALSE(Gb18030ToUtf8Secret(scrambled, out));
    EXPECT_TRUE(out.empty());
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
