#include "platform/Picture.h"

#include "platform/DeclaredPictureSize.h"
#include "platform/GifCheck.h"
#include "platform/JpegPicture.h"

#include <cstdint>
#include <new>
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

// The largest file given to any decoder. A photo of 200 million pixels at the best quality
// a camera offers takes some 100 to 200 MB, an uncompressed picture within the declared-size
// limit at most 400 MB (eight bytes a pixel); a bigger file is no picture to choose here.
constexpr wxFileOffset kMaxPictureFileBytes = wxFileOffset{512} * 1024 * 1024;

// The largest GIF file checked: the check holds the whole file, and the frame's data once
// more, in memory. A frame within the pixel limit takes at most 1.5 bytes a pixel (twelve
// bits a pixel, the widest code) in any encoder's output: 75 MB for one the size of the
// limit; real GIF files are far smaller.
constexpr wxFileOffset kMaxGifFileBytes = wxFileOffset{80} * 1024 * 1024;

bool GifFileIsSound(wxFFile& file, wxFileOffset length) {
    if (length <= 0 || length > kMaxGifFileBytes) {
        return false;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    return file.Seek(0) && file.Read(bytes.data(), bytes.size()) == bytes.size() &&
           GifIsSound(bytes);
}

// False for a file whose header declares more pixels than allowed, or more than its bytes
// can hold, to the decoder of the given kind.
bool DeclaredSizeIsSound(PictureFormat format, wxFFile& file, wxFileOffset length) {
    const ReadFileBytes read = [&file](std::uint64_t offset, unsigned char* into,
                                       std::size_t count) {
        return file.Seek(static_cast<wxFileOffset>(offset)) && file.Read(into, count) == count;
    };
    const std::optional<DeclaredPictureSize> declared =
        ReadDeclaredPictureSize(format, read, static_cast<std::uint64_t>(length));
    if (!declared) {
        return true;
    }
    if (declared->unreadable || declared->width > kMaxDeclaredPixels ||
        declared->height > kMaxDeclaredPixels) {
        return false;
    }
    const std::uint64_t pixels = declared->width * declared->height;
    return pixels <= kMaxDeclaredPixels &&
           static_cast<double>(pixels) * declared->leastBytesPerPixel <=
               static_cast<double>(length);
}

// The kind of header read before the decoder of the given type sees a file; nothing for
// decoders that need no such check. JPEG files never reach the widget library's decoder.
std::optional<PictureFormat> GuardedFormat(wxBitmapType type) {
    switch (type) {
        case wxBITMAP_TYPE_PNG:
            return PictureFormat::kPng;
        case wxBITMAP_TYPE_BMP:
            return PictureFormat::kBmp;
        case wxBITMAP_TYPE_ICO:
        case wxBITMAP_TYPE_CUR:
            return PictureFormat::kIcon;
        case wxBITMAP_TYPE_TIFF:
            return PictureFormat::kTiff;
        case wxBITMAP_TYPE_PCX:
            return PictureFormat::kPcx;
        case wxBITMAP_TYPE_TGA:
            return PictureFormat::kTga;
        default:
            return std::nullopt;
    }
}

// Whether the decoder of the given type may be given the file.
bool SafeForDecoder(wxBitmapType type, wxFFile& file, wxFileOffset length) {
    if (type == wxBITMAP_TYPE_GIF) {
        return GifFileIsSound(file, length);
    }
    const std::optional<PictureFormat> format = GuardedFormat(type);
    return !format || DeclaredSizeIsSound(*format, file, length);
}

// False for files the widget library's decoders must not be given. Every decoder that
// recognises the file may be tried in turn until one succeeds, so each of them is asked.
bool SafeToDecode(wxFFile& file, wxFileOffset length) {
    for (wxObject* item : wxImage::GetHandlers()) {
        auto* handler = static_cast<wxImageHandler*>(item);
        bool recognised = false;
        {
            wxFFileInputStream stream(file);
            recognised = file.Seek(0) && handler->CanRead(stream);
        }
        if (recognised && !SafeForDecoder(handler->GetType(), file, length)) {
            return false;
        }
    }
    return true;
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

// Decodes the file with the widget library's decoders.
std::optional<wxImage> DecodeWithLibrary(const wxString& path) {
    AssertionsNoted assertions;
    wxImage image;
    if (!image.LoadFile(path, wxBITMAP_TYPE_ANY) || assertions.Failed()) {
        return std::nullopt;
    }
    return image;
}

// Decodes the file without letting the widget library report errors in a window: JPEG files
// by libjpeg at a reduced scale, any other after the checks above by the widget library.
std::optional<wxImage> Decode(const wxString& path) {
    EnablePictureDecoders();
    if (path.empty() || !wxFileName::FileExists(path)) {
        return std::nullopt;
    }
    wxLogNull quiet;
    std::optional<wxImage> image;
    try {
        wxFFile file(path, "rb");
        const wxFileOffset length = file.IsOpened() ? file.Length() : -1;
        if (length <= 0 || length > kMaxPictureFileBytes) {
            return std::nullopt;
        }
        unsigned char start[2] = {};
        const std::size_t started = file.Read(start, sizeof start);
        if (StartsLikeJpeg(start, started)) {
            if (!file.Seek(0)) {
                return std::nullopt;
            }
            image = DecodeJpegReduced(file.fp(), kRenderedPictureSide);
        } else if (SafeToDecode(file, length)) {
            file.Close();
            image = DecodeWithLibrary(path);
        }
    } catch (const std::bad_alloc&) {
        // A check or decoder that cannot get the memory it wants throws; the picture is
        // refused instead of the program ending.
        return std::nullopt;
    }
    if (!image || !image->IsOk() || image->GetWidth() <= 0 || image->GetHeight() <= 0) {
        return std::nullopt;
    }
    return image;
}

// Lays the picture on white where it is transparent.
void FlattenOnWhite(wxImage& image) {
    if (image.HasMask() && !image.HasAlpha()) {
        image.InitAlpha();  // turns the mask into alpha
    } else if (image.HasMask()) {
        // Both (the cursor decoder gives such images): a masked pixel is transparent
        // whatever its alpha says. The widget library would assert on InitAlpha here.
        const unsigned char mask[3] = {image.GetMaskRed(), image.GetMaskGreen(),
                                       image.GetMaskBlue()};
        const unsigned char* pixel = image.GetData();
        unsigned char* alpha = image.GetAlpha();
        const long pixels = static_cast<long>(image.GetWidth()) * image.GetHeight();
        for (long i = 0; i < pixels; ++i, pixel += 3) {
            if (pixel[0] == mask[0] && pixel[1] == mask[1] && pixel[2] == mask[2]) {
                alpha[i] = 0;
            }
        }
        image.SetMask(false);
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
        // Animated cursors, Amiga IFF and PNM pictures are not decoded: the widget library's
        // decoders for them read outside their buffers or divide by zero on malformed files,
        // and none of them is a picture anybody would choose here.
        for (const wxBitmapType type : {wxBITMAP_TYPE_ANI, wxBITMAP_TYPE_IFF, wxBITMAP_TYPE_PNM}) {
            if (wxImageHandler* handler = wxImage::FindHandler(type)) {
                wxImage::RemoveHandler(handler->GetName());
            }
        }
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
