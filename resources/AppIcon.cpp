#include "resources/AppIcon.h"

#include "platform/Icons.h"
#include "resources/Embedded.h"

// Decoded afresh on each call (twice per run): no picture outlives the widget library.
wxIconBundle AppIcons() {
    std::vector<platform::PngBytes> pictures;
    for (const EmbeddedFile& file : AppIconFiles()) {
        pictures.push_back({file.bytes, file.length});
    }
    return platform::IconBundleFromPngs(pictures);
}

wxBitmap AppIconBitmap(int side) {
    return platform::IconBitmap(AppIcons(), side);
}
