// Picture files are decoded and rendered to the 128 by 128 block that the vault keeps:
// files written by independent encoders (the widget library's, libjpeg) are checked pixel
// by pixel; files made byte by byte check that what the decoders mishandle is refused
// before it is decoded, and the memory a huge file takes is measured in a helper process.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "platform/Picture.h"
#include "support/GuiTest.h"
#include "support/PictureBytes.h"

using guitest::Rgb;
using namespace platform;
using namespace picturebytes;

namespace {

constexpr int kSide = kRenderedPictureSide;
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};
using Quadrants = std::vector<std::vector<int>>;  // top left, top right, bottom left, right
const Quadrants kRgbQuadrants = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
// One red pixel.
const std::string kGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
    ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    35);

long PeakKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class PictureTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir.File(name); }
    bool Loads(const std::string& name) const {
        return CanLoadPicture(wxString::FromUTF8(Path(name)));
    }
    bool Write(const std::string& name, const std::string& bytes) const {
        testsupport::WriteFile(Path(name), bytes);
        return Loads(name);
    }
    // The rendered block as the picture panel captures it, row by row; empty when refused.
    std::vector<Rgb> Block(const std::string& name) const {
        const std::optional<wxImage> picture = RenderPicture(wxString::FromUTF8(Path(name)));
        std::vector<unsigned char> bgr(kSide * kSide * 3);
        std::vector<Rgb> block;
        if (picture && picture->GetSize() == wxSize(kSide, kSide)) {
            CaptureBgr(*picture, bgr.data(), kSide, kSide);
            for (std::size_t i = 0; i < bgr.size(); i += 3) {
                block.push_back(Rgb{bgr[i + 2], bgr[i + 1], bgr[i]});
            }
        }
        return block;
    }
    // Writes a width by height JPEG through libjpeg, each quadrant in one colour.
    void WriteJpeg(const std::string& name, int width, int height, J_COLOR_SPACE space,
                   const Quadrants& quadrants, int quality) const {
        std::FILE* file = std::fopen(Path(name).c_str(), "wb");
        jpeg_compress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        jpeg_stdio_dest(&info, file);
        info.image_width = static_cast<JDIMENSION>(width);
        info.image_height = static_cast<JDIMENSION>(height);
        info.input_components = static_cast<int>(quadrants[0].size());
        info.in_color_space = space;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, quality, TRUE);
        jpeg_start_compress(&info, TRUE);
        std::vector<unsigned char> rows[2];
        for (int x = 0; x < 2 * width; ++x) {
            const auto& colour = quadrants[x / width * 2 + (x % width >= width / 2)];
            rows[x / width].insert(rows[x / width].end(), colour.begin(), colour.end());
        }
        for (int y = 0; y < height; ++y) {
            JSAMPROW row = rows[y >= height / 2].data();
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        std::fclose(file);
    }

    testsupport::TempDir dir;
};

// What the helper program made of a picture file in a process of its own: 1 when it was
// rendered, its peak memory in kB, and r, g, b at the centres of the quadrants.
std::vector<long> RenderInChild(const std::string& path) {
    std::string output;
    EXPECT_EQ(testsupport::RunCommand({PICTURE_MEMORY_CHILD, path}, &output), 0) << output;
    std::istringstream line(output);
    std::vector<long> result;
    for (long value = 0; line >> value;) {
        result.push_back(value);
    }
    result.resize(std::max<std::size_t>(result.size(), 2));
    return result;
}

