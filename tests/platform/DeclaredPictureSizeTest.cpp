// The sizes read from picture headers, against files the widget library's own encoders
// wrote and against headers made by hand.
#include "platform/DeclaredPictureSize.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "support/GuiTest.h"
#include "support/PictureBytes.h"
#include "support/TempDir.h"

using namespace platform;
using namespace picturebytes;

namespace {

std::optional<DeclaredPictureSize> Declared(PictureFormat format, const std::string& bytes) {
    const ReadFileBytes read = [&bytes](std::uint64_t offset, unsigned char* into,
                                        std::size_t count) {
        if (offset > bytes.size() || count > bytes.size() - offset) {
            return false;
        }
        std::memcpy(into, bytes.data() + offset, count);
        return true;
    };
    return ReadDeclaredPictureSize(format, read, bytes.size());
}

TEST(DeclaredPictureSizeTest, FilesWrittenByTheEncodersDeclareTheirOwnSize) {
    testsupport::TempDir dir;
    const std::pair<const char*, PictureFormat> kinds[] = {
        {"png", PictureFormat::kPng}, {"bmp", PictureFormat::kBmp}, {"tif", PictureFormat::kTiff},
        {"pcx", PictureFormat::kPcx}, {"tga", PictureFormat::kTga}, {"ico", PictureFormat::kIcon},
        {"cur", PictureFormat::kIcon}};
    for (const auto& [extension, format] : kinds) {
        const std::string path = dir.File(std::string("p.") + extension);
        guitest::WritePicture(path, 37, 23, [](int x, int y) {
            return guitest::Rgb{static_cast<unsigned char>(x * 7), 90,
                                static_cast<unsigned char>(y * 11)};
        });
        const std::string bytes = testsupport::ReadFile(path);
        const std::optional<DeclaredPictureSize> size = Declared(format, bytes);
        ASSERT_TRUE(size.has_value()) << extension;
        EXPECT_FALSE(size->unreadable) << extension;
        EXPECT_EQ(size->width, 37u) << extension;
        // An icon's mask rows count too.
        EXPECT_EQ(size->height, format == PictureFormat::kIcon ? 46u : 23u) << extension;
        // A bound on the bytes a pixel takes must hold for every real file.
        EXPECT_LE(37 * 23 * size->leastBytesPerPixel, bytes.size()) << extension;
    }
}

TEST(DeclaredPictureSizeTest, HeadersMadeByHandAreWalkedOrFoundUnreadable) {
    // Sizes stored as 16-bit or 32-bit numbers in either byte order.
    const auto big = Declared(PictureFormat::kTiff, TiffHeader(true, 70000, 3));
    const auto little = Declared(PictureFormat::kTiff, TiffHeader(false, 5, 70000));
    ASSERT_TRUE(big && little);
    EXPECT_EQ(big->width, 70000u);
    EXPECT_EQ(big->height, 3u);
    EXPECT_EQ(little->width, 5u);
    EXPECT_EQ(little->height, 70000u);

    const std::pair<PictureFormat, std::string> unreadable[] = {
        {PictureFormat::kTiff, std::string("II*\0\xff\xff\x00\x00", 8)},
        {PictureFormat::kPng, std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16)},
        // The icon's image lies past the end.
        {PictureFormat::kIcon, std::string("\0\0\1\0\1\0", 6) + std::string(12, '\0') + Le32(1000)},
    };
    for (const auto& [format, bytes] : unreadable) {
        const auto size = Declared(format, bytes);
        ASSERT_TRUE(size.has_value()) << bytes.substr(0, 16);
        EXPECT_TRUE(size->unreadable) << bytes.substr(0, 16);
    }
}

}  // namespace
