#include <gtest/gtest.h>

#include <algorithm>

#include <wx/frame.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include "dialogs/DiaPassword.h"
#include "dialogs/PanelTestSupport.h"
#include "dialogs/SoftKeyboard.h"
#include "platform/Painting.h"
#include "resources/DialogTemplates.h"

using guitest::Rgb;
using paneltest::HostWindow;
using paneltest::RecordingHost;

namespace {

class SoftKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = new DiaPassword(host);
        ASSERT_TRUE(panel->Create(window.get()));
        window.ShowPanel(panel);
    }

    wxPoint Origin() const { return panel->KeyboardOrigin(); }
    wxPoint KeyCentre(int row, int cell) const {
        const wxRect key = KeyRect(Origin(), row, cell);
        return wxPoint(key.x + key.width / 2, key.y + key.height / 2);
    }
    // Clicks at an offset from the keyboard origin, as the panel's handler sees it.
    void ClickAt(int dx, int dy) { panel->OnLButtonUp(Origin() + wxPoint(dx, dy)); }
    void ClickKey(int row, int cell) { panel->OnLButtonUp(KeyCentre(row, cell)); }
    void ClickLeftShift() { ClickAt(-30, 70); }
    std::string Submit() {
        panel->OnOK();
        return host.passwords.empty() ? "<nothing>" : host.passwords.back();
    }

    // The keys whose etched frame is not drawn at their place (keys under the OK button,
    // which lies over the keyboard, and keys cut off at the panel's edge are not looked at).
    int MisdrawnKeys(const wxImage& shown) const {
        const Rgb shadow{160, 160, 160}, light{255, 255, 255};
        const wxRect button = panel->Control(ids::kOk)->GetRect();
        const auto at = [&](wxPoint p) { return guitest::PixelAt(shown, p.x, p.y); };
        std::vector<wxRect> keys{LeftShiftRect(Origin())};
        for (int row = 0; row < kKeyboardRows; ++row) {
            for (int cell = 0; cell < kKeyboardCells; ++cell) {
                if (KeyAt(row, cell, false) != 0) {
                    keys.push_back(KeyRect(Origin(), row, cell));
                }
            }
        }
        const wxRect client(wxPoint(0, 0), panel->GetClientSize());
        int misdrawn = 0;
        for (const wxRect& key : keys) {
            if (client.Contains(key) && !button.Intersects(key)) {
                misdrawn += !(at(key.GetTopLeft()) == shadow) ||
                            !(at(key.GetTopLeft() + wxPoint(1, 1)) == light) ||
                            !(at(key.GetBottomLeft() + wxPoint(1, 0)) == light) ||
                            !(at(key.GetBottomRight() + wxPoint(-1, -1)) == shadow) ||
                            !(at(key.GetTopRight()) == light);
            }
        }
        return misdrawn;
    }

    RecordingHost host;
    HostWindow window;
    DiaPassword* panel = nullptr;
};

}  // namespace

TEST_F(SoftKeyboardTest, TypedTextIsHandedOverOnceAndNeverKept) {
    ClickKey(1, 0);  // q
    ClickKey(3, 9);  // /
    ClickLeftShift();
    ClickKey(0, 6);   // &
    ClickKey(1, 0);   // Q
    ClickKey(2, 10);  // "
    ClickKey(1, 12);  // |
    panel->SetPrompt("another prompt");  // keeps what was typed
    EXPECT_EQ(Submit(), "q/&Q\"|");
    EXPECT_EQ(panel->TypedLength(), 0u);
    EXPECT_EQ(Submit(), "");
    // The shift layer stays on after OK until a shift key turns it off.
    ClickKey(0, 0);
    panel->OnLButtonUp(RightShiftRect(Origin()).GetPosition() + wxPoint(30, 10));
    ClickKey(0, 0);
    ClickKey(1, 12);  // backslash
    ClickKey(2, 10);  // '
    EXPECT_EQ(Submit(), "!1\\'");

    // Asking again shows the new prompt and forgets what was typed.
    ClickKey(0, 0);
    panel->Ask(wxString::FromUTF8("请设置保险柜密码\r\n第二行"));
    EXPECT_EQ(panel->TypedLength(), 0u);
    EXPECT_EQ(panel->Control(ids::kPrompt)->GetLabel(),
              wxString::FromUTF8("请设置保险柜密码\n第二行"));
    EXPECT_EQ(Submit(), "");
    EXPECT_EQ(host.passwords.size(), 4u);
}

