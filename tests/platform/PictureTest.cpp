#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <wx/bitmap.h>
#include <wx/dcmemory.h>

#include <jpeglib.h>

#include "platform/Picture.h"
#include "support/ChildProcess.h"
#include "support/GuiTest.h"
#include "support/PictureBytes.h"
#include "support/TempDir.h"

using guitest::Rgb;
using namespace platform;

namespace {

constexpr int kSide = kRenderedPictureSide;
const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};

class PictureTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return dir.File(name); }
    std::vector<unsigned char> Block(const wxImage& image) const {
        std::vector<unsigned char> block(kSide * kSide * 3);
        CaptureBgr(image, block.data(), kSide, kSide);
        return block;
    }
    static Rgb BlockPixel(const std::vector<unsigned char>& block, int x, int y) {
        const unsigned char* p = &block[(y * kSide + x) * 3];
        return Rgb{p[2], p[1], p[0]};
    }

    testsupport::TempDir dir;
};

// Writes a width by height JPEG row by row, each quadrant (top left, top right, bottom
// left, bottom right) in one colour of the given colour space.
void WriteQuadrantJpeg(const std::string& path, int width, int height, J_COLOR_SPACE space,
                       const std::vector<std::vector<unsigned char>>& quadrants, int quality) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
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
    for (int half = 0; half < 2; ++half) {
        for (int x = 0; x < width; ++x) {
            const auto& colour = quadrants[half * 2 + (x >= width / 2)];
            rows[half].insert(rows[half].end(), colour.begin(), colour.end());
        }
    }
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = rows[y >= height / 2].data();
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

