// A panel built from a dialog template and laid over its parent window: the base of every
// panel that the main window shows one at a time.
#pragma once

#include <wx/panel.h>

#include "platform/DialogTemplate.h"

namespace platform {

class ChildDialog : public wxPanel {
public:
    ChildDialog() = default;

    // Creates the window as a hidden child of parent, sized as the template, with the
    // template's controls.
    bool CreateFromTemplate(wxWindow* parent, const DialogTemplate& dialog);

    // The control of that template id, or null.
    wxWindow* Control(int id) const;

    // Showing the panel also makes its default push button the one that Enter presses.
    bool Show(bool show = true) override;

private:
    int m_defaultButtonId = kNoControlId;
};

}  // namespace platform
