#include <gtest/gtest.h>

#include <string>

#include "platform/GifCheck.h"

using platform::GifIsSound;

namespace {

// A GIF file with a two-colour table and one frame of width by height pixels whose code
// stream (smallest code size 2: clear 4, end 5, first free code 6) is `codes`.
std::string Gif(int width, int height, const std::string& codes, char codeSize = 2) {
    std::string file("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00", 19);
    file += std::string(",\0\0\0\0", 5);
    file += static_cast<char>(width);
    file += '\0';
    file += static_cast<char>(height);
    file += '\0';
    file += '\0';  // no colour table of its own, not interlaced
    file += codeSize;
    file += static_cast<char>(codes.size());
    file += codes;
    file += std::string("\0;", 2);
    return file;
}

}  // namespace

TEST(GifCheckTest, CodeStreamsMustYieldTheFramesPixelsAndEnd) {
    // clear, 0, end in three-bit codes, least significant bit first.
    EXPECT_TRUE(GifIsSound(Gif(1, 1, "\x44\x01")));
    // clear, 0, 0, end: two pixels.
    EXPECT_TRUE(GifIsSound(Gif(2, 1, "\x04\x0a")));
    // clear, 0, 6 (the string being defined: "0 0"), end: three pixels.
    EXPECT_TRUE(GifIsSound(Gif(3, 1, "\x84\x0b")));

    EXPECT_FALSE(GifIsSound(Gif(2, 1, "\x84\x0b"))) << "more pixels than the frame holds";
    EXPECT_FALSE(GifIsSound(Gif(2, 1, "\x44\x01"))) << "fewer pixels than the frame holds";
    EXPECT_FALSE(GifIsSound(Gif(2, 1, "\xc4\x0b"))) << "code 7 names no string yet";

    // The end code in the first of two sub-blocks: the decoder would take the second one
    // for the next block of the file.
    std::string split = Gif(1, 1, "\x44\x49");
    split.insert(split.size() - 2, std::string("\x02\xab\xab", 3));
    EXPECT_FALSE(GifIsSound(split)) << "a sub-block after the end code";
    // The same codes with the end code in the last sub-block.
    std::string whole = Gif(1, 1, "\x44");
    whole.insert(whole.size() - 2, std::string("\x01\x01", 2));
    EXPECT_TRUE(GifIsSound(whole));
    EXPECT_FALSE(GifIsSound(Gif(1, 1, "\x04"))) << "no end code";
    EXPECT_FALSE(GifIsSound(Gif(1, 1, "\x74\x01"))) << "a table code right after the clear";
    EXPECT_FALSE(GifIsSound(Gif(1, 1, "\x44\x01", 0))) << "smallest code size 0";
    EXPECT_FALSE(GifIsSound(Gif(1, 1, "\x44\x01", 9))) << "smallest code size 9";
}

TEST(GifCheckTest, FramesAndBlocksMustBeCompleteAndRegular) {
    const std::string sound = Gif(1, 1, "\x44\x01");
    EXPECT_FALSE(GifIsSound(Gif(0, 1, "\x45")));
    EXPECT_FALSE(GifIsSound(Gif(1, 0, "\x45")));
    for (std::size_t cut = 0; cut < sound.size(); ++cut) {
        EXPECT_FALSE(GifIsSound(sound.substr(0, cut))) << cut;
    }
    // A graphic control extension in its regular form, and one of five bytes.
    const std::string head = sound.substr(0, 19);
    const std::string frame = sound.substr(19);
    EXPECT_TRUE(GifIsSound(head + std::string("!\xf9\x04\x01\x00\x00\x00\x00", 8) + frame));
    EXPECT_FALSE(GifIsSound(head + std::string("!\xf9\x05\x01\x00\x00\x00\x00\x00", 9) + frame));
    // Any other extension: sub-blocks of any length.
    EXPECT_TRUE(GifIsSound(head +
                           std::string("!\xfe\x03"
                                       "abc\x01z\x00",
                                       9) +
                           frame));
    // A block of unknown kind.
    EXPECT_FALSE(GifIsSound(head + "\x01" + frame));
}
