// A stand-in for the main window in the panel tests: a real top-level window of the main
// window's size that records every step the panels ask for.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

#include "dialogs/VaultDialogHost.h"
#include "support/GuiTest.h"

namespace paneltest {

class RecordingHost : public VaultDialogHost {
public:
    explicit RecordingHost(std::string directory = "/nonexistent/")
        : VaultDialogHost(std::move(directory)) {}

    void OnVaultStep() override {
        steps.push_back(Step{m_state, std::string(m_enteredPassword.view()), m_pictureSeen,
                             m_enteredName, m_listAction});
    }
    void OnOK() override { ++oks; }

    // What the host held when a panel asked for a step.
    struct Step {
        int state;
        std::string enteredPassword;
        bool pictureSeen;
        std::string enteredName;
        int listAction;
    };
    std::vector<Step> steps;
    int oks = 0;
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
