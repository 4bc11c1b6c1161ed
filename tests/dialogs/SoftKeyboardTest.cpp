#include <gtest/gtest.h>

#include <wx/frame.h>
#include <wx/uiaction.h>

#include "dialogs/DiaPassword.h"
#include "dialogs/PanelTestSupport.h"
#include "dialogs/SoftKeyboard.h"
#include "resources/DialogTemplates.h"

using guitest::Rgb;

namespace {

class SoftKeyboardTest : public paneltest::PanelTest<DiaPassword> {
protected:
    wxPoint Origin() const { return panel->KeyboardOrigin(); }
    // Clicks at offsets from the keyboard origin, as the panel's handler sees them, then OK.
    std::string Typed(std::initializer_list<wxPoint> offsets) {
        for (const wxPoint& offset : offsets) {
            panel->OnLButtonUp(Origin() + offset);
        }
        panel->OnOK();
        return host.passwords.empty() ? "<nothing>" : host.passwords.back();
    }
    wxRect OkButton() const { return panel->Control(ids::kOk)->GetRect(); }

    // Keys without their etched frame, or frames where no key is (not looked at: keys under
    // the OK button, which lies over the keyboard, or off the panel).
    int MisdrawnKeys() const {
        const wxImage shown = guitest::CaptureClient(panel);
        const Rgb shadow{160, 160, 160}, light{255, 255, 255};
        const auto at = [&](wxPoint p) { return guitest::PixelAt(shown, p.x, p.y); };
        const auto framed = [&](const wxRect& r) {
            return at(r.GetTopLeft()) == shadow && at(r.GetTopLeft() + wxPoint(1, 1)) == light &&
                   at(r.GetBottomRight() - wxPoint(1, 1)) == shadow && at(r.GetTopRight()) == light;
        };
        const auto seen = [&](const wxRect& r) {
            return wxRect(panel->GetClientSize()).Contains(r) && !OkButton().Intersects(r);
        };
        int misdrawn = 0;
        for (int row = 0; row < kKeyboardRows; ++row) {
            for (int cell = 0; cell < kKeyboardCells; ++cell) {
                const wxRect key = KeyRect(Origin(), row, cell);
                misdrawn += seen(key) && !RightShiftRect(Origin()).Intersects(key) &&
                            framed(key) != (KeyAt(row, cell, false) != 0);
            }
        }
        for (const wxRect& shift : {LeftShiftRect(Origin()), RightShiftRect(Origin())}) {
            misdrawn += seen(shift) && !framed(shift);
        }
        return misdrawn;
    }
};

TEST_F(SoftKeyboardTest, KeysAreDrawnWhereTheyAreHit) {
    guitest::SaveScreenshot(window.get(), "password-panel");
    EXPECT_EQ(MisdrawnKeys(), 0);
    // Borders belong to the key right of or below them: the corners of "1", its borders
    // with "2" and with "q" below, the last pixel of "=".
    EXPECT_EQ(Typed({{0, 0}, {19, 19}, {20, 0}, {15, 20}, {239, 5}}), "112q=");
    // Right of "=", left of and above row 0, left of the indented "q", both ends of the gaps
    // beside "z" and "/" (before the shift keys), below row 3, past either shift key.
    EXPECT_EQ(Typed({{240, 5}, {-1, 5}, {5, -1}, {9, 30}, {0, 65}, {29, 65}}), "");
    EXPECT_EQ(Typed({{230, 65}, {279, 79}, {35, 80}, {340, 65}, {-61, 65}}), "");
    EXPECT_FALSE(panel->Shifted());

    // The left shift's top-left pixel, the right one's top-left and bottom-right pixels.
    EXPECT_EQ(Typed({{-60, 60}, {15, 20}, {280, 60}, {15, 20}, {339, 79}, {15, 20}}), "QqQ");
    EXPECT_EQ(Typed({{15, 20}}), "Q");  // the shift layer stays on after OK
}

TEST_F(SoftKeyboardTest, RepaintsMoveTheKeyboardButShiftTypingAndControlsDoNot) {
    // A first click on empty space activates the window (GTK then redraws all of it).
    guitest::ClickAt(panel, wxPoint(5, 200));
    guitest::Pump(100);
    const wxPoint first = Origin();

    // Typing, clicked through the X server, shows nothing, and the pointer passing over the
    // OK button (GTK then redraws the panel under it) leaves the keyboard in place.
    const wxImage before = guitest::CaptureClient(panel);
    const auto click = [&](int row, int cell) {
        guitest::ClickAt(panel, KeyRect(Origin(), row, cell).GetPosition() + wxPoint(10, 10));
    };
    click(1, 2);  // e
    click(1, 2);  // e again at once: GTK sees a double click, which still types twice
    guitest::MoveMouse(panel, OkButton().GetPosition() + wxPoint(10, 10));
    guitest::Pump(150);
    guitest::MoveMouse(panel, wxPoint(5, 200));
    guitest::Pump(150);
    const wxImage typed = guitest::CaptureClient(panel);
    EXPECT_EQ(guitest::Differences(before, typed, OkButton().Inflate(4)), 0);
    EXPECT_EQ(Origin(), first);

    // The shift key repaints the keyboard in place with the other layer (clicked at its
    // right end: with the keyboard far left, the key's left part lies off the panel).
    EXPECT_TRUE(guitest::Repainted(panel, [&] {
        guitest::ClickAt(panel, LeftShiftRect(first).GetTopRight() + wxPoint(-5, 5));
    }));
    EXPECT_TRUE(panel->Shifted());
    EXPECT_EQ(Origin(), first);
    click(0, 6);  // &
    click(2, 0);  // A
    // With the pointer over a key and the OK button focused, keys typed add nothing; Return
    // presses OK.
    window->Raise();
    panel->Control(ids::kOk)->SetFocus();
    guitest::Pump(100);
    wxUIActionSimulator keys;
    keys.Text("abc123");
    guitest::Pump(100);
    keys.Char(WXK_RETURN);
    ASSERT_TRUE(guitest::PumpUntil([&] { return !host.passwords.empty(); }));
    EXPECT_EQ(host.passwords, std::vector<std::string>{"ee&A"});

    // Shown again, invalidated or uncovered, it moves and is drawn whole at its new place
    // (the same place twice in a row for one cause would be a chance of one in millions).
    std::vector<wxPoint> places{first};
    for (int i = 0; i < 4; ++i) {
        std::unique_ptr<wxFrame> cover;
        if (i >= 2) {
            cover.reset(new wxFrame(nullptr, wxID_ANY, "cover", panel->ClientToScreen({120, 70}),
                                    wxSize(120, 50), wxBORDER_NONE));
            cover->Show();
            guitest::Pump(300);
        }
        ASSERT_TRUE(guitest::Repainted(panel, [&] {
            if (i == 0) {
                panel->Hide();
                guitest::Pump(30);
                panel->Show();
            }
            i == 1 ? panel->Refresh() : cover.reset();
        }));
        places.push_back(Origin());
        EXPECT_EQ(MisdrawnKeys(), 0) << "repaint " << i;
    }
    EXPECT_FALSE(places[1] == first && places[2] == first);
    EXPECT_FALSE(places[3] == places[2] && places[4] == places[2]);
}

}  // namespace
