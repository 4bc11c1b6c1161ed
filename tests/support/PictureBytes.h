// Picture files made byte by byte: headers that declare any size, with as little data
// behind them as a test wants.
#pragma once

#include <cstdint>
#include <string>

namespace picturebytes {

inline std::string Le16(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
inline std::string Le32(std::uint32_t v) {
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}
inline std::string Be16(std::uint32_t v) {
    return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)};
}
inline std::string Be32(std::uint32_t v) {
    return Be16(v >> 16) + Be16(v & 0xFFFF);
}

// An uncompressed 24-bit BMP header followed by the given number of pixel bytes.
inline std::string Bmp(std::uint32_t width, std::uint32_t height, std::size_t dataBytes) {
    return "BM" + Le32(static_cast<std::uint32_t>(54 + dataBytes)) + Le32(0) + Le32(54) + Le32(40) +
           Le32(width) + Le32(height) + Le16(1) + Le16(24) + Le32(0) + Le32(0) + Le32(0) + Le32(0) +
           Le32(0) + Le32(0) + std::string(dataBytes, '\x40');
}

// A baseline JPEG frame header and the start of its data, with no data after it.
inline std::string Jpeg(std::uint32_t width, std::uint32_t height) {
    std::string bytes("\xFF\xD8\xFF\xC0\x00\x11\x08", 7);
    bytes +=
        Be16(height) + Be16(width) + std::string("\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00", 10);
    return bytes + std::string("\xFF\xDA\x00\x0C\x03\x01\x00\x02\x00\x03\x00\x00\x3F\x00", 14) +
           std::string(16, '\0');
}

// An 8-bit, three-plane PCX header with a little data.
inline std::string Pcx(std::uint32_t width, std::uint32_t height) {
    std::string header(128, '\0');
    header[0] = 10;
    header[1] = 5;
    header[2] = 1;
    header[3] = 8;
    header.replace(8, 2, Le16(width - 1));
    header.replace(10, 2, Le16(height - 1));
    header[65] = 3;
    header.replace(66, 2, Le16(width));
    header.replace(68, 2, Le16(1));
    return header + std::string(16, '\0');
}

inline std::string Png(std::uint32_t width, std::uint32_t height) {
    return std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + Be32(width) + Be32(height) +
           std::string("\x08\x02\x00\x00\x00\0\0\0\0", 9);
}

// A TIFF header with one grey strip; the width is stored as a 32-bit number, the height
// as a 16-bit one when it fits.
inline std::string TiffHeader(bool bigEndian, std::uint32_t width, std::uint32_t height) {
    auto n16 = [bigEndian](std::uint32_t v) { return bigEndian ? Be16(v) : Le16(v); };
    auto n32 = [bigEndian](std::uint32_t v) { return bigEndian ? Be32(v) : Le32(v); };
    auto shortEntry = [&](std::uint32_t tag, std::uint32_t v) {
        return n16(tag) + n16(3) + n32(1) + n16(v) + n16(0);
    };
    auto longEntry = [&](std::uint32_t tag, std::uint32_t v) {
        return n16(tag) + n16(4) + n32(1) + n32(v);
    };
    std::string bytes = bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
    bytes += n32(8 + 16) + std::string(16, '\0') + n16(9);
    bytes += longEntry(256, width);
    bytes += height > 0xFFFF ? longEntry(257, height) : shortEntry(257, height);
    bytes += shortEntry(258, 8) + shortEntry(259, 1) + shortEntry(262, 1) + longEntry(273, 8) +
             shortEntry(277, 1) + longEntry(278, height) + longEntry(279, 16);
    return bytes + n32(0);
}

// An icon file with one bitmap image of the given size (its height counted once).
inline std::string IconFile(std::uint32_t width, std::uint32_t height) {
    const std::string bitmap =
        Le32(40) + Le32(width) + Le32(height * 2) + Le16(1) + Le16(32) + std::string(24, '\0');
    return std::string("\0\0\1\0\1\0", 6) + std::string(4, '\0') + Le16(1) + Le16(32) +
           Le32(static_cast<std::uint32_t>(bitmap.size())) + Le32(22) + bitmap;
}

}  // namespace picturebytes
