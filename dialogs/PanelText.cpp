#include "dialogs/PanelText.h"

#include <wx/stattext.h>

#include "platform/ChildDialog.h"
#include "resources/DialogTemplates.h"

void ShowPrompt(platform::ChildDialog& panel, const wxString& prompt) {
    if (auto* control = dynamic_cast<wxStaticText*>(panel.Control(ids::kPrompt))) {
        wxString shown = prompt;
        shown.Replace("\r\n", "\n");
        control->SetLabel(shown);
    }
}
