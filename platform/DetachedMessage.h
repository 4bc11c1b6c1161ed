// A message box that belongs to no window and keeps no window from being used: the user may
// go on working in the main window while it is up, and close it whenever he likes.
#pragma once

#include <functional>

#include <wx/string.h>

namespace platform {

// Shows text (with "\r\n" line breaks) under caption with one OK button and returns at
// once; closed runs on the user-interface thread after the user has closed the box. Only
// on the user-interface thread. While a message-box hook is installed (MessageBox.h) the
// hook answers it instead, with a null owner, and closed runs before this returns.
void ShowDetachedMessage(const wxString& text, const wxString& caption,
                         std::function<void()> closed);

}  // namespace platform
