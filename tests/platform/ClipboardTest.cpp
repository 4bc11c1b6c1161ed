#include <gtest/gtest.h>

#include <wx/clipbrd.h>

#include "platform/Clipboard.h"
#include "support/GuiTest.h"

using namespace platform;

namespace {

void PutOnClipboard(const std::string& text) {
    ClipboardSession clipboard;
    ASSERT_TRUE(clipboard.IsOpen());
    clipboard.Empty();
    ASSERT_TRUE(clipboard.PutText(ClipboardTextBlock::FromGb18030(text)));
}

}  // namespace

TEST(ClipboardTest, TextIsPastedElsewhereUntilEmptiedAndABusyClipboardIsLeftAlone) {
    PutOnClipboard("pw&\xC3\xFB");
    EXPECT_EQ(guitest::ClipboardText(), std::optional<std::string>("pw&名"));
    EXPECT_EQ(ClipboardTextBlock::FromGb18030("ok\x80"), nullptr);  // not GB18030

    ASSERT_TRUE(wxTheClipboard->Open());
    {
        ClipboardSession busy;
        EXPECT_FALSE(busy.IsOpen());
        busy.Empty();  // does nothing
        EXPECT_FALSE(busy.PutText(ClipboardTextBlock::FromGb18030("other")));
    }
    wxTheClipboard->Close();
    EXPECT_EQ(guitest::ClipboardText(), std::optional<std::string>("pw&名"));

    {
        ClipboardSession clipboard;
        ASSERT_TRUE(clipboard.IsOpen());
        clipboard.Empty();
    }
    const std::optional<std::string> after = guitest::ClipboardText();
    EXPECT_TRUE(!after || after->empty());
}
