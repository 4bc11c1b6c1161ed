// Data exchange shared by the panels: the prompt text shown in static control 1007.
#pragma once

#include <wx/string.h>

namespace platform {
class ChildDialog;
}

// Puts prompt into the panel's prompt control; "\r\n" breaks show as one line break.
void ShowPrompt(platform::ChildDialog& panel, const wxString& prompt);
