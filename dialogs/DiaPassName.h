// The name panel: the user types the name of a new password.
#pragma once

#include <string>

#include "dialogs/VaultDialogueEvents.h"
#include "platform/ChildDialog.h"

class DiaPassName : public platform::ChildDialog {
public:
    explicit DiaPassName(VaultDialogueEvents& events);

    bool Create(wxWindow* parent);

    // Asks for a name: the box shows empty.
    void Ask();

    // OK: hands the typed name (GB18030 bytes) to the vault dialogue; no check here. A name
    // that cannot be written as GB18030 is not handed over.
    void OnOK();

private:
    VaultDialogueEvents& m_events;
};
