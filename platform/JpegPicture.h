// JPEG files decoded by libjpeg at a reduced scale. A photo from a current camera has up to
// two hundred million pixels; decoded whole it would take 600 MB, while the program only
// ever shows it at 128 by 128. libjpeg can decode at 1/8 to 8/8 of the size directly from
// the compressed data, holding only a few rows at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include <wx/image.h>

namespace platform {

// The most pixels a JPEG file may declare: the largest sensors of phones and cameras.
constexpr std::uint64_t kMaxJpegPixels = 200'000'000;

// The most memory libjpeg may take for one file. A sequential JPEG needs a few megabytes at
// any size; a progressive one needs its whole coefficient array (3 to 6 bytes a pixel), so
// a progressive file beyond about 33 (colour kept in full) to 66 million pixels (colour
// halved both ways, as cameras store it) is refused.
constexpr long kMaxJpegWorkingMemory = 200L * 1024 * 1024;

// True when the bytes at the start of a file are those of a JPEG file.
bool StartsLikeJpeg(const unsigned char* bytes, std::size_t count);

// Decodes the JPEG file read from its current position, as RGB, at the smallest of
// libjpeg's scales that leaves both sides at least leastSide pixels (the full size when a
// side is shorter than that). Nothing when libjpeg reports an error, the file declares more
// than kMaxJpegPixels or decoding it needs more than kMaxJpegWorkingMemory. Never ends the
// program; may throw std::bad_alloc.
std::optional<wxImage> DecodeJpegReduced(std::FILE* file, int leastSide);

}  // namespace platform
