#include "app/CAboutDlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>

#include "platform/DialogTemplate.h"
#include "platform/DialogUnits.h"
#include "resources/AppIcon.h"
#include "resources/DialogTemplates.h"

namespace {

// Where the template puts the icon, in dialog units.
constexpr int kIconX = 11;
constexpr int kIconY = 17;
constexpr int kIconSide = 20;

}  // namespace

CAboutDlg::CAboutDlg(wxWindow* parent) {
    const platform::DialogTemplate& layout = AboutTemplate();
    Create(parent, wxID_ANY, wxString::FromUTF8(layout.caption), wxDefaultPosition, wxDefaultSize,
           wxDEFAULT_DIALOG_STYLE);
    SetClientSize(platform::TemplateWidthPixels(layout), platform::TemplateHeightPixels(layout));
    platform::BuildControls(this, layout);
    const int side = platform::DialogUnitsToPixels(kIconSide);
    new wxStaticBitmap(
        this, wxID_ANY, AppIconBitmap(side),
        wxPoint(platform::DialogUnitsToPixels(kIconX), platform::DialogUnitsToPixels(kIconY)),
        wxSize(side, side));
    // The OK button carries the template's id 1: it, Enter and Escape close the box.
    SetAffirmativeId(ids::kOk);
    SetEscapeId(ids::kOk);
    if (auto* ok = dynamic_cast<wxButton*>(FindWindow(ids::kOk))) {
        SetDefaultItem(ok);
        ok->SetFocus();
    }
    CentreOnParent();
}
