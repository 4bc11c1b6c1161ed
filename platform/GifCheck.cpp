#include "platform/GifCheck.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

namespace {

// The most pixels a GIF file may declare, all its frames together. The widget library's GIF
// decoder allocates each frame as declared before reading its data, and does not free it
// when the data turns out to be missing: a file of a few dozen bytes could take hundreds of
// megabytes for good. It also keeps every frame of the file, and a frame of one colour
// compresses to a few bytes for thousands of pixels: a file of a megabyte could otherwise
// ask for many gigabytes.
constexpr std::uint64_t kMaxGifPixels = 50'000'000;

std::uint64_t LittleEndian16(const std::string& bytes, std::size_t pos) {
    return static_cast<unsigned char>(bytes[pos]) |
           static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[pos + 1])) << 8;
}

// Walks a chain of data sub-blocks at pos, appending their data to *data unless it is null
// (and noting in *lastBlockStart where the data of the last sub-block begins there); false
// when the file ends inside the chain.
bool ReadGifSubBlocks(const std::string& bytes, std::size_t& pos, std::string* data,
                      std::size_t* lastBlockStart = nullptr) {
    for (;;) {
        if (pos >= bytes.size()) {
            return false;
        }
        const std::size_t length = static_cast<unsigned char>(bytes[pos++]);
        if (length == 0) {
            return true;
        }
        if (pos + length > bytes.size()) {
            return false;
        }
        if (data != nullptr) {
            if (lastBlockStart != nullptr) {
                *lastBlockStart = data->size();
            }
            data->append(bytes, pos, length);
        }
        pos += length;
    }
}

// True when data is a GIF code stream (codes of growing width from codeSize + 1 bits, least
// significant bit first) that yields exactly `pixels` pixels and then the end code, which
// lies in the last sub-block (its data starting at lastBlockStart): the decoder stops at
// the end code and takes a sub-block after it for the next block of the file, and leaks the
// frame when that fails. A code may only name a string already in the table or the one
// about to be added.
bool GifCodesAreSound(const std::string& data, std::size_t lastBlockStart, unsigned codeSize,
                      std::uint64_t pixels) {
    constexpr unsigned kMaxCodes = 4096;
    const unsigned clear = 1u << codeSize;
    const unsigned end = clear + 1;
    std::vector<std::uint32_t> lengths(kMaxCodes, 1);  // of each table string
    unsigned width = codeSize + 1;
    unsigned next = clear + 2;
    bool havePrevious = false;
    unsigned previous = 0;
    std::uint64_t produced = 0;
    std::uint32_t buffer = 0;
    unsigned bits = 0;
    std::size_t at = 0;
    for (;;) {
        while (bits < width) {
            if (at >= data.size()) {
                return false;  // no end code
            }
            buffer |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at++])) << bits;
            bits += 8;
        }
        const unsigned code = buffer & ((1u << width) - 1);
        buffer >>= width;
        bits -= width;
        if (code == clear) {
            width = codeSize + 1;
            next = clear + 2;
            havePrevious = false;
            continue;
        }
        if (code == end) {
            return produced == pixels && at > lastBlockStart;
        }
        std::uint64_t length = 0;
        if (!havePrevious) {
            if (code >= clear) {  // the first code after a clear is a single pixel
                return false;
            }
            length = 1;
        } else if (code < next) {
            length = lengths[code];
        } else if (code == next && next < kMaxCodes) {
            length = lengths[previous] + 1;
        } else {
            return false;
        }
        if (havePrevious && next < kMaxCodes) {
            lengths[next] = lengths[previous] + 1;
            ++next;
            if (next == (1u << width) && width < 12) {
                ++width;
            }
        }
        produced += length;
        if (produced > pixels) {
            return false;
        }
        previous = code;
        havePrevious = true;
    }
}

}  // namespace

// True when the GIF file's blocks are complete up to the trailer and no frame is empty, and
// the frames together are no larger than the decoder should be asked to hold. Checked before the
// widget library sees the file.
bool GifIsSound(const std::string& bytes) {
    if (bytes.size() < 13) {
        return false;
    }
    std::size_t pos = 13;
    std::uint64_t declaredPixels = 0;  // of the frames so far
    const unsigned char screenFlags = static_cast<unsigned char>(bytes[10]);
    if (screenFlags & 0x80) {
        pos += std::size_t{3} << ((screenFlags & 7) + 1);  // global colour table
    }
    for (;;) {
        if (pos >= bytes.size()) {
            return false;
        }
        const unsigned char block = static_cast<unsigned char>(bytes[pos++]);
        if (block == 0x3B) {  // trailer
            return true;
        }
        if (block == 0x21) {  // extension: label, then sub-blocks
            if (pos >= bytes.size()) {
                return false;
            }
            const unsigned char label = static_cast<unsigned char>(bytes[pos++]);
            // The decoder reads a graphic control extension as six bytes whatever they
            // hold; only the regular form (one block of four bytes, then the end) reads the
            // same both ways.
            if (label == 0xF9 &&
                (pos + 6 > bytes.size() || bytes[pos] != 4 || bytes[pos + 5] != 0)) {
                return false;
            }
            if (!ReadGifSubBlocks(bytes, pos, nullptr)) {
                return false;
            }
        } else if (block == 0x2C) {  // frame: position, size, flags
            if (pos + 9 > bytes.size()) {
                return false;
            }
            const std::uint64_t width = LittleEndian16(bytes, pos + 4);
            const std::uint64_t height = LittleEndian16(bytes, pos + 6);
            const unsigned char flags = static_cast<unsigned char>(bytes[pos + 8]);
            // An empty frame makes the decoder build an image from nothing, which fails
            // one of the widget library's assertions (a dialog in the program).
            declaredPixels += width * height;
            if (width == 0 || height == 0 || declaredPixels > kMaxGifPixels) {
                return false;
            }
            pos += 9;
            if (flags & 0x80) {
                pos += std::size_t{3} << ((flags & 7) + 1);  // local colour table
            }
            // The smallest code size of the compressed data: 2 to 8 bits in any GIF file
            // (a decoder error after the frame is allocated leaks the frame).
            if (pos >= bytes.size()) {
                return false;
            }
            const unsigned char codeSize = static_cast<unsigned char>(bytes[pos++]);
            if (codeSize < 2 || codeSize > 8) {
                return false;
            }
            std::string data;
            std::size_t lastBlockStart = 0;
            if (!ReadGifSubBlocks(bytes, pos, &data, &lastBlockStart) ||
                !GifCodesAreSound(data, lastBlockStart, codeSize, width * height)) {
                return false;
            }
        } else {
            return false;
        }
    }
}

}  // namespace platform