TEST_F(PictureTest, PicturesAreStretchedTo128SquareAndCapturedAsBlueGreenRed) {
    // 16 by 16: every source pixel becomes an 8 by 8 square.
    const auto checker = [](int x, int y) { return (x + y) % 2 == 0 ? kRed : kGreen; };
    guitest::WritePicture(Path("small.bmp"), 16, 16, checker);
    const std::vector<Rgb> small = Block("small.bmp");
    ASSERT_EQ(small.size(), kSide * kSide * 1u);
    for (int at = 0; at < kSide * kSide; ++at) {
        ASSERT_EQ(small[at], checker(at % kSide / 8, at / kSide / 8)) << at;
    }
    // 640 by 200, left half red, right half blue, bottom half green: squeezed, not cut.
    guitest::WritePicture(Path("wide.png"), 640, 200, [](int x, int y) {
        return y >= 100 ? kGreen : (x < 320 ? kRed : kBlue);
    });
    const std::vector<Rgb> wide = Block("wide.png");
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide[60 * kSide + 63], kRed);
    EXPECT_EQ(wide[64], kBlue);
    EXPECT_EQ(wide[60 * kSide + 127], kBlue);
    EXPECT_EQ(wide[66 * kSide], kGreen);
    // Formats whatever their names; other files refused quietly.
    for (const char* name : {"a.jpg", "c.tif", "d.png", "e.pcx", "f.tga", "g.ico", "h.cur"}) {
        guitest::WritePicture(Path(name), 37, 23, [](int x, int y) { return Rgb{x * 7, 90, y}; });
        EXPECT_TRUE(Loads(name)) << name;
    }
    std::filesystem::rename(Path("d.png"), Path("d.JPG"));
    std::filesystem::rename(Path("small.bmp"), Path("small.dib"));
    EXPECT_TRUE(Loads("d.JPG"));
    EXPECT_TRUE(Loads("small.dib"));
    EXPECT_TRUE(Write("b.gif", kGif));
    EXPECT_EQ(Block("b.gif").at(64 * kSide + 64), kRed);
    testsupport::WriteFile(Path("notes.jpg"), "This is a text file, not a picture at all.\n");
    testsupport::WriteFile(Path("cut.png"), "\x89PNG\r\n\x1a\n" + std::string(32, '\0'));
    for (const char* name : {"notes.jpg", "cut.png", "missing.bmp", ""}) {
        EXPECT_FALSE(Loads(name) || !Block(name).empty()) << name;
    }
}

// Headers that declare hundreds of megapixels, or more pixels than their file holds, or that
// reach faults of the decoders: they would allocate gigabytes, leak, or assert.
TEST_F(PictureTest, HeadersTheDecodersMishandleAreRefusedBeforeDecoding) {
    // The one-pixel GIF with a 14337 by 24889 or an empty frame, or cut short (the decoder
    // leaks the frame, also with odd version bytes).
    const std::string head = kGif.substr(0, 19), frame = kGif.substr(19, 10),
                      data = kGif.substr(29);
    // An icon of one 32 by 32 entry whose 24-bit bitmap header says width 0.
    const std::string zeroWidth = Le32(40) + Le32(0) + Le32(64) + Le16(1) + Le16(24) + Le32(0) +
                                  Le32(32 * 32 * 3 + 32 * 4) + std::string(16, '\0') +
                                  std::string(32 * 32 * 3 + 32 * 4, '\x7f');
    const std::pair<const char*, std::string> files[] = {
        {"huge.bmp", Bmp(15000, 15000, 16)},
        {"short.bmp", Bmp(4000, 4000, 3 * 4000 * 10)},  // ten rows of four thousand
        {"huge.jpg", Jpeg(60000, 60000)},
        {"huge.pcx", Pcx(15000, 15000)},
        {"huge.tif", TiffHeader(false, 15000, 15000)},
        {"huge-be.tif", TiffHeader(true, 70000, 70000)},
        {"huge.png", Png(15000, 15000)},
        {"huge.ico", IconFile(15000, 15000)},
        {"zero.ico", std::string("\0\0\1\0\1\0\x20\x20\0\0\1\0\x18\0", 14) +
                         Le32(static_cast<std::uint32_t>(zeroWidth.size())) + Le32(22) + zeroWidth},
        {"huge.gif", head + std::string(",\0\0\0\0\x01\x38\x39\x61\0", 10) + data},
        {"empty-frame.gif", head + std::string(",\0\0\0\0\x01\0\0\0\0", 10) + data},
        {"odd-version-cut.gif", "GIFIF8" + head.substr(6) + frame + data.substr(0, 3)},
        {"cut.gif", head + frame + data.substr(0, 3)},
        {"no-trailer.gif", head + frame + data.substr(0, 5)},
        {"whole.pnm", "P5\n4 2\n255\n" + std::string(8, '\x80')},  // PNM is not decoded at all
        // TGA: 24 bytes that declare 65535 by 7720 (about 1.5 GB allocated before finding no
        // pixel), seventeen bytes read as 20,481 by 24,832, and a colour-mapped file without
        // a colour map (read through a null pointer).
        {"huge.tga", std::string("\x01\x00\x7f\xfc\xa3\x5f\x2e\xd0\x01\x00\x05\x00"
                                 "\xff\xff\x28\x1e\x20\xff\x00\xff\x46\x36\x74\x00",
                                 24)},
        {"short.tga", std::string("\x01\x00\x01\x50\x00\x61\x00\x87\x01\x00\x01"
                                  "\x50\x00\x61\x00\x87\x20",
                                  17)},
        {"unmapped.tga",
         std::string("\0\0\1\1\0\2\0\x18\0\0\0\0\2\0\1\0\x08\0", 18) + std::string(64, '\x07')},
    };
    const long before = PeakKb();
    for (const auto& [name, bytes] : files) {
        EXPECT_FALSE(Write(name, bytes)) << name;
    }
    EXPECT_TRUE(Block("zero.ico").empty());
    EXPECT_LT(PeakKb() - before, 100 * 1024) << "kilobytes taken while refusing";
    // A raw file that holds every pixel it declares still loads, as do a 2 by 2 true-colour
    // TGA and a 2 by 1 colour-mapped one with its map (red, blue).
    EXPECT_TRUE(Write("whole.bmp", Bmp(40, 30, 40 * 3 * 30)));
    EXPECT_TRUE(Write("small.tga", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\2\0\x18\0", 18) +
                                       std::string(2 * 2 * 3, '\x40')));
    EXPECT_TRUE(Write("mapped.tga", std::string("\0\1\1\0\0\2\0\x18\0\0\0\0\2\0\1\0\x08\0", 18) +
                                        std::string("\0\0\xff\xff\0\0\0\1", 8)));
}