const std::vector<std::vector<unsigned char>> kRgbQuadrants = {
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

// What the helper program made of a picture file in a process of its own: whether it was
// rendered, the process's peak memory, and the colours at the centres of the quadrants.
struct ChildRendering {
    bool rendered = false;
    long peakKb = 0;
    std::vector<int> centres;  // r, g, b of each quadrant
};

ChildRendering RenderInChild(const std::string& path) {
    std::string output;
    EXPECT_EQ(testsupport::RunCommand({PICTURE_MEMORY_CHILD, path}, &output), 0) << output;
    std::istringstream line(output);
    std::string outcome;
    ChildRendering result;
    line >> outcome >> result.peakKb;
    result.rendered = outcome == "rendered";
    for (int value = 0; line >> value;) {
        result.centres.push_back(value);
    }
    return result;
}

// Whether colour (r, g, b) is near the expected one, as a lossy JPEG keeps it.
bool Near(const std::vector<int>& colours, std::size_t at, const std::vector<unsigned char>& rgb) {
    for (std::size_t c = 0; c < 3; ++c) {
        if (std::abs(colours[at * 3 + c] - rgb[c]) > 24) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST_F(PictureTest, RedTopLeftIsCapturedAsBlueGreenRedBytes) {
    guitest::WritePicture(Path("corner.png"), 40, 40,
                          [](int x, int y) { return x < 20 && y < 20 ? kRed : kBlue; });
    const std::optional<wxImage> picture = RenderPicture(wxString::FromUTF8(Path("corner.png")));
    ASSERT_TRUE(picture.has_value());
    const std::vector<unsigned char> block = Block(*picture);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 0);
    EXPECT_EQ(block[2], 255);
    EXPECT_EQ(BlockPixel(block, kSide - 1, kSide - 1), kBlue);
}

TEST_F(PictureTest, SmallAndWidePicturesAreStretchedTo128Square) {
    // 16 by 16: every source pixel becomes an 8 by 8 square.
    const auto checker = [](int x, int y) { return (x + y) % 2 == 0 ? kRed : kGreen; };
    guitest::WritePicture(Path("small.bmp"), 16, 16, checker);
    const std::optional<wxImage> small = RenderPicture(wxString::FromUTF8(Path("small.bmp")));
    ASSERT_TRUE(small.has_value());
    EXPECT_EQ(small->GetWidth(), kSide);
    EXPECT_EQ(small->GetHeight(), kSide);
    const std::vector<unsigned char> smallBlock = Block(*small);
    for (int y = 0; y < kSide; y += 3) {
        for (int x = 0; x < kSide; x += 5) {
            ASSERT_EQ(BlockPixel(smallBlock, x, y), checker(x / 8, y / 8)) << x << "," << y;
        }
    }

    // 640 by 200, left half red, right half blue, bottom half green: squeezed, not cut.
    guitest::WritePicture(Path("wide.png"), 640, 200, [](int x, int y) {
        return y >= 100 ? kGreen : (x < 320 ? kRed : kBlue);
    });
    const std::optional<wxImage> wide = RenderPicture(wxString::FromUTF8(Path("wide.png")));
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(wide->GetSize(), wxSize(kSide, kSide));
    const std::vector<unsigned char> wideBlock = Block(*wide);
    EXPECT_EQ(BlockPixel(wideBlock, 0, 0), kRed);
    EXPECT_EQ(BlockPixel(wideBlock, 63, 60), kRed);
    EXPECT_EQ(BlockPixel(wideBlock, 64, 0), kBlue);
    EXPECT_EQ(BlockPixel(wideBlock, 127, 60), kBlue);
    EXPECT_EQ(BlockPixel(wideBlock, 0, 66), kGreen);
    EXPECT_EQ(BlockPixel(wideBlock, 127, 127), kGreen);
}

TEST_F(PictureTest, CommonFormatsLoadWhateverTheirName) {
    for (const char* name : {"a.jpg", "c.bmp", "d.png", "e.tif"}) {
        guitest::WritePicture(Path(name), 8, 8, [](int, int) { return Rgb{90, 90, 90}; });
        EXPECT_TRUE(CanLoadPicture(wxString::FromUTF8(Path(name)))) << name;
    }
    // One red pixel as a GIF file; a bitmap named .dib; a PNG named .JPG.
    static const char kGif[] =
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
        ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    testsupport::WriteFile(Path("b.gif"), std::string(kGif, sizeof kGif - 1));
    const std::optional<wxImage> gif = RenderPicture(wxString::FromUTF8(Path("b.gif")));
    ASSERT_TRUE(gif.has_value());
    EXPECT_EQ(Block(*gif)[2], 255);
    ASSERT_EQ(std::rename(Path("c.bmp").c_str(), Path("c.dib").c_str()), 0);
    ASSERT_EQ(std::rename(Path("d.png").c_str(), Path("d.JPG").c_str()), 0);
    EXPECT_TRUE(CanLoadPicture(wxString::FromUTF8(Path("c.dib"))));
    EXPECT_TRUE(CanLoadPicture(wxString::FromUTF8(Path("d.JPG"))));
}

TEST_F(PictureTest, FilesThatAreNoPictureAreRefusedQuietly) {
    testsupport::WriteFile(Path("notes.jpg"), "This is a text file, not a picture at all.\n");
    testsupport::WriteFile(Path("empty.png"), "");
    std::string truncated(40, '\0');
    truncated.replace(0, 8, "\x89PNG\r\n\x1a\n");
    testsupport::WriteFile(Path("cut.png"), truncated);
    for (const std::string& path : {Path("notes.jpg"), Path("empty.png"), Path("cut.png"),
                                    Path("missing.bmp"), dir.Path(), std::string()}) {
        EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(path))) << path;
        EXPECT_FALSE(RenderPicture(wxString::FromUTF8(path)).has_value()) << path;
    }
}

