#include "platform/Icons.h"

#include <wx/icon.h>
#include <wx/image.h>
#include <wx/mstream.h>

namespace platform {

wxIconBundle IconBundleFromPngs(const std::vector<PngBytes>& pictures) {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) {
        wxImage::AddHandler(new wxPNGHandler);
    }
    wxIconBundle bundle;
    for (const PngBytes& picture : pictures) {
        wxMemoryInputStream stream(picture.bytes, picture.length);
        wxImage image;
        if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG) || !image.IsOk()) {
            continue;
        }
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(image));
        bundle.AddIcon(icon);
    }
    return bundle;
}

wxBitmap IconBitmap(const wxIconBundle& icons, int side) {
    if (icons.IsEmpty()) {
        return wxBitmap();
    }
    const wxIcon icon = icons.GetIcon(wxSize(side, side), wxIconBundle::FALLBACK_NEAREST_LARGER);
    wxBitmap bitmap;
    bitmap.CopyFromIcon(icon);
    if (bitmap.GetWidth() == side && bitmap.GetHeight() == side) {
        return bitmap;
    }
    return wxBitmap(bitmap.ConvertToImage().Scale(side, side, wxIMAGE_QUALITY_HIGH));
}

}  // namespace platform
