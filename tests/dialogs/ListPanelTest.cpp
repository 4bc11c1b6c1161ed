#include <gtest/gtest.h>

#include <wx/listbox.h>
#include <wx/textctrl.h>

#include "dialogs/DiaList.h"
#include "dialogs/PanelTestSupport.h"
#include "resources/DialogTemplates.h"

using guitest::Rgb;
using paneltest::HostWindow;
using paneltest::RecordingHost;

namespace {

const std::string kMaster = "open4sesame";
const std::string kBank = "\xD2\xF8\xD0\xD0";  // "银行" in GB18030

class ListPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        vault.Create(kMaster, 1, {{"mail", "m&il-pw"}, {kBank, "bank-pw"}, {"forum", "f0rum"}});
        panel = new DiaList(host);
        ASSERT_TRUE(panel->Create(window.get()));
        window.ShowPanel(panel);
        list = dynamic_cast<wxListBox*>(panel->Control(ids::kNameList));
        ASSERT_NE(list, nullptr);
    }

    void MoveTo(wxPoint point) { guitest::MoveMouse(panel, point); }
    wxPoint HoldCentre() const { return panel->HoldRect().GetPosition() + wxPoint(128, 10); }
    wxImage HoldArea() const {
        return guitest::CaptureClient(panel).GetSubImage(panel->HoldRect());
    }
    bool Shows(HoldMode mode) {
        return guitest::PumpUntil([&] { return panel->ShownInHoldArea() == mode; });
    }

    testsupport::TestVault vault;
    RecordingHost host{vault, kMaster};
    HostWindow window;
    DiaList* panel = nullptr;
    wxListBox* list = nullptr;
};

}  // namespace

TEST_F(ListPanelTest, NamesThatAreNotValidTextAreHandedOnByteForByte) {
    const std::string scrambled = "\xFF\xFFz\x81";
    const auto nameBox = [&] {
        return std::string(panel->Control(ids::kSelectedNameBox)->GetLabel().utf8_str());
    };
    panel->ShowNames({"mail", kBank, scrambled});
    ASSERT_EQ(list->GetCount(), 3u);
    EXPECT_EQ(list->GetString(1).utf8_str(), std::string("银行"));
    EXPECT_EQ(list->GetString(2).utf8_str(), std::string("\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD"));
    EXPECT_EQ(list->GetSelection(), 0);
    EXPECT_EQ(nameBox(), "mail");
    guitest::SaveScreenshot(window.get(), "list-panel");

    list->SetSelection(2);
    panel->OnSelectionChange();
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>(scrambled));
    EXPECT_EQ(nameBox(), "\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD");
    list->SetSelection(1);
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>(kBank));

    // Listed again, the first is selected again; with no names nothing is.
    panel->ShowNames({"forum", kBank});
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>("forum"));
    panel->ShowNames({});
    EXPECT_EQ(list->GetCount(), 0u);
    EXPECT_EQ(panel->SelectedName(), std::nullopt);
}

TEST_F(ListPanelTest, HoldAreaFollowsPressReleaseTicksAndSelection) {
    EXPECT_TRUE(panel->HoldWatch().IsRunning());
    EXPECT_EQ(panel->HoldWatch().GetInterval(), 256);
    panel->HoldWatch().Stop();  // the ticks come from the test here
    const wxRect hold = panel->HoldRect();
    EXPECT_TRUE(wxRect(0, 0, 64 + 255, 30 + 19).Contains(hold));
    EXPECT_EQ(hold.GetSize(), wxSize(256, 20));

    // Nothing selected: ticks keep the area blank and a press reads no password.
    MoveTo(HoldCentre());
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldBlank);
    panel->OnLButtonDown();
    guitest::Pump(100);
    panel->OnLButtonUp();
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldBlank);
    EXPECT_TRUE(host.reads.empty());

    // With a selection the next tick shows the hint; a press inside shows the password,
    // also when pressed again and at the next tick while the pointer stays inside.
    panel->ShowNames(vault.Names(kMaster));
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
    panel->OnLButtonDown();
    panel->OnLButtonDown();
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldPassword);

    // Dragged out with the button down: blank at the next tick, the hint at the one after.
    MoveTo(hold.GetBottomRight() + wxPoint(1, 1));
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldBlank);
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
    // A press outside changes nothing; a release anywhere shows the hint.
    panel->OnLButtonDown();
    panel->OnTimer();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
    MoveTo(hold.GetTopLeft());  // the left and top edges are inside
    panel->OnLButtonDown();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldPassword);
    MoveTo(wxPoint(hold.GetRight() + 1, hold.y + 5));  // the right and bottom ones are not
    panel->OnLButtonUp();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
    panel->OnLButtonDown();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
    MoveTo(wxPoint(hold.x + 5, hold.GetBottom() + 1));
    panel->OnLButtonDown();
    EXPECT_EQ(panel->ShownInHoldArea(), kHoldHint);
}

TEST_F(ListPanelTest, HeldPasswordShowsOnlyWhilePressedThroughTheXServer) {
    panel->ShowNames(vault.Names(kMaster));
    list->SetSelection(1);
    MoveTo(wxPoint(420, 190));
    ASSERT_TRUE(Shows(kHoldHint));
    guitest::Pump(100);
    const wxImage hint = HoldArea();
    const Rgb background = guitest::PixelAt(guitest::CaptureClient(panel), 420, 190);
    EXPECT_EQ(guitest::PixelAt(hint, 0, 0), (Rgb{160, 160, 160}));  // etched frame
    EXPECT_TRUE(host.reads.empty());

    MoveTo(HoldCentre());
    guitest::PressLeft();
    ASSERT_TRUE(Shows(kHoldPassword));
    guitest::Pump(100);
    const wxImage held = HoldArea();
    guitest::SaveScreenshot(window.get(), "list-panel-holding");
    EXPECT_EQ(guitest::PixelAt(held, 0, 0), (Rgb{160, 160, 160}));
    int differing = 0;
    for (int y = 0; y < held.GetHeight(); ++y) {
        for (int x = 0; x < held.GetWidth(); ++x) {
            differing += !(guitest::PixelAt(held, x, y) == guitest::PixelAt(hint, x, y));
        }
    }
    EXPECT_GT(differing, 30);  // the password replaced the hint
    ASSERT_FALSE(host.reads.empty());
    EXPECT_EQ(host.reads.back(), kBank);

    guitest::ReleaseLeft();
    ASSERT_TRUE(Shows(kHoldHint));

    // Pressed again, then dragged out with the button down: blank within a tick or two.
    guitest::PressLeft();
    ASSERT_TRUE(Shows(kHoldPassword));
    MoveTo(wxPoint(420, 190));
    ASSERT_TRUE(Shows(kHoldBlank));
    guitest::Pump(60);
    const wxImage blank = HoldArea();
    EXPECT_EQ(guitest::PixelAt(blank, 0, 0), background);
    EXPECT_EQ(guitest::PixelAt(blank, 128, 10), background);
    guitest::ReleaseLeft();
}