TEST_F(SoftKeyboardTest, BordersBelongToTheKeyRightOrBelowAndGapsTypeNothing) {
    ClickAt(0, 0);    // top-left corner of "1"
    ClickAt(19, 19);  // bottom-right pixel of "1"
    ClickAt(20, 0);   // shared border of "1" and "2": the right-hand key
    ClickAt(15, 20);  // border of "1" and "q" below it: the lower key
    ClickAt(239, 5);  // last pixel of "="
    EXPECT_EQ(Submit(), "112q=");

    ClickAt(240, 5);   // right of "=": no key in cell 12
    ClickAt(-1, 5);    // left of row 0
    ClickAt(5, -1);    // above row 0
    ClickAt(9, 30);    // left of "q": rows are indented
    ClickAt(0, 65);    // between the left shift key and "z" (30 pixels)
    ClickAt(29, 65);   // still in that gap
    ClickAt(230, 65);  // between "/" and the right shift key (50 pixels)
    ClickAt(279, 79);  // still in that gap
    ClickAt(35, 80);   // below row 3
    ClickAt(340, 65);  // right of the right shift key
    ClickAt(-61, 65);  // left of the left shift key
    EXPECT_EQ(Submit(), "");
    EXPECT_FALSE(panel->Shifted());

    ClickAt(-60, 60);  // left shift, top-left pixel
    EXPECT_TRUE(panel->Shifted());
    ClickAt(280, 60);  // right shift, top-left pixel
    EXPECT_FALSE(panel->Shifted());
    ClickAt(339, 79);  // right shift, bottom-right pixel
    EXPECT_TRUE(panel->Shifted());
}

TEST_F(SoftKeyboardTest, KeysAreDrawnWhereTheyAreHit) {
    const wxImage shown = guitest::CaptureClient(panel);
    guitest::SaveScreenshot(window.get(), "password-panel");
    EXPECT_EQ(MisdrawnKeys(shown), 0);
    const Rgb background = guitest::PixelAt(shown, 2, 190);
    // No frame where a row has no key.
    EXPECT_EQ(guitest::PixelAt(shown, KeyRect(Origin(), 0, 12).x, KeyRect(Origin(), 0, 12).y),
              background);
    EXPECT_EQ(guitest::PixelAt(shown, KeyRect(Origin(), 3, 10).x, KeyRect(Origin(), 3, 10).y),
              background);
    // The shift captions leave dark ink inside their keys.
    for (const wxRect& shift : {LeftShiftRect(Origin()), RightShiftRect(Origin())}) {
        int dark = 0;
        // (only the part on the panel: the keyboard may stick out at either side)
        for (int x = std::max(shift.x + 2, 0); x < std::min(shift.GetRight() - 1, 480); ++x) {
            for (int y = shift.y + 2; y < shift.GetBottom() - 1; ++y) {
                dark += guitest::PixelAt(shown, x, y).r < 100;
            }
        }
        EXPECT_GT(dark, 20);
    }
}

TEST_F(SoftKeyboardTest, UncoveringMovesTheWholeKeyboard) {
    guitest::PaintCounter paints(panel);
    std::vector<wxPoint> places{Origin()};
    for (int i = 0; i < 3; ++i) {
        // A window over part of the keyboard goes away again.
        auto* cover =
            new wxFrame(nullptr, wxID_ANY, "cover", panel->ClientToScreen(wxPoint(120, 70)),
                        wxSize(120, 50), wxBORDER_NONE);
        cover->Show();
        guitest::Pump(300);
        const int count = paints.Count();
        delete cover;
        ASSERT_TRUE(guitest::PumpUntil([&] { return paints.Count() > count; }));
        guitest::Pump(80);
        places.push_back(Origin());
        EXPECT_EQ(MisdrawnKeys(guitest::CaptureClient(panel)), 0) << "uncovered " << i;
    }
    EXPECT_FALSE(places[1] == places[0] && places[2] == places[0] && places[3] == places[0]);
}

