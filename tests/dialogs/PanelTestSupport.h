// The panel tests' stand-in for the main window: a receiver that records everything the
// panels report, and a real top-level window of the main window's size to show them in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/dialog.h>

#include "dialogs/VaultDialogueEvents.h"
#include "support/GuiTest.h"
#include "support/TestVault.h"

namespace paneltest {

// Records the panels' events; entries are read from vault, opened with master.
class RecordingHost : public VaultDialogueEvents {
public:
    void OnPasswordTyped(Ombrix::SecretString text) override {
        passwords.emplace_back(text.view());
    }
    void OnPictureChecked(bool seen) override { checks.push_back(seen); }
    void OnPictureChosen(const Ombrix::Data<unsigned char>& pixels) override {
        pictures.emplace_back(pixels.m_pBuffer, pixels.m_pBuffer + pixels.m_nLength);
    }
    void OnNameTyped(std::string name) override { names.push_back(std::move(name)); }
    void OnListButton(ListButton button) override { buttons.push_back(button); }
    bool ReadEntry(const std::string& name, PasswordEntry& entry) override {
        reads.push_back(name);
        return vault.store.GetEntry(vault.Directory(), master, name, entry);
    }

    testsupport::TestVault vault;
    const std::string master = "open4sesame";
    std::vector<std::string> passwords, names, reads;
    std::vector<bool> checks;
    std::vector<std::vector<unsigned char>> pictures;
    std::vector<ListButton> buttons;
};

// A Panel laid over the upper part of a shown window with the main window's client size.
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
        guitest::PaintCounter paints(panel);
        panel->Show();
        guitest::PumpUntil([&] { return paints.Count() > 0; });
        guitest::Pump(30);
    }

    RecordingHost host;
    std::unique_ptr<wxDialog> window =
        std::make_unique<wxDialog>(nullptr, wxID_ANY, "ferrocask test");
    Panel* panel = nullptr;  // owned by window
};

// Pixels that differ between two captures of the same size, outside ignored.
inline int Differences(const wxImage& a, const wxImage& b, const wxRect& ignored = wxRect()) {
    int differences = 0;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            differences += !ignored.Contains(x, y) &&
                           !(guitest::PixelAt(a, x, y) == guitest::PixelAt(b, x, y));
        }
    }
    return differences;
}

}  // namespace paneltest
