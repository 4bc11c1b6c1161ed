// The panel tests' stand-in for the main window: a receiver that records what the panels
// report, and a shown top-level window of the main window's size to hold them.
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

}  // namespace paneltest
