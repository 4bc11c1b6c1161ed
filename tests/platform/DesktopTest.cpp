#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/listbox.h>

#include "platform/ChildDialog.h"
#include "platform/Clipboard.h"
#include "platform/Painting.h"
#include "resources/DialogTemplates.h"
#include "support/GuiTest.h"

using guitest::Rgb;
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

TEST(DialogTemplateTest, ControlsSitWhereTheTemplateSaysAndShowingSetsTheDefault) {
    wxDialog top(nullptr, wxID_ANY, "host");
    top.SetClientSize(482, 315);
    auto* panel = new ChildDialog;
    ASSERT_TRUE(panel->CreateFromTemplate(&top, PasswordTemplate()));
    EXPECT_FALSE(panel->IsShown());
    EXPECT_EQ(panel->GetClientSize(), wxSize(480, 177));
    EXPECT_EQ(panel->Control(ids::kOk)->GetRect(), wxRect(201, 146, 75, 21));
    EXPECT_EQ(panel->Control(ids::kPrompt)->GetRect(), wxRect(107, 11, 269, 32));
    auto* list = new ChildDialog;
    ASSERT_TRUE(list->CreateFromTemplate(&top, ListTemplate()));
    EXPECT_NE(dynamic_cast<wxListBox*>(list->Control(ids::kNameList)), nullptr);
    EXPECT_EQ(list->Control(9999), nullptr);

    // Showing a panel makes its default button the one Enter presses.
    top.Show();
    list->Show();
    EXPECT_EQ(top.GetDefaultItem(), list->Control(ids::kAddButton));
    list->Hide();
    panel->Show();
    EXPECT_EQ(top.GetDefaultItem(), panel->Control(ids::kOk));
}

TEST(PaintingTest, EtchedEdgeIsSunkenOutsideAndRaisedInside) {
    wxBitmap bitmap(30, 30, 24);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(wxColour(10, 20, 30)));
        dc.Clear();
        DrawEtchedEdge(dc, wxRect(5, 5, 20, 20));
    }
    const wxImage image = bitmap.ConvertToImage();
    const Rgb shadow{160, 160, 160}, light{255, 255, 255}, ground{10, 20, 30};
    const auto at = [&](int x, int y) { return guitest::PixelAt(image, x, y); };
    // Outer line: left 5, top 5, right 24, bottom 24.
    EXPECT_EQ(at(5, 5), shadow);
    EXPECT_EQ(at(23, 5), shadow);
    EXPECT_EQ(at(5, 23), shadow);
    EXPECT_EQ(at(24, 5), light);
    EXPECT_EQ(at(24, 24), light);
    EXPECT_EQ(at(5, 24), light);
    // Inner line: left 6, top 6, right 23, bottom 23.
    EXPECT_EQ(at(6, 6), light);
    EXPECT_EQ(at(21, 6), light);
    EXPECT_EQ(at(6, 21), light);
    EXPECT_EQ(at(22, 6), light);  // still the inner top line
    EXPECT_EQ(at(23, 10), shadow);
    EXPECT_EQ(at(10, 23), shadow);
    // Nothing outside the rectangle, nothing in the middle.
    EXPECT_EQ(at(4, 4), ground);
    EXPECT_EQ(at(25, 25), ground);
    EXPECT_EQ(at(15, 15), ground);
}

TEST(PaintingTest, PanelFontCellIsAtMost18PixelsHigh) {
    wxBitmap bitmap(10, 10, 24);
    wxMemoryDC dc(bitmap);
    dc.SetFont(PanelFont());
    EXPECT_LE(dc.GetCharHeight(), 18);
    EXPECT_GE(dc.GetCharHeight(), 14);
    EXPECT_EQ(&PanelFont(), &PanelFont());
}