TEST_F(PictureTest, GifFilesTheDecoderMishandlesAreRefused) {
    // One red pixel, then the same file declaring a 14337 by 24889 frame (tied-up memory) or an
    // empty one (an assertion of the widget library), and cut short with the version bytes
    // right or odd (the decoder takes both and leaks the frame).
    const std::string head("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00", 19);
    const std::string frame = std::string(",\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
    const std::string data = std::string("\x02\x02\x44\x01\x00;", 6);
    const std::string huge = std::string(",\x00\x00\x00\x00\x01\x38\x39\x61\x00", 10);
    const std::string empty = std::string(",\x00\x00\x00\x00\x01\x00\x00\x00\x00", 10);
    const std::pair<const char*, std::string> files[] = {
        {"sound.gif", head + frame + data},
        {"huge.gif", head + huge + data},
        {"empty-frame.gif", head + empty + data},
        {"odd-version-cut.gif", "GIFIF8" + head.substr(6) + frame + data.substr(0, 3)},
        {"cut.gif", head + frame + data.substr(0, 3)},
        {"no-trailer.gif", head + frame + data.substr(0, 5)},
    };
    for (const auto& [name, bytes] : files) {
        testsupport::WriteFile(Path(name), bytes);
        EXPECT_EQ(CanLoadPicture(wxString::FromUTF8(Path(name))), name == std::string("sound.gif"))
            << name;
    }
}

TEST_F(PictureTest, IconOfWidthZeroIsRefusedWithoutAnAssertion) {
    // An icon directory of one 32 by 32 entry whose bitmap header says width 0, height 64
    // (image and mask), 24 bits. The decoder reaches an assertion on such a file, which would
    // otherwise be reported in a window (here: fail the test).
    auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    const std::string pixels(32 * 32 * 3 + 32 * 4, '\x7f');
    const std::string header = le32(40) + le32(0) + le32(64) + std::string("\x01\x00\x18\x00", 4) +
                               le32(0) + le32(static_cast<std::uint32_t>(pixels.size())) +
                               std::string(16, '\0');
    const std::string entry = std::string("\x20\x20\x00\x00\x01\x00\x18\x00", 8) +
                              le32(static_cast<std::uint32_t>(header.size() + pixels.size())) +
                              le32(22);
    testsupport::WriteFile(Path("zero.ico"),
                           std::string("\x00\x00\x01\x00\x01\x00", 6) + entry + header + pixels);
    EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path("zero.ico"))));
    EXPECT_FALSE(RenderPicture(wxString::FromUTF8(Path("zero.ico"))).has_value());
}

TEST_F(PictureTest, TgaFilesDeclaringMorePixelsThanTheyHoldAreRefusedBeforeDecoding) {
    // A 2 by 2 true-colour TGA, then 24 bytes that declare a 65535 by 7720 image: the decoder
    // would allocate about 1.5 GB before finding that no pixel follows.
    const std::string header2x2(
        "\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x02\x00\x18\x00", 18);
    testsupport::WriteFile(Path("small.tga"), header2x2 + std::string(2 * 2 * 3, '\x40'));
    EXPECT_TRUE(CanLoadPicture(wxString::FromUTF8(Path("small.tga"))));

    const std::string huge(
        "\x01\x00\x7f\xfc\xa3\x5f\x2e\xd0\x01\x00\x05\x00\xff\xff\x28\x1e"
        "\x20\xff\x00\xff\x46\x36\x74\x00",
        24);
    testsupport::WriteFile(Path("huge.tga"), huge);
    // Seventeen bytes, one short of a header, that the decoder read as 20,481 by 24,832.
    testsupport::WriteFile(Path("short.tga"),
                           std::string("\x01\x00\x01\x50\x00\x61\x00\x87\x01\x00\x01\x50\x00"
                                       "\x61\x00\x87\x20",
                                       17));
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path("huge.tga"))));
    EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path("short.tga"))));

    // Colour-mapped, 2 by 1: with its colour map it loads; without one (map type 0) the
    // decoder read the missing map through a null pointer.
    const std::string mapped(
        "\x00\x01\x01\x00\x00\x02\x00\x18\x00\x00\x00\x00\x02\x00\x01\x00"
        "\x08\x00",
        18);
    const std::string map("\x00\x00\xff\xff\x00\x00", 6);  // red, blue
    testsupport::WriteFile(Path("mapped.tga"), mapped + map + std::string("\x00\x01", 2));
    EXPECT_TRUE(CanLoadPicture(wxString::FromUTF8(Path("mapped.tga"))));
    std::string unmapped = mapped;
    unmapped[1] = 0;
    unmapped[3] = 1;  // so that the file does not start like an icon file
    testsupport::WriteFile(Path("unmapped.tga"), unmapped + std::string(64, '\x07'));
    EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path("unmapped.tga"))));
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024) << "kilobytes taken while refusing";
}

