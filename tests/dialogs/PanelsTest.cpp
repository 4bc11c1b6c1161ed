// The panels of the main window, each shown alone in a window of the main window's size,
// reporting to a receiver that records what they report.
#include <gtest/gtest.h>

#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include "dialogs/DiaImage.h"
#include "dialogs/DiaList.h"
#include "dialogs/DiaPassword.h"
#include "dialogs/DiaSelimg.h"
#include "dialogs/SoftKeyboard.h"
#include "dialogs/VaultDialogueEvents.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"
#include "support/GuiTest.h"
#include "support/TestVault.h"

using guitest::PixelAt;
using guitest::Rgb;

namespace {

// Records the panels' events; entries are read from vault, opened with master.
struct RecordingHost : VaultDialogueEvents {
    void OnPasswordTyped(Ombrix::SecretString text) override {
        passwords.emplace_back(text.view());
    }
    void OnPictureChecked(bool) override {}
    void OnPictureChosen(const Ombrix::Data<unsigned char>& pixels) override {
        pictures.emplace_back(pixels.m_pBuffer, pixels.m_pBuffer + pixels.m_nLength);
    }
    void OnNameTyped(std::string) override {}
    void OnListButton(ListButton) override {}
    bool ReadEntry(const std::string& name, PasswordEntry& entry) override {
        reads.push_back(name);
        return vault.store.GetEntry(vault.Directory(), master, name, entry);
    }

    testsupport::TestVault vault;
    const std::string master = "open4sesame";
    std::vector<std::string> passwords, reads;
    std::vector<std::vector<unsigned char>> pictures;
};

// A Panel over the upper part of a shown window with the main window's client size.
template <class Panel>
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        window->SetClientSize(482, 315);
        window->Move(100, 100);
        panel = new Panel(host);
        ASSERT_TRUE(panel->Create(window.get()));
        panel->SetSize(wxRect(0, 0, 482, 215));
        window->Show();
        guitest::Repainted(
            panel, [&] { panel->Show(); }, 30);
    }

    RecordingHost host;
    std::unique_ptr<wxDialog> window =
        std::make_unique<wxDialog>(nullptr, wxID_ANY, "ferrocask test");
    Panel* panel = nullptr;  // owned by window
};

class SoftKeyboardTest : public PanelTest<DiaPassword> {
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

constexpr int kSide = 128;

// How many pixels of the panel's top-left square differ from the block (blue-green-red
// rows from the top).
int DifferencesFromBlock(const wxWindow* panel, const unsigned char* bgr) {
    wxImage block(kSide, kSide);
    for (int i = 0; i < kSide * kSide * 3; ++i) {
        block.GetData()[i] = bgr[i + 2 - 2 * (i % 3)];
    }
    const wxImage shown = guitest::CaptureClient(panel).GetSubImage(wxRect(0, 0, kSide, kSide));
    return guitest::Differences(shown, block);
}
// The picture's place shows the panel's own colour.
bool PictureAreaBlank(const wxWindow* panel) {
    const wxImage shown = guitest::CaptureClient(panel);
    return guitest::PixelAt(shown, 0, 0) == guitest::PixelAt(shown, 200, 190);
}

class PictureChoiceTest : public PanelTest<DiaSelimg> {
protected:
    void Choose(std::optional<std::string> path) {
        files.path = std::move(path);
        panel->OnChoosePicture();
        guitest::Pump(150);
    }
    // Confirms; true when refused with just that message.
    bool RefusedWith(const char* text) {
        const size_t chosen = host.pictures.size();
        boxes.Clear();
        panel->OnOK();
        return boxes.Take() == std::vector<std::string>{text} && host.pictures.size() == chosen;
    }

    const std::string good = host.vault.File("holiday.png");
    guitest::MessageBoxes boxes;
    guitest::FileChoice files;
};

TEST_F(PictureChoiceTest, ChosenPictureIsShownAndTheBlockIsWhatIsShown) {
    // Top-left quarter pure red, the rest a pattern of many colours.
    guitest::WritePicture(good, 64, 48, [](int x, int y) {
        return x < 32 && y < 24 ? Rgb{255, 0, 0} : Rgb{x * 4, y * 5, (x * y) % 256};
    });
    // Confirmed at once, before any repaint, the block is already the whole picture.
    files.path = good;
    panel->OnChoosePicture();
    panel->OnOK();
    ASSERT_EQ(host.pictures.size(), 1u);
    const std::vector<unsigned char> block = host.pictures[0];
    ASSERT_EQ(block.size(), kSide * kSide * 3u);
    EXPECT_EQ(std::vector<unsigned char>(block.begin(), block.begin() + 3),
              (std::vector<unsigned char>{0, 0, 255}));
    EXPECT_EQ(std::vector<unsigned char>(block.end() - 3, block.end()),
              (std::vector<unsigned char>{145, 235, 252}));
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, block.data()), 0);
    guitest::SaveScreenshot(window.get(), "picture-selection");

    // Repaints draw the picture as chosen, without reading the file again.
    guitest::WritePicture(good, 64, 48, [](int, int) { return Rgb{0, 0, 255}; });
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, block.data()), 0);

    // Asked again (the next change of the master password), nothing is chosen or shown.
    panel->Ask("again");
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
}

TEST_F(PictureChoiceTest, NothingChosenCancelledOrUnreadableIsRefused) {
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
    Choose(std::nullopt);
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
    // A file that cannot be decoded, chosen after a good one, is refused and not drawn.
    guitest::WritePicture(good, 64, 48, [](int x, int y) { return Rgb{x * 4, y * 5, 0}; });
    Choose(good);
    testsupport::WriteFile(host.vault.File("broken.gif"), "GIF89a but nothing after it");
    boxes.Clear();
    Choose(host.vault.File("broken.gif"));
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{texts::kPictureCannotBeImported});
    EXPECT_TRUE(RefusedWith(texts::kPictureCannotBeImported));
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
}

using PictureCheckTest = PanelTest<DiaImage>;

TEST_F(PictureCheckTest, BlockIsDrawnPixelForPixelAtTheTopLeft) {
    EXPECT_TRUE(PictureAreaBlank(panel));
    Ombrix::Data<unsigned char> picture;
    testsupport::TestVault::MakePicture(picture, 3);
    panel->ShowPicture(wxString::FromUTF8(texts::kPictureNotSeenAdvice), picture.m_pBuffer, kSide,
                       kSide);
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, picture.m_pBuffer), 0);
    guitest::SaveScreenshot(window.get(), "picture-check");
    panel->ShowPicture("", nullptr, kSide, kSide);  // the earlier picture goes
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
}

const std::string kBank = "\xD2\xF8\xD0\xD0";  // "银行" in GB18030

class ListPanelTest : public PanelTest<DiaList> {
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
    const auto* nameBox = dynamic_cast<wxTextCtrl*>(panel->Control(ids::kSelectedNameBox));
    ASSERT_NE(nameBox, nullptr);
    EXPECT_TRUE(nameBox->GetValue().empty());  // no name of an entry that is gone
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
