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
           Le32(width) + Le32(height) + Le16(1) + Le16(24) + std::string(24, '\0') +
           std::string(dataBytes, '\x40');
}

// A baseline JPEG frame header and the start of its data, with no data after it.
inline std::string Jpeg(std::uint32_t width, std::uint32_t height) {
    return std::string("\xFF\xD8\xFF\xC0\x00\x11\x08", 7) + Be16(height) + Be16(width) +
           std::string("\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00", 10) +
           std::string("\xFF\xDA\x00\x0C\x03\x01\x00\x02\x00\x03\x00\x00\x3F\x00", 14) +
           std::string(16, '\0');
}

// An 8-bit, three-plane PCX header with a little data.
inline std::string Pcx(std::uint32_t width, std::uint32_t height) {
    return std::string("\x0a\x05\x01\x08\0\0\0\0", 8) + Le16(width - 1) + Le16(height - 1) +
           std::string(53, '\0') + "\x03" + Le16(width) + Le16(1) + std::string(58 + 16, '\0');
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
    auto entry = [&](std::uint32_t tag, std::uint32_t v, bool isLong) {
        return isLong ? n16(tag) + n16(4) + n32(1) + n32(v)
                      : n16(tag) + n16(3) + n32(1) + n16(v) + n16(0);
    };
    return (bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4)) + n32(8 + 16) +
           std::string(16, '\0') + n16(9) + entry(256, width, true) +
           entry(257, height, height > 0xFFFF) + entry(258, 8, false) + entry(259, 1, false) +
           entry(262, 1, false) + entry(273, 8, true) + entry(277, 1, false) +
           entry(278, height, true) + entry(279, 16, true) + n32(0);
}

// An icon file with one bitmap image of the given size (its height counted once).
inline std::string IconFile(std::uint32_t width, std::uint32_t height) {
    return std::string("\0\0\1\0\1\0", 6) + std::string(4, '\0') + Le16(1) + Le16(32) + Le32(40) +
           Le32(22) + Le32(40) + Le32(width) + Le32(height * 2) + Le16(1) + Le16(32) +
           std::string(24, '\0');
}

}  // namespace picturebytes
