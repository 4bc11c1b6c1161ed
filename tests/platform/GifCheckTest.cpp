#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/GifCheck.h"

using platform::GifIsSound;

namespace {

// A GIF file with a two-colour table and one frame of width by height pixels whose code
// stream (smallest code size 2: clear 4, end 5, first free code 6) is `codes`.
std::string Gif(char width, char height, const std::string& codes, char codeSize = 2) {
    // The frame has no colour table of its own and is not interlaced.
    return std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00,\0\0\0\0", 24) +
           std::string{width, '\0', height, '\0', '\0', codeSize, static_cast<char>(codes.size())} +
           codes + std::string("\0;", 2);
}

// The code stream (smallest code size 2) of `pixels` pixels of colour 0, as compact as LZW
// makes it: each new code names the previous run one pixel longer, until the table is full.
std::string RunOfColourZero(std::uint64_t pixels) {
    std::vector<std::uint32_t> lengths(4096, 1);
    unsigned width = 3, next = 6, previous = 0;
    bool havePrevious = false;
    std::string bytes;
    std::uint32_t buffer = 0;
    unsigned bits = 0;
    const auto put = [&](unsigned code) {
        buffer |= code << bits;
        for (bits += width; bits >= 8; bits -= 8, buffer >>= 8) {
            bytes += static_cast<char>(buffer & 0xFF);
        }
    };
    for (std::uint64_t left = pixels; left > 0;) {
        unsigned code = 0;
        if (havePrevious && next < 4096 && lengths[previous] + 1 <= left) {
            code = next;  // the run so far and one pixel more
            lengths[next] = lengths[previous] + 1;
        } else if (havePrevious && left >= 2) {  // the longest run in the table that fits
            code = static_cast<unsigned>(std::min<std::uint64_t>(left + 4, next - 1));
        }
        put(code);
        left -= lengths[code];
        if (havePrevious && next < 4096) {
            lengths[next] = lengths[previous] + 1;
            if (++next == (1u << width) && width < 12) {
                ++width;
            }
        }
        previous = code;
        havePrevious = true;
    }
    put(5);
    if (bits > 0) {
        bytes += static_cast<char>(buffer & 0xFF);
    }
    return bytes;
}

// A GIF file of frames of the given sizes, each of one colour.
std::string ManyFrames(const std::vector<std::pair<unsigned, unsigned>>& frames) {
    std::string file("GIF89a\xff\xff\xff\xff\x80\x00\x00\xff\x00\x00\x00\x00\x00", 19);
    for (const auto& [width, height] : frames) {
        file += std::string(",\0\0\0\0", 5) + std::string{static_cast<char>(width & 0xFF),
                                                          static_cast<char>(width >> 8),
                                                          static_cast<char>(height & 0xFF),
                                                          static_cast<char>(height >> 8),
                                                          '\0',
                                                          '\x02'};
        const std::string codes = RunOfColourZero(std::uint64_t{width} * height);
        for (std::size_t at = 0; at < codes.size(); at += 255) {
            const std::string block = codes.substr(at, 255);
            file += static_cast<char>(block.size());
            file += block;
        }
        file += '\0';
    }
    return file + ";";
}

}  // namespace

// The decoder keeps every frame of a file: frames that are small on disk may not add up to
// more than the one largest picture it is asked to hold.
TEST(GifCheckTest, AllFramesTogetherStayWithinTheLargestPicture) {
    const std::string one = ManyFrames({{7000, 7000}});
    EXPECT_LT(one.size(), 40'000u);
    EXPECT_TRUE(GifIsSound(one));
    EXPECT_TRUE(GifIsSound(ManyFrames({{5000, 5000}, {5000, 4999}})));
    EXPECT_FALSE(GifIsSound(ManyFrames({{7000, 7000}, {7000, 7000}})));
    EXPECT_FALSE(GifIsSound(ManyFrames({{5000, 5000}, {5000, 5000}, {1, 1}})));
}

TEST(GifCheckTest, CodeStreamsFramesAndBlocksMustBeCompleteAndRegular) {
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

    // Frames and blocks must be complete and regular.
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
