#include "platform/Cursor.h"

#include <wx/utils.h>
#include <wx/window.h>

namespace platform {

wxPoint CursorPositionInClient(const wxWindow* window) {
    return window->ScreenToClient(wxGetMousePosition());
}

}  // namespace platform
