// Tells a window when the X server asks for part of it to be drawn again because its
// content was lost: the window was mapped or uncovered. GTK redraws windows for many more
// reasons of its own (a control's hover or focus, the window becoming active or inactive);
// a panel that acts on being uncovered must not act on those. On a display that is not X11 nothing
// is reported.
#pragma once

#include <functional>

#include <wx/gdicmn.h>

class wxWindow;

namespace platform {

class ExposeWatch {
public:
    // Calls onExpose with each lost area, in window's client coordinates, that overlaps
    // window's client area.
    ExposeWatch(wxWindow* window, std::function<void(const wxRect&)> onExpose);
    ~ExposeWatch();
    ExposeWatch(const ExposeWatch&) = delete;
    ExposeWatch& operator=(const ExposeWatch&) = delete;

    // Reports an X expose event of the native window (native window coordinates).
    void Exposed(unsigned long nativeWindow, const wxRect& area);

private:
    wxWindow* m_window;
    std::function<void(const wxRect&)> m_onExpose;
};

}  // namespace platform
