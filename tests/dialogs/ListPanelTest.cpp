#include <gtest/gtest.h>

#include <wx/listbox.h>
#include <wx/textctrl.h>

#include "dialogs/DiaList.h"
#include "dialogs/PanelTestSupport.h"
#include "support/TestVault.h"

using guitest::Rgb;
using paneltest::HostWindow;
using paneltest::RecordingHost;

namespace {

const std::string kMaster = "open4sesame";

class ListPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        vault.Create(kMaster, 1,
                     {{"mail", "m&il-pw"}, {"\xD2\xF8\xD0\xD0", "bank-pw"}, {"forum", "f0rum"}});
        host.m_masterPassword.assign(kMaster);
        panel = new DiaList(host);
        ASSERT_TRUE(panel->Create(window->get()));
        window->ShowPanel(panel);
    }

    std::vector<std::string> Listed() const {
        std::vector<std::string> names;
        for (unsigned i = 0; i < panel->m_listBox->GetCount(); ++i) {
            names.emplace_back(panel->m_listBox->GetString(i).utf8_str());
        }
        return names;
    }
    std::string NameBox() const { return std::string(panel->m_nameBox->GetValue().utf8_str()); }
    wxPoint HoldCentre() const { return panel->m_holdRect.GetPosition() + wxPoint(128, 10); }
    wxImage HoldArea() const {
        return guitest::CaptureClient(panel).GetSubImage(panel->m_holdRect);
    }

    testsupport::TestVault vault;
    RecordingHost host{vault.Directory()};
    std::unique_ptr<HostWindow> window = std::make_unique<HostWindow>();
    guitest::MessageBoxes boxes;
    DiaList* panel = nullptr;
};

}  // namespace

TEST_F(ListPanelTest, RefreshShowsStoredOrderWithTheFirstSelected) {
    EXPECT_TRUE(Listed().empty());
    panel->RefreshList();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"mail", "银行", "forum"}));
    EXPECT_EQ(panel->m_listBox->GetSelection(), 0);
    EXPECT_EQ(NameBox(), "mail");
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>("mail"));

    panel->m_listBox->SetSelection(1);
    panel->OnSelectionChange();
    EXPECT_EQ(NameBox(), "银行");
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>("\xD2\xF8\xD0\xD0"));
    guitest::SaveScreenshot(window->get(), "list-panel");

    // Refreshing again selects the first again.
    panel->RefreshList();
    EXPECT_EQ(panel->m_listBox->GetSelection(), 0);

    // With every entry gone the list is empty and the name box keeps its last name.
    for (const std::string& name : vault.Names(kMaster)) {
        PasswordEntry entry{};
        SetFieldText(entry.name, name);
        vault.store.DeleteEntry(vault.Directory(), kMaster, entry);
    }
    panel->RefreshList();
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(NameBox(), "mail");
    EXPECT_EQ(panel->SelectedName(), std::nullopt);
}

TEST_F(ListPanelTest, NamesThatAreNotValidTextAreHandedOnByteForByte) {
    const std::string scrambled = "\xFF\xFFz\x81";
    vault.store.AddEntry(vault.Directory(), kMaster, MakePasswordEntry(scrambled, "x"));
    panel->RefreshList();
    ASSERT_EQ(panel->m_listBox->GetCount(), 4u);
    EXPECT_EQ(Listed()[3], "\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD");
    panel->m_listBox->SetSelection(3);
    EXPECT_EQ(panel->SelectedName(), std::optional<std::string>(scrambled));
}

