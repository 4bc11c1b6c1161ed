#include "support/GuiTest.h"

#include <gdk/gdk.h>

#include <wx/filename.h>

namespace guitest {

wxImage CaptureClient(const wxWindow* window) {
    const wxSize size = window->GetClientSize();
    const wxPoint origin = window->ClientToScreen(wxPoint(0, 0));
    gdk_display_sync(gdk_display_get_default());
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), origin.x,
                                                   origin.y, size.x, size.y);
    wxImage image(size, true);
    if (pixbuf == nullptr) {
        ADD_FAILURE() << "cannot read the screen";
        return image;
    }
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    for (int at = 0; at < size.x * size.y; ++at) {
        const guchar* p = gdk_pixbuf_get_pixels(pixbuf) +
                          at / size.x * gdk_pixbuf_get_rowstride(pixbuf) + at % size.x * channels;
        image.SetRGB(at % size.x, at / size.x, p[0], p[1], p[2]);
    }
    g_object_unref(pixbuf);
    return image;
}

void SaveScreenshot(const wxWindow* window, const std::string& name) {
    wxFileName::Mkdir(FERROCASK_SCREENSHOT_DIR, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    CaptureClient(window).SaveFile(wxString(FERROCASK_SCREENSHOT_DIR "/") + name + ".png",
                                   wxBITMAP_TYPE_PNG);
}

}  // namespace guitest