// A 32-bit icon carries both an alpha channel and a transparency mask once decoded; the
// picture is laid on white by its alpha (this once raised an assertion of the library).
TEST_F(PictureTest, IconWithAlphaAndMaskIsLaidOnWhite) {
    std::string icon = std::string("\0\0\1\0\1\0\4\4\0\0\1\0\x20\0", 14) +
                       picturebytes::Le32(40 + 64 + 16) + picturebytes::Le32(22);
    icon += picturebytes::Le32(40) + picturebytes::Le32(4) + picturebytes::Le32(8) +
            std::string("\1\0\x20\0", 4) + std::string(24, '\0');
    icon += std::string(64, '\x80') + std::string(16, '\0');  // grey, half covering; no mask bit
    testsupport::WriteFile(Path("half.ico"), icon);
    const std::optional<wxImage> image = RenderPicture(wxString::FromUTF8(Path("half.ico")));
    ASSERT_TRUE(image.has_value());
    EXPECT_FALSE(image->HasAlpha());
    EXPECT_FALSE(image->HasMask());
    const Rgb blended = BlockPixel(Block(*image), 64, 64);
    EXPECT_EQ(blended.r, (128 * 128 + 255 * 127 + 127) / 255);
    EXPECT_EQ(blended.g, blended.r);
}

// Files of a few dozen bytes whose headers declare images of hundreds of megapixels, or
// more pixels than their bytes can hold: the decoders would allocate, and mostly clear,
// the whole image first (up to gigabytes).
TEST_F(PictureTest, FilesDeclaringHugeImagesAreRefusedBeforeDecoding) {
    using namespace picturebytes;
    const std::pair<const char*, std::string> files[] = {
        {"huge.bmp", Bmp(15000, 15000, 16)},
        {"short.bmp", Bmp(4000, 4000, 3 * 4000 * 10)},  // ten rows of four thousand
        {"huge.jpg", Jpeg(60000, 60000)},
        {"huge.pcx", Pcx(15000, 15000)},
        {"huge.tif", TiffHeader(false, 15000, 15000)},
        {"huge.png", Png(15000, 15000)},
        {"huge.ico", IconFile(15000, 15000)},
    };
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    for (const auto& [name, bytes] : files) {
        testsupport::WriteFile(Path(name), bytes);
        EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path(name)))) << name;
    }
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024) << "kilobytes taken while refusing";

    // Raw files that hold every pixel they declare still load.
    testsupport::WriteFile(Path("whole.bmp"), Bmp(40, 30, 40 * 3 * 30));
    EXPECT_TRUE(CanLoadPicture(wxString::FromUTF8(Path("whole.bmp"))));
    // PNM pictures are not decoded at all.
    testsupport::WriteFile(Path("whole.pnm"), "P5\n4 2\n255\n" + std::string(8, '\x80'));
    EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path("whole.pnm"))));
}

