#include "platform/ExposeWatch.h"

#include <utility>

#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <wx/toplevel.h>
#include <wx/window.h>

namespace platform {

namespace {

GdkFilterReturn FilterExpose(GdkXEvent* native, GdkEvent*, gpointer data) {
    const XEvent* event = static_cast<const XEvent*>(native);
    if (event->type == Expose) {
        const XExposeEvent& expose = event->xexpose;
        static_cast<ExposeWatch*>(data)->Exposed(
            expose.window, wxRect(expose.x, expose.y, expose.width, expose.height));
    }
    return GDK_FILTER_CONTINUE;
}

bool OnX11() {
    return GDK_IS_X11_DISPLAY(gdk_display_get_default());
}

}  // namespace

ExposeWatch::ExposeWatch(wxWindow* window, std::function<void(const wxRect&)> onExpose)
    : m_window(window), m_onExpose(std::move(onExpose)) {
    if (OnX11()) {
        gdk_window_add_filter(nullptr, FilterExpose, this);
    }
}

ExposeWatch::~ExposeWatch() {
    if (OnX11()) {
        gdk_window_remove_filter(nullptr, FilterExpose, this);
    }
}

void ExposeWatch::Exposed(unsigned long nativeWindow, const wxRect& area) {
    wxWindow* top = wxGetTopLevelParent(m_window);
    if (top == nullptr || top->GetHandle() == nullptr) {
        return;
    }
    GdkWindow* gdkWindow = gtk_widget_get_window(top->GetHandle());
    if (gdkWindow == nullptr || !GDK_IS_X11_WINDOW(gdkWindow) ||
        gdk_x11_window_get_xid(gdkWindow) != nativeWindow) {
        return;
    }
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(gdkWindow, &originX, &originY);
    const wxPoint client = m_window->ScreenToClient(wxPoint(originX + area.x, originY + area.y));
    const wxRect lost(client, area.GetSize());
    const wxRect visible(wxPoint(0, 0), m_window->GetClientSize());
    if (m_window->IsShownOnScreen() && lost.Intersects(visible)) {
        m_onExpose(lost.Intersect(visible));
    }
}

}  // namespace platform
