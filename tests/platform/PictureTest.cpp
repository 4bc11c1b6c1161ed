// Picture files are decoded and rendered to the 128 by 128 block that the vault keeps:
// files written by independent encoders (the widget library's, libjpeg) are checked pixel
// by pixel; files made byte by byte check that what the decoders mishandle is refused
// before it is decoded, and the memory a huge file takes is measured in a helper process.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Picture.h"
#include "support/ChildProcess.h"
#include "support/GuiTest.h"
#include "support/PictureBytes.h"
#include "support/TempDir.h"

using guitest::Rgb;
using namespace platform;
using namespace picturebytes;

namespace {

constexpr int kSide = kRenderedPictureSide;
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};
using Quadrants = std::vector<std::vector<unsigned char>>;  // top left, top right, bottom...
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
    // The picture rendered and captured as the picture panel does: blue, green, red bytes.
    std::vector<unsigned char> Block(const std::string& name) const {
        const std::optional<wxImage> picture = RenderPicture(wxString::FromUTF8(Path(name)));
        if (!picture) {
            return {};
        }
        EXPECT_EQ(picture->GetSize(), wxSize(kSide, kSide)) << name;
        std::vector<unsigned char> block(kSide * kSide * 3);
        CaptureBgr(*picture, block.data(), kSide, kSide);
        return block;
    }
    static Rgb At(const std::vector<unsigned char>& block, int x, int y) {
        const unsigned char* p = &block[(y * kSide + x) * 3];
        return Rgb{p[2], p[1], p[0]};
    }
    // Writes a width by height JPEG, each quadrant in one colour of the colour space.
    void WriteJpeg(const std::string& name, int width, int height, J_COLOR_SPACE space,
                   const Quadrants& quadrants, int quality) const {
        std::FILE* file = std::fopen(Path(name).c_str(), "wb");
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

    testsupport::TempDir dir;
};

// What the helper program made of a picture file in a process of its own: whether it was
// rendered, the process's peak memory, and the colours at the centres of the quadrants.
struct ChildRendering {
    bool rendered = false;
    long peakKb = 0;
    std::vector<int> centres;  // r, g, b of each quadrant
};

ChildRendering RenderInChild(const std::string& path) {
    std::string output, outcome;
    EXPECT_EQ(testsupport::RunCommand({PICTURE_MEMORY_CHILD, path}, &output), 0) << output;
    std::istringstream line(output);
    ChildRendering result;
    line >> outcome >> result.peakKb;
    result.rendered = outcome == "rendered";
    for (int value = 0; line >> value;) {
        result.centres.push_back(value);
    }
    return result;
}

}  // namespace

TEST_F(PictureTest, PicturesAreStretchedTo128SquareAndCapturedAsBlueGreenRed) {
    // 16 by 16: every source pixel becomes an 8 by 8 square.
    const auto checker = [](int x, int y) { return (x + y) % 2 == 0 ? kRed : kGreen; };
    guitest::WritePicture(Path("small.bmp"), 16, 16, checker);
    const std::vector<unsigned char> small = Block("small.bmp");
    ASSERT_FALSE(small.empty());
    for (int y = 0; y < kSide; y += 3) {
        for (int x = 0; x < kSide; x += 5) {
            ASSERT_EQ(At(small, x, y), checker(x / 8, y / 8)) << x << "," << y;
        }
    }
    // 640 by 200, left half red, right half blue, bottom half green: squeezed, not cut.
    guitest::WritePicture(Path("wide.png"), 640, 200, [](int x, int y) {
        return y >= 100 ? kGreen : (x < 320 ? kRed : kBlue);
    });
    const std::vector<unsigned char> wide = Block("wide.png");
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(std::vector<unsigned char>(wide.begin(), wide.begin() + 3),
              (std::vector<unsigned char>{0, 0, 255}));
    EXPECT_EQ(At(wide, 63, 60), kRed);
    EXPECT_EQ(At(wide, 64, 0), kBlue);
    EXPECT_EQ(At(wide, 127, 60), kBlue);
    EXPECT_EQ(At(wide, 0, 66), kGreen);
    EXPECT_EQ(At(wide, 127, 127), kGreen);
}

