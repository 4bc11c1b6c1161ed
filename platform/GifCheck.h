// A check of GIF files before the widget library's GIF decoder sees them. That decoder
// trusts the file: it allocates each frame as declared and keeps it when the data then
// fails, reads some blocks at fixed sizes, asserts on empty frames and writes outside its
// buffers on some malformed compressed data.
#pragma once

#include <string>

namespace platform {

// True when the file (all its bytes, starting with "GIF") is well formed up to its trailer:
// every block complete, every frame neither empty nor larger than the decoder should be
// asked to hold, and the compressed data of every frame a valid code stream that yields
// exactly the frame's pixels and ends with its end code.
bool GifIsSound(const std::string& bytes);

}  // namespace platform
