#include "platform/DialogTemplate.h"

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include "platform/DialogUnits.h"
#include "platform/Painting.h"

namespace platform {

namespace {

wxRect PixelRect(const ControlTemplate& control) {
    return wxRect(DialogUnitsToPixels(control.x), DialogUnitsToPixels(control.y),
                  DialogUnitsToPixels(control.width), DialogUnitsToPixels(control.height));
}

void BuildControl(wxWindow* window, const ControlTemplate& control) {
    const wxRect rect = PixelRect(control);
    const wxString text = wxString::FromUTF8(control.text);
    const int id = control.id == kNoControlId ? wxID_ANY : control.id;
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            new wxButton(window, id, text, rect.GetPosition(), rect.GetSize());
            break;
        case ControlKind::StaticLeft:
        case ControlKind::StaticCentred: {
            const long align = control.kind == ControlKind::StaticCentred
                                   ? wxALIGN_CENTRE_HORIZONTAL
                                   : wxALIGN_LEFT;
            new wxStaticText(window, id, text, rect.GetPosition(), rect.GetSize(),
                             align | wxST_NO_AUTORESIZE);
            break;
        }
        case ControlKind::GroupBox:
            new wxStaticBox(window, id, text, rect.GetPosition(), rect.GetSize());
            break;
        case ControlKind::Edit:
            new wxTextCtrl(window, id, text, rect.GetPosition(), rect.GetSize(), wxBORDER_SUNKEN);
            break;
        case ControlKind::ListBox:
            new wxListBox(window, id, rect.GetPosition(), rect.GetSize(), 0, nullptr,
                          wxLB_SINGLE | wxLB_ALWAYS_SB);
            break;
    }
}

}  // namespace

void BuildControls(wxWindow* window, const DialogTemplate& dialog) {
    window->SetFont(TemplateFont(dialog.fontFace, dialog.fontPoints));
    for (const ControlTemplate& control : dialog.controls) {
        BuildControl(window, control);
    }
}

int TemplateWidthPixels(const DialogTemplate& dialog) {
    return DialogUnitsToPixels(dialog.width);
}

int TemplateHeightPixels(const DialogTemplate& dialog) {
    return DialogUnitsToPixels(dialog.height);
}

}  // namespace platform