TEST_F(PictureTest, CommonFormatsLoadWhateverTheirNameAndOtherFilesAreRefusedQuietly) {
    for (const char* name : {"a.jpg", "c.bmp", "d.png", "e.tif"}) {
        guitest::WritePicture(Path(name), 8, 8, [](int, int) { return Rgb{90, 90, 90}; });
        EXPECT_TRUE(Loads(name)) << name;
    }
    testsupport::WriteFile(Path("b.gif"), kGif);
    const std::vector<unsigned char> gif = Block("b.gif");
    ASSERT_FALSE(gif.empty());
    EXPECT_EQ(At(gif, 64, 64), kRed);
    // A bitmap named .dib, a PNG named .JPG.
    std::filesystem::rename(Path("c.bmp"), Path("c.dib"));
    std::filesystem::rename(Path("d.png"), Path("d.JPG"));
    EXPECT_TRUE(Loads("c.dib"));
    EXPECT_TRUE(Loads("d.JPG"));

    testsupport::WriteFile(Path("notes.jpg"), "This is a text file, not a picture at all.\n");
    testsupport::WriteFile(Path("empty.png"), "");
    testsupport::WriteFile(Path("cut.png"), "\x89PNG\r\n\x1a\n" + std::string(32, '\0'));
    for (const char* name : {"notes.jpg", "empty.png", "cut.png", "missing.bmp", ""}) {
        EXPECT_FALSE(Loads(name)) << name;
        EXPECT_TRUE(Block(name).empty()) << name;
    }
    EXPECT_FALSE(CanLoadPicture(""));
}

// Files of a few dozen bytes whose headers declare images of hundreds of megapixels, or
// more pixels than their bytes hold, or that reach faults of the decoders: the decoders
// would allocate, and mostly clear, the whole image first (up to gigabytes), leak, or stop
// at an assertion of the widget library (which fails the test here).
TEST_F(PictureTest, HeadersTheDecodersMishandleAreRefusedBeforeDecoding) {
    // The one-pixel GIF declaring a 14337 by 24889 frame or an empty one, and cut short with
    // the version bytes right or odd (the decoder takes both and leaks the frame).
    const std::string head = kGif.substr(0, 19), frame = kGif.substr(19, 10),
                      data = kGif.substr(29);
    // An icon of one 32 by 32 entry whose 24-bit bitmap header says width 0.
    const std::string pixels(32 * 32 * 3 + 32 * 4, '\x7f');
    const std::string zeroWidth = Le32(40) + Le32(0) + Le32(64) + Le16(1) + Le16(24) + Le32(0) +
                                  Le32(static_cast<std::uint32_t>(pixels.size())) +
                                  std::string(16, '\0') + pixels;
    const std::pair<const char*, std::string> files[] = {
        {"huge.bmp", Bmp(15000, 15000, 16)},
        {"short.bmp", Bmp(4000, 4000, 3 * 4000 * 10)},  // ten rows of four thousand
        {"huge.jpg", Jpeg(60000, 60000)},
        {"huge.pcx", Pcx(15000, 15000)},
        {"huge.tif", TiffHeader(false, 15000, 15000)},
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
    };
    const long before = PeakKb();
    for (const auto& [name, bytes] : files) {
        testsupport::WriteFile(Path(name), bytes);
        EXPECT_FALSE(Loads(name)) << name;
    }
    EXPECT_TRUE(Block("zero.ico").empty());
    EXPECT_LT(PeakKb() - before, 100 * 1024) << "kilobytes taken while refusing";
    // A raw file that holds every pixel it declares, and the sound GIF, still load.
    testsupport::WriteFile(Path("whole.bmp"), Bmp(40, 30, 40 * 3 * 30));
    EXPECT_TRUE(Loads("whole.bmp"));
    testsupport::WriteFile(Path("sound.gif"), kGif);
    EXPECT_TRUE(Loads("sound.gif"));
}

