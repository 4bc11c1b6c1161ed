#include "platform/ChildDialog.h"

#include <wx/button.h>
#include <wx/toplevel.h>

namespace platform {

bool ChildDialog::CreateFromTemplate(wxWindow* parent, const DialogTemplate& dialog) {
    const wxSize size(TemplateWidthPixels(dialog), TemplateHeightPixels(dialog));
    // Created hidden: the main window decides which panel is shown.
    wxPanel::Hide();
    if (!wxPanel::Create(parent, wxID_ANY, wxPoint(0, 0), size, wxTAB_TRAVERSAL)) {
        return false;
    }
    BuildControls(this, dialog);
    for (const ControlTemplate& control : dialog.controls) {
        if (control.kind == ControlKind::DefaultPushButton) {
            m_defaultButtonId = control.id;
        }
    }
    return true;
}

wxWindow* ChildDialog::Control(int id) const {
    for (wxWindow* child : GetChildren()) {
        if (child->GetId() == id) {
            return child;
        }
    }
    return nullptr;
}

bool ChildDialog::Show(bool show) {
    const bool changed = wxPanel::Show(show);
    if (show && m_defaultButtonId != kNoControlId) {
        auto* button = dynamic_cast<wxButton*>(Control(m_defaultButtonId));
        auto* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(this));
        if (button != nullptr && top != nullptr) {
            top->SetDefaultItem(button);
        }
    }
    return changed;
}

}  // namespace platform
