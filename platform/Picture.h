// Picture files and pixel blocks: decoding any picture format the widget library reads,
// stretched to the 128 by 128 pixels that the picture check stores, and drawing a stored
// block of blue-green-red pixels.
#pragma once

#include <optional>

#include <wx/gdicmn.h>
#include <wx/image.h>
#include <wx/string.h>

class wxDC;

namespace platform {

constexpr int kRenderedPictureSide = 128;

// Registers every picture decoder of the widget library; harmless when called again.
void EnablePictureDecoders();

// True when the file can be read and decoded as a picture. Never shows an error of its own.
bool CanLoadPicture(const wxString& path);

// The picture decoded and stretched (nearest pixel) to 128 by 128, without transparency:
// transparent parts show white. Nothing when the file cannot be read or decoded.
std::optional<wxImage> RenderPicture(const wxString& path);

// Copies the top-left width by height pixels of image into out as blue, green, red bytes,
// rows from the top. The image must be at least that large.
void CaptureBgr(const wxImage& image, unsigned char* out, int width, int height);

// Draws a block of width by height blue-green-red pixels, rows from the top, with its
// top-left corner at origin.
void DrawBgrBlock(wxDC& dc, const unsigned char* bgr, int width, int height, wxPoint origin);

}  // namespace platform