TEST_F(PictureTest, TgaFilesDeclaringMorePixelsThanTheyHoldAreRefusedBeforeDecoding) {
    // A 2 by 2 true-colour TGA loads; 24 bytes that declare a 65535 by 7720 image (the
    // decoder would allocate about 1.5 GB before finding that no pixel follows) and
    // seventeen bytes, one short of a header, read as 20,481 by 24,832, do not.
    testsupport::WriteFile(
        Path("small.tga"),
        std::string("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\2\0\x18\0", 18) + std::string(2 * 2 * 3, '\x40'));
    EXPECT_TRUE(Loads("small.tga"));
    testsupport::WriteFile(Path("huge.tga"), std::string("\x01\x00\x7f\xfc\xa3\x5f\x2e\xd0\x01\x00"
                                                         "\x05\x00\xff\xff\x28\x1e\x20\xff\x00\xff"
                                                         "\x46\x36\x74\x00",
                                                         24));
    testsupport::WriteFile(Path("short.tga"),
                           std::string("\x01\x00\x01\x50\x00\x61\x00\x87\x01\x00\x01\x50\x00"
                                       "\x61\x00\x87\x20",
                                       17));
    const long before = PeakKb();
    EXPECT_FALSE(Loads("huge.tga"));
    EXPECT_FALSE(Loads("short.tga"));

    // Colour-mapped, 2 by 1: with its colour map (red, blue) it loads; without one (map
    // type 0) the decoder read the missing map through a null pointer.
    std::string mapped("\0\1\1\0\0\2\0\x18\0\0\0\0\2\0\1\0\x08\0", 18);
    testsupport::WriteFile(Path("mapped.tga"), mapped + std::string("\0\0\xff\xff\0\0\0\1", 8));
    EXPECT_TRUE(Loads("mapped.tga"));
    mapped[1] = 0;
    mapped[3] = 1;  // so that the file does not start like an icon file
    testsupport::WriteFile(Path("unmapped.tga"), mapped + std::string(64, '\x07'));
    EXPECT_FALSE(Loads("unmapped.tga"));
    EXPECT_LT(PeakKb() - before, 200 * 1024) << "kilobytes taken while refusing";
}

// A 32-bit icon carries both an alpha channel and a transparency mask once decoded; the
// picture is laid on white by its alpha (this once raised an assertion of the library).
TEST_F(PictureTest, IconWithAlphaAndMaskIsLaidOnWhite) {
    std::string icon = std::string("\0\0\1\0\1\0\4\4\0\0\1\0\x20\0", 14) + Le32(40 + 64 + 16) +
                       Le32(22) + Le32(40) + Le32(4) + Le32(8) + Le16(1) + Le16(32) +
                       std::string(24, '\0');
    icon += std::string(64, '\x80') + std::string(16, '\0');  // grey, half covering; no mask bit
    testsupport::WriteFile(Path("half.ico"), icon);
    const std::optional<wxImage> image = RenderPicture(wxString::FromUTF8(Path("half.ico")));
    ASSERT_TRUE(image.has_value());
    EXPECT_FALSE(image->HasAlpha());
    EXPECT_FALSE(image->HasMask());
    const Rgb blended = At(Block("half.ico"), 64, 64);
    EXPECT_EQ(blended.r, (128 * 128 + 255 * 127 + 127) / 255);
    EXPECT_EQ(blended.g, blended.r);
}

// JPEG files are decoded at a reduced scale in their colours (CMYK files, with their inks
// stored inverted as Adobe's programs write them, turned into RGB): a photo of 200 million
// pixels, as current phones take, is shown by a process that stays well under 300 MB
// (decoded whole it would take 600 MB). Files of gigabytes (sparse here: no disk taken)
// are refused without being read, the GIF check included, which holds the whole file.
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
        const ChildRendering picture = RenderInChild(Path(name));
        ASSERT_TRUE(picture.rendered) << name;
        ASSERT_EQ(picture.centres.size(), 12u) << name;
        for (std::size_t at = 0; at < 12; ++at) {  // as near as a lossy JPEG keeps them
            EXPECT_NEAR(picture.centres[at], expected[at / 3][at % 3], 24) << name << " " << at;
        }
        EXPECT_LT(picture.peakKb, 300 * 1024) << name;
        std::printf("peak memory rendering %s: %ld kB\n", name, picture.peakKb);
    }
    std::filesystem::remove(Path("photo.jpg"));

    testsupport::WriteFile(Path("huge.gif"), kGif);
    WriteJpeg("huge.jpg", 16, 16, JCS_RGB, kRgbQuadrants, 90);
    for (const char* name : {"huge.gif", "huge.jpg"}) {
        std::filesystem::resize_file(Path(name), std::uintmax_t{4} << 30);
        const ChildRendering huge = RenderInChild(Path(name));
        EXPECT_FALSE(huge.rendered) << name;
        EXPECT_GT(huge.peakKb, 0) << name;
        EXPECT_LT(huge.peakKb, 100 * 1024) << name;
    }
    // A GIF file of more than 80 MB: bigger than any frame within the pixel limit needs.
    testsupport::WriteFile(Path("long.gif"), kGif);
    std::filesystem::resize_file(Path("long.gif"), 81 << 20);
    EXPECT_FALSE(Loads("long.gif"));
}
