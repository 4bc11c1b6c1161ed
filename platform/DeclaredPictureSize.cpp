#include "platform/DeclaredPictureSize.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {

namespace {

// Reads numbers at offsets of the file; any read past its end marks the whole header as
// unreadable and yields zeros from then on.
class FileHeader {
public:
    FileHeader(const ReadFileBytes& read, std::uint64_t length) : m_read(read), m_length(length) {}

    bool Bytes(std::uint64_t offset, unsigned char* into, std::size_t count) {
        if (!m_ok || offset > m_length || count > m_length - offset ||
            !m_read(offset, into, count)) {
            m_ok = false;
            std::memset(into, 0, count);
        }
        return m_ok;
    }
    bool Matches(std::uint64_t offset, const char* text, std::size_t count) {
        std::string bytes(count, '\0');
        if (offset > m_length || count > m_length - offset ||
            !m_read(offset, reinterpret_cast<unsigned char*>(bytes.data()), count)) {
            return false;  // a signature that is not there is no failure of the header
        }
        return std::memcmp(bytes.data(), text, count) == 0;
    }
    std::uint32_t Number(std::uint64_t offset, int size, bool bigEndian) {
        unsigned char bytes[4] = {};
        Bytes(offset, bytes, static_cast<std::size_t>(size));
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            const int index = bigEndian ? i : size - 1 - i;
            value = value << 8 | bytes[index];
        }
        return value;
    }
    std::uint32_t Le16(std::uint64_t offset) { return Number(offset, 2, false); }
    std::uint32_t Le32(std::uint64_t offset) { return Number(offset, 4, false); }
    std::uint32_t Be32(std::uint64_t offset) { return Number(offset, 4, true); }
    unsigned Byte(std::uint64_t offset) { return Number(offset, 1, false); }

    bool Ok() const { return m_ok; }
    std::uint64_t Length() const { return m_length; }

private:
    const ReadFileBytes& m_read;
    std::uint64_t m_length;
    bool m_ok = true;
};

DeclaredPictureSize Size(std::uint64_t width, std::uint64_t height, double leastBytesPerPixel = 0) {
    DeclaredPictureSize size;
    size.width = width;
    size.height = height;
    size.leastBytesPerPixel = leastBytesPerPixel;
    return size;
}

DeclaredPictureSize Unreadable() {
    DeclaredPictureSize size;
    size.unreadable = true;
    return size;
}

// The finding as it stands once the header has been read: unreadable if a read failed.
DeclaredPictureSize Checked(FileHeader& header, DeclaredPictureSize size) {
    return header.Ok() ? size : Unreadable();
}

std::uint64_t PixelsOf(const DeclaredPictureSize& size) {
    if (size.width != 0 && size.height > UINT64_MAX / size.width) {
        return UINT64_MAX;
    }
    return size.width * size.height;
}

// Keeps the larger of two images (an unreadable one wins).
void KeepLarger(DeclaredPictureSize& kept, const DeclaredPictureSize& other) {
    if (other.unreadable || (!kept.unreadable && PixelsOf(other) > PixelsOf(kept))) {
        kept = other;
    }
}

std::uint64_t Magnitude(std::uint32_t value) {  // of a signed 32-bit field
    const auto signedValue = static_cast<std::int32_t>(value);
    return signedValue < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(signedValue))
                           : static_cast<std::uint64_t>(signedValue);
}

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

DeclaredPictureSize Png(FileHeader& header, std::uint64_t at) {
    return Checked(header, Size(header.Be32(at + 16), header.Be32(at + 20)));
}

std::optional<DeclaredPictureSize> Bmp(FileHeader& header) {
    const std::uint32_t infoSize = header.Le32(14);
    if (infoSize == 12) {  // the old OS/2 header with 16-bit sizes, never compressed
        return Checked(header, Size(header.Le16(18), header.Le16(20), header.Le16(24) / 8.0));
    }
    if (infoSize < 16) {
        return std::nullopt;  // the decoder refuses it
    }
    const std::uint32_t bitsPerPixel = header.Le16(28);
    const std::uint32_t compression = infoSize >= 20 ? header.Le32(30) : 0;
    // Uncompressed rows (plain or with colour masks) hold every pixel in the file.
    const bool raw = compression == 0 || compression == 3;
    return Checked(header, Size(Magnitude(header.Le32(18)), Magnitude(header.Le32(22)),
                                raw ? bitsPerPixel / 8.0 : 0));
}

