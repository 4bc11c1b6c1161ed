// The size a picture file declares in its header, read before any decoder sees the file.
// The widget library's decoders allocate (and often clear) the whole image as the header
// declares it before they read a single pixel, so a file of a hundred bytes can make them
// take gigabytes. Knowing the declared size lets the caller refuse such files first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// Copies count bytes from the given offset of the file into the buffer; false when the
// file ends before.
using ReadFileBytes =
    std::function<bool(std::uint64_t offset, unsigned char* into, std::size_t count)>;

struct DeclaredPictureSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    // The fewest file bytes that can hold one pixel of the declared image (its encoding at
    // its densest); 0 when the data is compressed in a way that gives no useful bound.
    double leastBytesPerPixel = 0;
    // The header could not be read through (cut short, a value
    // the decoder cannot work with): the decoder should not be given the file.
    bool unreadable = false;
};

// The kinds of file whose headers are read here (GIF files are checked elsewhere, JPEG files
// are decoded by libjpeg at a reduced scale and need no such check).
enum class PictureFormat { kPng, kBmp, kIcon, kTiff, kPcx, kTga };

// The largest image the file declares, read as the given kind of file (the kind whose
// decoder would be given the file); nothing when the header declares no image, which the
// decoder refuses by itself.
std::optional<DeclaredPictureSize> ReadDeclaredPictureSize(PictureFormat format,
                                                           const ReadFileBytes& read,
                                                           std::uint64_t fileLength);

}  // namespace platform
