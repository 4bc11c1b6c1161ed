// Choice of the display system before the widget library starts.
#pragma once

namespace platform {

// Makes GTK use X11 (under Wayland through XWayland) and fall back to whatever else it has
// only when there is no X server. The list panel asks for the pointer's position between
// button events, which GTK cannot answer for a Wayland client. Must run before the widget
// library opens the display.
void PreferX11Display();

}  // namespace platform