// An icon or cursor file starting at the given offset: the largest image in it.
DeclaredPictureSize Icons(FileHeader& header, std::uint64_t at) {
    DeclaredPictureSize largest = Size(0, 0);
    const std::uint32_t count = header.Le16(at + 4);
    for (std::uint32_t i = 0; i < count && header.Ok(); ++i) {
        const std::uint64_t image = at + header.Le32(at + 6 + 16 * i + 12);
        if (header.Matches(image, kPngSignature, 8)) {
            KeepLarger(largest, Png(header, image));
        } else {
            // A bitmap without its file header; its height counts the mask as well.
            KeepLarger(largest, Checked(header, Size(Magnitude(header.Le32(image + 4)),
                                                     Magnitude(header.Le32(image + 8)))));
        }
    }
    return Checked(header, largest);
}

DeclaredPictureSize Pcx(FileHeader& header) {
    // Sizes as the decoder computes them, in unsigned arithmetic: a right edge left of the
    // left edge makes a huge width, not a negative one.
    const std::uint32_t width = header.Le16(8) - header.Le16(4) + 1;
    const std::uint32_t height = header.Le16(10) - header.Le16(6) + 1;
    // Every row is run-length coded; a run of two bytes gives at most 63 bytes.
    const double bytesPerPixel = header.Byte(3) * header.Byte(65) / 8.0;
    return Checked(header, Size(width, height, bytesPerPixel * 2 / 63));
}

std::optional<DeclaredPictureSize> Tiff(FileHeader& header, bool bigEndian) {
    const std::uint64_t directory = header.Number(4, 4, bigEndian);
    const std::uint32_t entries = header.Number(directory, 2, bigEndian);
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    for (std::uint32_t i = 0; i < entries && header.Ok(); ++i) {
        const std::uint64_t entry = directory + 2 + 12 * static_cast<std::uint64_t>(i);
        const std::uint32_t tag = header.Number(entry, 2, bigEndian);
        if (tag != 256 && tag != 257) {
            continue;
        }
        const std::uint32_t type = header.Number(entry + 2, 2, bigEndian);
        const std::uint64_t value = type == 3   ? header.Number(entry + 8, 2, bigEndian)
                                    : type == 4 ? header.Number(entry + 8, 4, bigEndian)
                                                : 0;
        (tag == 256 ? width : height) = value;
    }
    if (!header.Ok()) {
        return Unreadable();
    }
    if (width == 0 || height == 0) {
        return std::nullopt;  // the decoder refuses it
    }
    return Size(width, height);
}

// A TGA header: the size, and the colour map a colour-mapped image needs (the decoder reads
// a missing map through a null pointer). Shorter than its header, the file is unreadable:
// the decoder would take the size from whatever its stream gives past the end.
DeclaredPictureSize Tga(FileHeader& header) {
    unsigned char bytes[18] = {};
    if (!header.Bytes(0, bytes, sizeof bytes)) {
        return Unreadable();
    }
    const unsigned mapType = bytes[1];
    const bool colourMapped = (bytes[2] & ~8u) == 1;
    const unsigned mapLength = bytes[5] | bytes[6] << 8;
    const unsigned mapEntryBits = bytes[7];
    const unsigned pixelBits = bytes[16];
    const bool mapIsSound =
        mapType == 1 && mapLength > 0 &&
        (mapEntryBits == 15 || mapEntryBits == 16 || mapEntryBits == 24 || mapEntryBits == 32);
    if (mapType > 1 || (colourMapped && (!mapIsSound || pixelBits != 8))) {
        return Unreadable();
    }
    const double bytesPerPixel = (pixelBits + 7) / 8;
    // A run-length packet holds at most 128 pixels in a count byte and one pixel.
    const bool runLength = (bytes[2] & 8u) != 0;
    return Size(bytes[12] | bytes[13] << 8, bytes[14] | bytes[15] << 8,
                runLength ? (1 + bytesPerPixel) / 128 : bytesPerPixel);
}

}  // namespace

std::optional<DeclaredPictureSize> ReadDeclaredPictureSize(PictureFormat format,
                                                           const ReadFileBytes& read,
                                                           std::uint64_t fileLength) {
    FileHeader header(read, fileLength);
    switch (format) {
        case PictureFormat::kPng:
            return Png(header, 0);
        case PictureFormat::kBmp:
            return Bmp(header);
        case PictureFormat::kIcon:
            return Icons(header, 0);
        case PictureFormat::kTiff:
            return Tiff(header, header.Matches(0, "MM", 2));
        case PictureFormat::kPcx:
            return Pcx(header);
        case PictureFormat::kTga:
            return Tga(header);
    }
    return std::nullopt;
}

}  // namespace platform
