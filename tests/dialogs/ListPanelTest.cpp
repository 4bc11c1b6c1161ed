#include <gtest/gtest.h>

#include <wx/listbox.h>

#include "dialogs/DiaList.h"
#include "dialogs/PanelTestSupport.h"
#include "resources/DialogTemplates.h"

using guitest::PixelAt;
using guitest::Rgb;

namespace {

const std::string kBank = "\xD2\xF8\xD0\xD0";  // "银行" in GB18030

class ListPanelTest : public paneltest::PanelTest<DiaList> {
protected:
    wxImage HoldArea() const {
        return guitest::CaptureClient(panel).GetSubImage(panel->HoldRect());
    }
    // Waits until the hold area shows mode, and for it to be drawn.
    bool Shows(HoldMode mode) {
        const bool shown = guitest::PumpUntil([&] { return panel->ShownInHoldArea() == mode; });
        guitest::Pump(100);
        return shown;
    }
    wxListBox* List() const { return dynamic_cast<wxListBox*>(panel->Control(ids::kNameList)); }
};

TEST_F(ListPanelTest, NamesThatAreNotValidTextAreHandedOnByteForByte) {
    const std::string scrambled = "\xFF\xFFz\x81";
    panel->ShowNames({"mail", kBank, scrambled});
    ASSERT_EQ(List()->GetCount(), 3u);
    EXPECT_EQ(List()->GetString(1).utf8_str(), std::string("银行"));
    EXPECT_EQ(List()->GetString(2).utf8_str(),
              std::string("\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD"));
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>("mail"));
    guitest::SaveScreenshot(window.get(), "list-panel");
    List()->SetSelection(2);
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>(scrambled));
    panel->ShowNames({});
    EXPECT_EQ(panel->SelectedName(), std::nullopt);
}

TEST_F(ListPanelTest, HeldPasswordShowsOnlyWhilePressedThroughTheXServer) {
    host.vault.Create(host.master, 1, {{"mail", "m&il"}, {kBank, "bank-pw"}});
    const wxRect hold = panel->HoldRect();
    const wxPoint away(420, 190);
    const Rgb frame{160, 160, 160};

    // With a selection the next tick shows the hint in a frame.
    guitest::MoveMouse(panel, away);
    const Rgb background = PixelAt(guitest::CaptureClient(panel), away.x, away.y);
    panel->ShowNames(host.vault.Names(host.master));
    List()->SetSelection(1);
    ASSERT_TRUE(Shows(kHoldHint));
    const wxImage hint = HoldArea();
    EXPECT_EQ(PixelAt(hint, 0, 0), frame);

    // Held: the selected password replaces the hint until the button is released; ticks
    // with the pointer inside change nothing.
    guitest::MoveMouse(panel, hold.GetPosition() + wxPoint(128, 10));
    guitest::PressLeft();
    ASSERT_TRUE(Shows(kHoldPassword));
    const wxImage held = HoldArea();
    guitest::SaveScreenshot(window.get(), "list-panel-holding");
    EXPECT_EQ(PixelAt(held, 0, 0), frame);
    EXPECT_GT(guitest::Differences(held, hint), 30);
    EXPECT_EQ(host.reads, std::vector<std::string>{kBank});
    guitest::Pump(600);
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldPassword);
    guitest::ReleaseLeft();
    ASSERT_TRUE(Shows(kHoldHint));
    EXPECT_EQ(guitest::Differences(HoldArea(), hint), 0);

    // A press elsewhere shows nothing; dragged out, blank at the next tick, then the hint.
    guitest::MoveMouse(panel, away);
    guitest::PressLeft();
    guitest::Pump(600);
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
    guitest::ReleaseLeft();
    guitest::MoveMouse(panel, hold.GetTopLeft());  // the left and top edges are inside
    guitest::PressLeft();
    ASSERT_TRUE(Shows(kHoldPassword));
    guitest::MoveMouse(panel, hold.GetBottomRight() + wxPoint(1, 1));
    ASSERT_TRUE(Shows(kHoldBlank));
    EXPECT_EQ(PixelAt(HoldArea(), 0, 0), background);
    EXPECT_EQ(PixelAt(HoldArea(), 128, 10), background);
    ASSERT_TRUE(Shows(kHoldHint));
    guitest::ReleaseLeft();
}

}  // namespace