// JPEG files are decoded at a reduced scale: a 300 by 200 photo at 6/8, CMYK files (inks
// stored inverted, as Adobe's programs write them) turned into RGB.
TEST_F(PictureTest, JpegFilesAreDecodedAtReducedScaleInTheirColours) {
    WriteQuadrantJpeg(Path("rgb.jpg"), 300, 200, JCS_RGB, kRgbQuadrants, 90);
    WriteQuadrantJpeg(Path("cmyk.jpg"), 300, 200, JCS_CMYK,
                      {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {0, 0, 0, 0}}, 90);
    const std::vector<std::vector<unsigned char>> expected[] = {
        kRgbQuadrants, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}}};
    const char* names[] = {"rgb.jpg", "cmyk.jpg"};
    for (int file = 0; file < 2; ++file) {
        const std::optional<wxImage> picture = RenderPicture(wxString::FromUTF8(Path(names[file])));
        ASSERT_TRUE(picture.has_value()) << names[file];
        EXPECT_EQ(picture->GetSize(), wxSize(kSide, kSide));
        const std::vector<unsigned char> block = Block(*picture);
        std::vector<int> centres;
        for (const int y : {32, 96}) {
            for (const int x : {32, 96}) {
                const Rgb pixel = BlockPixel(block, x, y);
                centres.insert(centres.end(), {pixel.r, pixel.g, pixel.b});
            }
        }
        for (std::size_t quadrant = 0; quadrant < 4; ++quadrant) {
            EXPECT_TRUE(Near(centres, quadrant, expected[file][quadrant]))
                << names[file] << " quadrant " << quadrant << ": " << centres[quadrant * 3] << " "
                << centres[quadrant * 3 + 1] << " " << centres[quadrant * 3 + 2];
        }
    }
}

// A photo of 200 million pixels, as current phones take, is shown; the process that checks,
// renders and captures it stays well under 300 MB (decoded whole it would take 600 MB).
TEST_F(PictureTest, PhotoOfTwoHundredMillionPixelsIsShownInBoundedMemory) {
    WriteQuadrantJpeg(Path("photo.jpg"), 20000, 10000, JCS_RGB, kRgbQuadrants, 10);
    const ChildRendering photo = RenderInChild(Path("photo.jpg"));
    std::filesystem::remove(Path("photo.jpg"));
    ASSERT_TRUE(photo.rendered);
    ASSERT_EQ(photo.centres.size(), 12u);
    for (std::size_t quadrant = 0; quadrant < 4; ++quadrant) {
        EXPECT_TRUE(Near(photo.centres, quadrant, kRgbQuadrants[quadrant])) << quadrant;
    }
    EXPECT_LT(photo.peakKb, 300 * 1024);
    std::printf("peak memory rendering 200 million pixels: %ld kB\n", photo.peakKb);
}

// Files of gigabytes (here sparse: no disk taken) are refused without being read, the
// check of GIF files included, which holds the whole file in memory.
TEST_F(PictureTest, FilesOfGigabytesAreRefusedWithoutBeingRead) {
    static const char kGif[] =
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
        ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    testsupport::WriteFile(Path("huge.gif"), std::string(kGif, sizeof kGif - 1));
    WriteQuadrantJpeg(Path("huge.jpg"), 16, 16, JCS_RGB, kRgbQuadrants, 90);
    for (const char* name : {"huge.gif", "huge.jpg"}) {
        std::filesystem::resize_file(Path(name), std::uintmax_t{4} << 30);
        const ChildRendering huge = RenderInChild(Path(name));
        EXPECT_FALSE(huge.rendered) << name;
        EXPECT_GT(huge.peakKb, 0) << name;
        EXPECT_LT(huge.peakKb, 100 * 1024) << name;
        std::printf("peak memory refusing a 4 GB %s: %ld kB\n", name, huge.peakKb);
    }
    // A GIF file of more than 80 MB: bigger than any frame within the pixel limit needs.
    testsupport::WriteFile(Path("long.gif"), std::string(kGif, sizeof kGif - 1));
    std::filesystem::resize_file(Path("long.gif"), 81 << 20);
    EXPECT_FALSE(CanLoadPicture(wxString::FromUTF8(Path("long.gif"))));
}