// A 32-bit icon carries both an alpha channel and a transparency mask once decoded; the
// picture is laid on white by its alpha (this once raised an assertion of the library).
TEST_F(PictureTest, IconWithAlphaAndMaskIsLaidOnWhite) {
    // Grey, half covering; no mask bit set.
    ASSERT_TRUE(Write("half.ico", std::string("\0\0\1\0\1\0\4\4\0\0\1\0\x20\0", 14) +
                                      Le32(40 + 64 + 16) + Le32(22) + Le32(40) + Le32(4) + Le32(8) +
                                      Le16(1) + Le16(32) + std::string(24, '\0') +
                                      std::string(64, '\x80') + std::string(16, '\0')));
    const std::optional<wxImage> image = RenderPicture(wxString::FromUTF8(Path("half.ico")));
    ASSERT_TRUE(image.has_value());
    EXPECT_FALSE(image->HasAlpha() || image->HasMask());
    const int blended = (128 * 128 + 255 * 127 + 127) / 255;
    EXPECT_EQ(Block("half.ico").at(64 * kSide + 64), (Rgb{blended, blended, blended}));
}

// JPEG files are decoded at a reduced scale in their colours (CMYK with inverted inks, as
// Adobe's programs write them): a photo of 200 megapixels takes well under 300 MB (600 MB
// decoded whole). Sparse files of gigabytes are refused unread, by the GIF check too.
TEST_F(PictureTest, JpegFilesAreShownInTheirColoursAndHugeFilesInBoundedMemory) {
    WriteJpeg("rgb.jpg", 300, 200, JCS_RGB, kRgbQuadrants, 90);
    WriteJpeg("cmyk.jpg", 300, 200, JCS_CMYK,
              {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {0, 0, 0, 0}}, 90);
    WriteJpeg("photo.jpg", 20000, 10000, JCS_RGB, kRgbQuadrants, 10);
    const std::pair<const char*, Quadrants> shown[] = {
        {"rgb.jpg", kRgbQuadrants},
        {"cmyk.jpg", {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}}},
        {"photo.jpg", kRgbQuadrants}};
    for (const auto& [name, expected] : shown) {
        const std::vector<long> picture = RenderInChild(Path(name));
        ASSERT_EQ(picture.size(), 14u) << name;
        EXPECT_EQ(picture[0], 1) << name;
        EXPECT_LT(picture[1], 300 * 1024) << name;
        for (std::size_t at = 0; at < 12; ++at) {  // as near as a lossy JPEG keeps them
            EXPECT_NEAR(picture[at + 2], expected[at / 3][at % 3], 24) << name << " " << at;
        }
    }
    std::filesystem::remove(Path("photo.jpg"));

    testsupport::WriteFile(Path("huge.gif"), kGif);
    WriteJpeg("huge.jpg", 16, 16, JCS_RGB, kRgbQuadrants, 90);
    for (const char* name : {"huge.gif", "huge.jpg"}) {
        std::filesystem::resize_file(Path(name), std::uintmax_t{4} << 30);
        const std::vector<long> huge = RenderInChild(Path(name));
        EXPECT_EQ(huge[0], 0) << name;
        EXPECT_GT(huge[1], 0) << name;
        EXPECT_LT(huge[1], 100 * 1024) << name;
    }
    // A GIF file of more than 80 MB: bigger than any frame within the pixel limit needs.
    testsupport::WriteFile(Path("long.gif"), kGif);
    std::filesystem::resize_file(Path("long.gif"), 81 << 20);
    EXPECT_FALSE(Loads("long.gif"));
}

}  // namespace
