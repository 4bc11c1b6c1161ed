// Icons from PNG pictures held in memory.
#pragma once

#include <cstddef>
#include <vector>

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

namespace platform {

struct PngBytes {
    const unsigned char* bytes;
    std::size_t length;
};

// One icon per picture that decodes; pictures that do not decode are left out.
wxIconBundle IconBundleFromPngs(const std::vector<PngBytes>& pictures);

// The bundle's picture for a side of that many pixels: the smallest one at least that large,
// scaled down to the side (or the largest one, scaled up). An empty bitmap for an empty
// bundle.
wxBitmap IconBitmap(const wxIconBundle& icons, int side);

}  // namespace platform