TEST_F(SoftKeyboardTest, RepaintsMoveTheKeyboardButShiftTypingAndControlsDoNot) {
    // A first click on empty space activates the window (GTK then redraws all of it).
    guitest::ClickAt(panel, wxPoint(5, 200));
    guitest::Pump(100);
    guitest::PaintCounter paints(panel);
    const wxPoint first = Origin();
    EXPECT_GE(first.x, 50);
    EXPECT_LE(first.x, 149);
    EXPECT_GE(first.y, 50);
    EXPECT_LE(first.y, 77);

    // Typing shows nothing: the screen is the same before and after (but for the OK button,
    // which may show the pointer passing over it).
    const wxImage before = guitest::CaptureClient(panel);
    guitest::ClickAt(panel, KeyCentre(1, 3));
    guitest::ClickAt(panel, KeyCentre(2, 3));
    guitest::MoveMouse(panel, wxPoint(5, 200));
    guitest::Pump(100);
    const wxImage after = guitest::CaptureClient(panel);
    const wxRect button = panel->Control(ids::kOk)->GetRect().Inflate(4);
    int changed = 0;
    for (int y = 0; y < before.GetHeight(); ++y) {
        for (int x = 0; x < before.GetWidth(); ++x) {
            changed += !button.Contains(x, y) &&
                       !(guitest::PixelAt(before, x, y) == guitest::PixelAt(after, x, y));
        }
    }
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(Origin(), first);

    // The pointer over the OK button makes GTK redraw the panel under the button.
    wxWindow* ok = panel->Control(ids::kOk);
    guitest::MoveMouse(panel, ok->GetRect().GetPosition() + wxPoint(10, 10));
    guitest::Pump(150);
    guitest::MoveMouse(panel, KeyCentre(0, 0));
    guitest::Pump(150);
    EXPECT_EQ(Origin(), first);

    // The shift key repaints the keyboard in place with the other layer.
    const int paintsBefore = paints.Count();
    // (its right end: with the keyboard far left, the key's left part lies off the panel)
    guitest::ClickAt(panel, LeftShiftRect(first).GetTopRight() + wxPoint(-5, 5));
    EXPECT_TRUE(guitest::PumpUntil([&] { return paints.Count() > paintsBefore; }));
    guitest::Pump(50);
    EXPECT_TRUE(panel->Shifted());
    EXPECT_EQ(Origin(), first);
    guitest::SaveScreenshot(window.get(), "password-panel-shifted");

    // Shown again, or invalidated by anyone else, it moves (the same place three times in a
    // row would be a chance of one in millions).
    std::vector<wxPoint> places{first};
    for (int i = 0; i < 3; ++i) {
        const int count = paints.Count();
        if (i == 1) {
            panel->Refresh();
        } else {
            panel->Hide();
            guitest::Pump(30);
            panel->Show();
        }
        ASSERT_TRUE(guitest::PumpUntil([&] { return paints.Count() > count; }));
        guitest::Pump(30);
        places.push_back(Origin());
    }
    EXPECT_FALSE(places[1] == first && places[2] == first && places[3] == first);
    EXPECT_EQ(Submit(), "rf");
}

TEST_F(SoftKeyboardTest, ClickedThroughTheXServerWithOkButton) {
    const auto click = [&](int row, int cell) { guitest::ClickAt(panel, KeyCentre(row, cell)); };
    click(1, 2);  // e
    click(1, 2);  // e again at once: GTK sees a double click, which still types twice
    guitest::ClickAt(panel, RightShiftRect(Origin()).GetPosition() + wxPoint(20, 8));
    guitest::Pump(100);  // the shift repaint
    click(0, 6);         // &
    click(2, 0);         // A
    guitest::ClickAt(panel, LeftShiftRect(Origin()).GetPosition() + wxPoint(20, 8));
    guitest::Pump(100);
    click(0, 6);  // 7
    wxWindow* ok = panel->Control(ids::kOk);
    guitest::ClickAt(panel, ok->GetRect().GetPosition() + wxPoint(20, 10));
    ASSERT_TRUE(guitest::PumpUntil([&] { return !host.passwords.empty(); }));
    EXPECT_EQ(host.passwords.back(), "ee&A7");
}

TEST_F(SoftKeyboardTest, PhysicalKeysTypeNothing) {
    window.get()->Raise();
    guitest::MoveMouse(panel, KeyCentre(1, 5));
    panel->Control(ids::kOk)->SetFocus();
    guitest::Pump(100);
    wxUIActionSimulator keys;
    keys.Text("abc123");
    guitest::Pump(100);
    keys.Char(WXK_RETURN);  // presses the default button
    ASSERT_TRUE(guitest::PumpUntil([&] { return !host.passwords.empty(); }));
    EXPECT_EQ(host.passwords.back(), "");
}
