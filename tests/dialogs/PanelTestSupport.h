// A stand-in for the main window in the panel tests: a real top-level window of the main
// window's size, and a receiver that records everything the panels report.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

#include "dialogs/VaultDialogueEvents.h"
#include "support/GuiTest.h"
#include "support/TestVault.h"
#include "vault/PasswordEntry.h"

namespace paneltest {

// Records the panels' events; the list panel's reads are served from vault, opened with
// master (no vault: every read finds nothing).
class RecordingHost : public VaultDialogueEvents {
public:
    RecordingHost() = default;
    RecordingHost(testsupport::TestVault& vault, std::string master)
        : m_vault(&vault), m_master(std::move(master)) {}

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
        return m_vault != nullptr &&
               m_vault->store.GetEntry(m_vault->Directory(), m_master, name, entry);
    }

    std::vector<std::string> passwords;
    std::vector<bool> checks;
    std::vector<std::vector<unsigned char>> pictures;
    std::vector<std::string> names;
    std::vector<ListButton> buttons;
    std::vector<std::string> reads;

private:
    testsupport::TestVault* m_vault = nullptr;
    std::string m_master;
};

// A shown top-level window with the main window's client size, destroyed with the object.
class HostWindow {
public:
    HostWindow() : m_window(new wxDialog(nullptr, wxID_ANY, "ferrocask test")) {
        m_window->SetClientSize(482, 315);
        m_window->Move(100, 100);
    }
    ~HostWindow() { delete m_window; }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    wxDialog* get() const { return m_window; }

    // Lays panel over the window's upper part and shows both, waiting for the first paint.
    void ShowPanel(wxWindow* panel) {
        panel->SetSize(wxRect(0, 0, 482, 215));
        m_window->Show();
        guitest::PaintCounter paints(panel);
        panel->Show();
        guitest::PumpUntil([&] { return paints.Count() > 0; });
        guitest::Pump(30);
    }

private:
    wxDialog* m_window;
};

}  // namespace paneltest
