// Picture decoding as the picture panels use it, on arbitrary file content: no crash, no
// window (errors are never reported on screen), and a decoded picture always comes out at
// 128 by 128 pixels without transparency.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <wx/debug.h>
#include <wx/image.h>
#include <wx/init.h>

#include "platform/Picture.h"

namespace {

// A failed assertion of the widget library would open a dialog in the program: here it is
// a finding.
void AbortOnAssert(const wxString& file, int line, const wxString&, const wxString& condition,
                   const wxString& message) {
    std::fprintf(stderr, "wxWidgets assertion %s at %s:%d: %s\n",
                 static_cast<const char*>(condition.utf8_str()),
                 static_cast<const char*>(file.utf8_str()), line,
                 static_cast<const char*>(message.utf8_str()));
    std::abort();
}

struct Setup {
    Setup() : path("/tmp/ferrocask-picture-fuzz-" + std::to_string(::getpid())) {
        // The base library only: decoding needs no display.
        wxSetAssertHandler(AbortOnAssert);
        platform::EnablePictureDecoders();
    }
    ~Setup() { std::remove(path.c_str()); }
    wxInitializer library;
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    std::FILE* file = std::fopen(setup.path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);

    const wxString path = wxString::FromUTF8(setup.path);
    const std::optional<wxImage> picture = platform::RenderPicture(path);
    if (platform::CanLoadPicture(path) != picture.has_value()) {
        std::abort();
    }
    if (picture && (!picture->IsOk() || picture->GetWidth() != platform::kRenderedPictureSide ||
                    picture->GetHeight() != platform::kRenderedPictureSide || picture->HasAlpha() ||
                    picture->HasMask())) {
        std::abort();
    }
    return 0;
}
