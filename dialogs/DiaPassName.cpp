#include "dialogs/DiaPassName.h"

#include <wx/textctrl.h>

#include "platform/TextCodec.h"
#include "resources/DialogTemplates.h"

DiaPassName::DiaPassName(VaultDialogueEvents& events) : m_events(events) {
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, ids::kOk);
}

bool DiaPassName::Create(wxWindow* parent) {
    return CreateFromTemplate(parent, NameTemplate());
}

void DiaPassName::Ask() {
    if (auto* edit = dynamic_cast<wxTextCtrl*>(Control(ids::kNameEdit))) {
        edit->ChangeValue(wxString());
    }
}

void DiaPassName::OnOK() {
    auto* edit = dynamic_cast<wxTextCtrl*>(Control(ids::kNameEdit));
    if (edit == nullptr) {
        return;
    }
    if (std::optional<std::string> name = platform::DisplayToGb18030(edit->GetValue())) {
        m_events.OnNameTyped(std::move(*name));
    }
}
