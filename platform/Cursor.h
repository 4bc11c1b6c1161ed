// Where the mouse pointer is, as the panels ask for it outside of mouse messages.
#pragma once

#include <wx/gdicmn.h>

class wxWindow;

namespace platform {

// The pointer's current position in window's client coordinates.
wxPoint CursorPositionInClient(const wxWindow* window);

}  // namespace platform
