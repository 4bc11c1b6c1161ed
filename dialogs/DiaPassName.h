// The name panel: the user types the name of a new password.
#pragma once

#include <string>

#include "dialogs/VaultDialogHost.h"
#include "platform/ChildDialog.h"

class DiaPassName : public platform::ChildDialog {
public:
    explicit DiaPassName(VaultDialogHost& host);

    bool Create(wxWindow* parent);

    // m_name to and from the name box. Taking it fails (m_name unchanged) when the box
    // holds text that cannot be written as GB18030.
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // OK: hands the typed name to the host and asks it for the next step. No check here.
    void OnOK();

    std::string m_name;  // GB18030 bytes

private:
    VaultDialogHost& m_host;
};
