#include <gtest/gtest.h>

#include "framework/SecretString.h"
#include "platform/Painting.h"
#include "platform/TextCodec.h"

using namespace platform;

namespace {

wxString U(const char* utf8) {
    return wxString::FromUTF8(utf8);
}

// GB18030 both ways; the euro sign is the single byte 0x80, as Windows builds store it.
TEST(TextCodecTest, TextTravelsAsGb18030Bytes) {
    const std::pair<const char*, std::string> cases[] = {
        {"名字 ab", "\xC3\xFB\xD7\xD6 ab"},
        {"", ""},
        // Outside GBK (a CJK Extension B character, an emoji): the four-byte form.
        {"𠀀😀", "\x95\x32\x82\x36\x94\x39\xFC\x36"},
        {"€𠀀€", "\x80\x95\x32\x82\x36\x80"},
        {"名€字 1€", "\xC3\xFB\x80\xD7\xD6 1\x80"},
        {"€名", "\x80\xC3\xFB"},  // the character after the euro sign keeps both its bytes
        {"亐€", "\x81\x80\x80"},  // 0x80 as a second byte is still that character's
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(DisplayToGb18030(U(text)), bytes) << text;
        EXPECT_EQ(Gb18030ToDisplay(bytes), U(text)) << text;
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

// The fonts are found by their own search: they must be those the widget library makes when
// asked for the same cell height, the search it replaces.
TEST(PaintingFontTest, FontsAreThoseOfTheirCellHeight) {
    const wxFont panel = PanelFont();
    const wxFont asked(wxFontInfo(wxSize(0, 18)).Family(wxFONTFAMILY_SWISS));
    EXPECT_EQ(panel.GetPointSize(), asked.GetPointSize());
    for (int points : {6, 9, 12}) {
        const wxFont font = TemplateFont("宋体", points);
        const wxFont byHeight(
            wxFontInfo(wxSize(0, (points * 96 + 36) / 72)).FaceName(font.GetFaceName()));
        EXPECT_EQ(font.GetPointSize(), byHeight.GetPointSize()) << points;
        EXPECT_EQ(font.GetFaceName(), byHeight.GetFaceName());
    }
}

}  // namespace
