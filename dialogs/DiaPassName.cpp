#include "dialogs/DiaPassName.h"

#include <wx/textctrl.h>

#include "platform/TextCodec.h"
#include "resources/DialogTemplates.h"

DiaPassName::DiaPassName(VaultDialogHost& host) : m_host(host) {
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, ids::kOk);
}

bool DiaPassName::Create(wxWindow* parent) {
    return CreateFromTemplate(parent, NameTemplate());
}

bool DiaPassName::TransferDataToWindow() {
    if (auto* edit = dynamic_cast<wxTextCtrl*>(Control(ids::kNameEdit))) {
        edit->ChangeValue(platform::Gb18030ToDisplay(m_name));
    }
    return true;
}

bool DiaPassName::TransferDataFromWindow() {
    auto* edit = dynamic_cast<wxTextCtrl*>(Control(ids::kNameEdit));
    if (edit == nullptr) {
        return false;
    }
    std::optional<std::string> name = platform::DisplayToGb18030(edit->GetValue());
    if (!name) {
        return false;
    }
    m_name = std::move(*name);
    return true;
}

void DiaPassName::OnOK() {
    if (!TransferDataFromWindow()) {
        return;
    }
    m_host.m_enteredName = m_name;
    m_host.m_state = kStateNameSubmitted;
    m_host.OnVaultStep();
}
