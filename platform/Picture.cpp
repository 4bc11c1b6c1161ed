#include "platform/Picture.h"

#include "platform/GifCheck.h"

#include <cstdint>
#include <string>

#include <wx/bitmap.h>
#include <wx/dc.h>
#include <wx/debug.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/wfstream.h>

namespace platform {

namespace {

// The most pixels a picture file may declare: the decoders allocate the whole image as
// declared before they read any pixel, so a file of a few bytes could otherwise take
// gigabytes. A picture is shown at 128 by 128 pixels anyway.
constexpr std::uint64_t kMaxDeclaredPixels = 50'000'000;

// False for a file the widget library's TGA decoder would take that declares more pixels
// than allowed, or more than its bytes can hold (a run-length packet holds at most 128
// pixels in at least two bytes).
bool TgaSizeIsSound(wxFFile& file, wxFileOffset length) {
    wxImageHandler* tga = wxImage::FindHandler(wxBITMAP_TYPE_TGA);
    unsigned char header[18] = {};
    if (tga == nullptr || length < static_cast<wxFileOffset>(sizeof header) || !file.Seek(0) ||
        file.Read(header, sizeof header) != sizeof header) {
        return true;  // not something the TGA decoder takes
    }
    {
        wxFFileInputStream stream(file);
        if (!file.Seek(0) || !tga->CanRead(stream)) {
            return true;
        }
    }
    const std::uint64_t width = header[12] | header[13] << 8;
    const std::uint64_t height = header[14] | header[15] << 8;
    const std::uint64_t pixels = width * height;
    const std::uint64_t bytesPerPixel = (header[16] + 7u) / 8u;
    const bool runLength = (header[2] & 8u) != 0;
    const std::uint64_t leastData =
        runLength ? (pixels + 127) / 128 * (1 + bytesPerPixel) : pixels * bytesPerPixel;
    return pixels <= kMaxDeclaredPixels &&
           static_cast<std::uint64_t>(length) >= sizeof header + leastData;
}

// False for files the widget library's decoders must not be given (see GifIsSound and
// TgaSizeIsSound).
bool SafeToDecode(const wxString& path) {
    wxFFile file(path, "rb");
    if (!file.IsOpened()) {
        return false;
    }
    const wxFileOffset length = file.Length();
    if (length < 0) {
        return false;
    }
    // The widget library takes any file that starts with these three letters for a GIF file,
    // whatever its version bytes say.
    char magic[3] = {};
    if (file.Read(magic, sizeof magic) != sizeof magic || std::string(magic, 3) != "GIF") {
        return TgaSizeIsSound(file, length);
    }
    if (length == 0 || !file.Seek(0)) {
        return false;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (file.Read(bytes.data(), bytes.size()) != bytes.size()) {
        return false;
    }
    return GifIsSound(bytes);
}

// While it lives, a failed assertion of the widget library is only noted instead of being
// reported in a window: its decoders check some malformed files (an icon of width zero, for
// one) only by assertions. A picture whose decoding failed one is refused.
class AssertionsNoted {
public:
    AssertionsNoted() : m_previous(wxSetAssertHandler(Note)) { s_failed = false; }
    ~AssertionsNoted() { wxSetAssertHandler(m_previous); }
    AssertionsNoted(const AssertionsNoted&) = delete;
    AssertionsNoted& operator=(const AssertionsNoted&) = delete;

    bool Failed() const { return s_failed; }

private:
    static void Note(const wxString&, int, const wxString&, const wxString&, const wxString&) {
        s_failed = true;
    }

    // Decoding happens on the user-interface thread only.
    static inline bool s_failed = false;
    wxAssertHandler_t m_previous;
};

// Decodes the file without letting the widget library report errors in a window.
std::optional<wxImage> Decode(const wxString& path) {
    EnablePictureDecoders();
    if (path.empty() || !wxFileName::FileExists(path)) {
        return std::nullopt;
    }
    wxLogNull quiet;
    if (!SafeToDecode(path)) {
        return std::nullopt;
    }
    AssertionsNoted assertions;
    wxImage image;
    if (!image.LoadFile(path, wxBITMAP_TYPE_ANY) || assertions.Failed() || !image.IsOk() ||
        image.GetWidth() <= 0 || image.GetHeight() <= 0) {
        return std::nullopt;
    }
    return image;
}

// Lays the picture on white where it is transparent.
void FlattenOnWhite(wxImage& image) {
    if (image.HasMask()) {
        image.InitAlpha();  // turns the mask into alpha
    }
    if (!image.HasAlpha()) {
        return;
    }
    unsigned char* rgb = image.GetData();
    const unsigned char* alpha = image.GetAlpha();
    const long pixels = static_cast<long>(image.GetWidth()) * image.GetHeight();
    for (long i = 0; i < pixels; ++i) {
        const unsigned a = alpha[i];
        for (int c = 0; c < 3; ++c) {
            rgb[i * 3 + c] =
                static_cast<unsigned char>((rgb[i * 3 + c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
    image.ClearAlpha();
}

}  // namespace

void EnablePictureDecoders() {
    static bool enabled = false;
    if (!enabled) {
        wxInitAllImageHandlers();
        enabled = true;
    }
}

bool CanLoadPicture(const wxString& path) {
    return Decode(path).has_value();
}

std::optional<wxImage> RenderPicture(const wxString& path) {
    std::optional<wxImage> image = Decode(path);
    if (!image) {
        return std::nullopt;
    }
    FlattenOnWhite(*image);
    image->Rescale(kRenderedPictureSide, kRenderedPictureSide, wxIMAGE_QUALITY_NEAREST);
    return image;
}

void CaptureBgr(const wxImage& image, unsigned char* out, int width, int height) {
    const unsigned char* rgb = image.GetData();
    const int stride = image.GetWidth();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* from = rgb + (static_cast<long>(y) * stride + x) * 3;
            unsigned char* to = out + (static_cast<long>(y) * width + x) * 3;
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
}

void DrawBgrBlock(wxDC& dc, const unsigned char* bgr, int width, int height, wxPoint origin) {
    if (bgr == nullptr || width <= 0 || height <= 0) {
        return;
    }
    wxImage image(width, height, false);
    unsigned char* rgb = image.GetData();
    const long pixels = static_cast<long>(width) * height;
    for (long i = 0; i < pixels; ++i) {
        rgb[i * 3 + 0] = bgr[i * 3 + 2];
        rgb[i * 3 + 1] = bgr[i * 3 + 1];
        rgb[i * 3 + 2] = bgr[i * 3 + 0];
    }
    dc.DrawBitmap(wxBitmap(image), origin);
}

}  // namespace platform