TEST_F(ListPanelTest, HoldAreaFollowsPressReleaseTicksAndSelection) {
    EXPECT_TRUE(panel->HoldWatch().IsRunning());
    EXPECT_EQ(panel->HoldWatch().GetInterval(), 256);
    panel->HoldWatch().Stop();  // the ticks come from the test here
    EXPECT_GE(panel->m_holdX, 0);
    EXPECT_LE(panel->m_holdX, 63);
    EXPECT_GE(panel->m_holdY, 0);
    EXPECT_LE(panel->m_holdY, 29);
    EXPECT_EQ(panel->m_holdRect, wxRect(panel->m_holdX, panel->m_holdY, 256, 20));

    // Nothing selected: ticks keep it blank, a press inside shows nothing.
    guitest::MoveMouse(panel, HoldCentre());
    panel->OnTimer();
    EXPECT_EQ(panel->m_holdMode, kHoldBlank);
    panel->OnLButtonDown();
    EXPECT_EQ(panel->m_holdMode, kHoldPassword);
    EXPECT_TRUE(panel->m_holding);
    guitest::Pump(100);
    panel->OnLButtonUp();

    panel->RefreshList();
    panel->m_holdMode = kHoldBlank;
    panel->OnTimer();
    EXPECT_EQ(panel->m_holdMode, kHoldHint);
    EXPECT_FALSE(panel->m_holding);

    // Press inside: the password; pressing again while holding changes nothing.
    panel->OnLButtonDown();
    EXPECT_EQ(panel->m_holdMode, kHoldPassword);
    EXPECT_TRUE(panel->m_holding);
    panel->m_holdMode = kHoldHint;  // a press while holding keeps whatever is shown
    panel->OnLButtonDown();
    EXPECT_EQ(panel->m_holdMode, kHoldHint);
    panel->m_holdMode = kHoldPassword;
    panel->OnTimer();  // pointer still inside
    EXPECT_EQ(panel->m_holdMode, kHoldPassword);
    EXPECT_TRUE(panel->m_holding);

    // Dragged out with the button down: blank at the next tick, the hint at the one after.
    guitest::MoveMouse(panel, panel->m_holdRect.GetBottomRight() + wxPoint(1, 1));
    panel->OnTimer();
    EXPECT_EQ(panel->m_holdMode, kHoldBlank);
    EXPECT_FALSE(panel->m_holding);
    panel->OnTimer();
    EXPECT_EQ(panel->m_holdMode, kHoldHint);

    // A press outside the area changes nothing; a release anywhere shows the hint.
    panel->OnLButtonDown();
    EXPECT_EQ(panel->m_holdMode, kHoldHint);
    EXPECT_FALSE(panel->m_holding);
    panel->m_holdMode = kHoldPassword;
    panel->OnLButtonUp();
    EXPECT_EQ(panel->m_holdMode, kHoldHint);

    // Right and bottom edges are outside the area, left and top inside.
    guitest::MoveMouse(panel, panel->m_holdRect.GetTopLeft());
    panel->OnLButtonDown();
    EXPECT_TRUE(panel->m_holding);
    panel->OnLButtonUp();
    guitest::MoveMouse(panel, wxPoint(panel->m_holdRect.GetRight() + 1, panel->m_holdY + 5));
    panel->OnLButtonDown();
    EXPECT_FALSE(panel->m_holding);
}

TEST_F(ListPanelTest, HeldPasswordShowsOnlyWhilePressedThroughTheXServer) {
    panel->RefreshList();
    guitest::MoveMouse(panel, wxPoint(420, 190));
    ASSERT_TRUE(guitest::PumpUntil([&] { return panel->m_holdMode == kHoldHint; }));
    guitest::Pump(100);
    const wxImage hint = HoldArea();
    const Rgb background = guitest::PixelAt(guitest::CaptureClient(panel), 420, 190);
    EXPECT_EQ(guitest::PixelAt(hint, 0, 0), (Rgb{160, 160, 160}));  // etched frame

    guitest::MoveMouse(panel, HoldCentre());
    guitest::PressLeft();
    ASSERT_TRUE(guitest::PumpUntil([&] { return panel->m_holdMode == kHoldPassword; }));
    guitest::Pump(100);
    const wxImage held = HoldArea();
    guitest::SaveScreenshot(window->get(), "list-panel-holding");
    EXPECT_EQ(guitest::PixelAt(held, 0, 0), (Rgb{160, 160, 160}));
    int differing = 0;
    for (int y = 0; y < held.GetHeight(); ++y) {
        for (int x = 0; x < held.GetWidth(); ++x) {
            differing += !(guitest::PixelAt(held, x, y) == guitest::PixelAt(hint, x, y));
        }
    }
    EXPECT_GT(differing, 30);  // the password replaced the hint

    guitest::ReleaseLeft();
    ASSERT_TRUE(guitest::PumpUntil([&] { return panel->m_holdMode == kHoldHint; }));
    EXPECT_FALSE(panel->m_holding);

    // Pressed again, then dragged out with the button down: blank within a tick or two.
    guitest::PressLeft();
    ASSERT_TRUE(guitest::PumpUntil([&] { return panel->m_holdMode == kHoldPassword; }));
    guitest::MoveMouse(panel, wxPoint(420, 190));
    ASSERT_TRUE(guitest::PumpUntil([&] { return panel->m_holdMode == kHoldBlank; }));
    guitest::Pump(60);
    const wxImage blank = HoldArea();
    EXPECT_EQ(guitest::PixelAt(blank, 0, 0), background);
    EXPECT_EQ(guitest::PixelAt(blank, 128, 10), background);
    guitest::ReleaseLeft();
}
