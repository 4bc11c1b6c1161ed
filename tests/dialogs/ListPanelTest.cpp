#include <gtest/gtest.h>

#include <wx/listbox.h>

#include "dialogs/DiaList.h"
#include "dialogs/PanelTestSupport.h"
#include "resources/DialogTemplates.h"

using guitest::Rgb;

namespace {

const std::string kBank = "\xD2\xF8\xD0\xD0";  // "银行" in GB18030

class ListPanelTest : public paneltest::PanelTest<DiaList> {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host.vault.Create(host.master, 1, {{"mail", "m&il"}, {kBank, "bank-pw"}, {"forum", "f0"}});
        list = dynamic_cast<wxListBox*>(panel->Control(ids::kNameList));
    }

    wxImage HoldArea() const {
        return guitest::CaptureClient(panel).GetSubImage(panel->HoldRect());
    }
    // Waits until the hold area shows mode, and for it to be drawn.
    bool Shows(HoldMode mode) {
        const bool shown = guitest::PumpUntil([&] { return panel->ShownInHoldArea() == mode; });
        guitest::Pump(100);
        return shown;
    }

    wxListBox* list = nullptr;
};

}  // namespace

TEST_F(ListPanelTest, NamesThatAreNotValidTextAreHandedOnByteForByte) {
    const std::string scrambled = "\xFF\xFFz\x81", shown = "\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD";
    panel->ShowNames({"mail", kBank, scrambled});
    ASSERT_EQ(list->GetCount(), 3u);
    EXPECT_EQ(list->GetString(1).utf8_str(), std::string("银行"));
    EXPECT_EQ(list->GetString(2).utf8_str(), shown);
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>("mail"));
    guitest::SaveScreenshot(window.get(), "list-panel");

    list->SetSelection(2);
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>(scrambled));
    panel->ShowNames({});
    EXPECT_EQ(panel->SelectedName(), std::nullopt);
}

TEST_F(ListPanelTest, HeldPasswordShowsOnlyWhilePressedThroughTheXServer) {
    EXPECT_TRUE(panel->HoldWatch().IsRunning());
    EXPECT_EQ(panel->HoldWatch().GetInterval(), 256);
    const wxRect hold = panel->HoldRect();
    const wxPoint centre = hold.GetPosition() + wxPoint(128, 10), away(420, 190);

    // With a selection the next tick shows the hint in a frame.
    guitest::MoveMouse(panel, away);
    const Rgb background = guitest::PixelAt(guitest::CaptureClient(panel), away.x, away.y);
    panel->ShowNames(host.vault.Names(host.master));
    list->SetSelection(1);
    ASSERT_TRUE(Shows(kHoldHint));
    const wxImage hint = HoldArea();
    EXPECT_EQ(guitest::PixelAt(hint, 0, 0), (Rgb{160, 160, 160}));

    // Held: the selected password replaces the hint, until the button is released.
    guitest::MoveMouse(panel, centre);
    guitest::PressLeft();
    ASSERT_TRUE(Shows(kHoldPassword));
    const wxImage held = HoldArea();
    guitest::SaveScreenshot(window.get(), "list-panel-holding");
    EXPECT_EQ(guitest::PixelAt(held, 0, 0), (Rgb{160, 160, 160}));
    EXPECT_GT(paneltest::Differences(held, hint), 30);
    EXPECT_EQ(host.reads, std::vector<std::string>{kBank});
    guitest::Pump(600);  // ticks with the pointer inside change nothing
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldPassword);
    guitest::ReleaseLeft();
    ASSERT_TRUE(Shows(kHoldHint));
    EXPECT_EQ(paneltest::Differences(HoldArea(), hint), 0);

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
    EXPECT_EQ(guitest::PixelAt(HoldArea(), 0, 0), background);
    EXPECT_EQ(guitest::PixelAt(HoldArea(), 128, 10), background);
    ASSERT_TRUE(Shows(kHoldHint));
    guitest::ReleaseLeft();
}
