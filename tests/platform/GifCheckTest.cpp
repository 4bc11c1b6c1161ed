#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/GifCheck.h"

using platform::GifIsSound;

namespace {

const std::string kHead("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00", 19);

// A GIF file with a two-colour table and one frame of width by height pixels whose code
// stream (smallest code size 2: clear 4, end 5, first free code 6) is `codes`.
std::string Gif(char width, char height, const std::string& codes, char codeSize = 2) {
    return kHead + std::string(",\0\0\0\0", 5) +
           std::string{width, '\0', height, '\0', '\0', codeSize, static_cast<char>(codes.size())} +
           codes + std::string("\0;", 2);
}

// The code stream of `pixels` pixels of colour 0, as compact as LZW makes it: each new code
// names the previous run one pixel longer, until the table is full.
std::string RunOfColourZero(std::uint64_t pixels) {
    std::vector<std::uint32_t> lengths(4096, 1);
    unsigned width = 3, next = 6, previous = 0, bits = 0;
    std::uint32_t buffer = 0;
    std::string bytes;
    const auto put = [&](unsigned code) {
        for (buffer |= code << bits, bits += width; bits >= 8; bits -= 8, buffer >>= 8) {
            bytes += static_cast<char>(buffer & 0xFF);
        }
    };
    for (std::uint64_t left = pixels; left > 0;) {
        unsigned code = 0;
        if (left != pixels && next < 4096 && lengths[previous] + 1 <= left) {
            code = next;  // the run so far and one pixel more
            lengths[next] = lengths[previous] + 1;
        } else if (left != pixels && left >= 2) {  // the longest run in the table that fits
            code = static_cast<unsigned>(std::min<std::uint64_t>(left + 4, next - 1));
        }
        put(code);
        if (left != pixels && next < 4096) {
            lengths[next] = lengths[previous] + 1;
            width += ++next == (1u << width) && width < 12;
        }
        left -= lengths[code];
        previous = code;
    }
    put(5);
    return bits > 0 ? bytes + static_cast<char>(buffer & 0xFF) : bytes;
}

// A GIF file of frames of the given sizes, each of one colour.
std::string ManyFrames(const std::vector<std::pair<unsigned, unsigned>>& frames) {
    std::string file = kHead;
    file[6] = file[7] = file[8] = file[9] = '\xff';
    for (const auto& [width, height] : frames) {
        file += std::string(",\0\0\0\0", 5) + std::string{static_cast<char>(width & 0xFF),
                                                          static_cast<char>(width >> 8),
                                                          static_cast<char>(height & 0xFF),
                                                          static_cast<char>(height >> 8),
                                                          '\0',
                                                          '\x02'};
        const std::string codes = RunOfColourZero(std::uint64_t{width} * height);
        for (std::size_t at = 0; at < codes.size(); at += 255) {
            file += static_cast<char>(std::min<std::size_t>(255, codes.size() - at)) +
                    codes.substr(at, 255);
        }
        file += '\0';
    }
    return file + ";";
}

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

// Code streams and blocks that the decoder would overrun or misread (frames cut short or
// empty are in the picture tests).
TEST(GifCheckTest, CodeStreamsAndBlocksMustBeCompleteAndRegular) {
    // Three-bit codes, least significant bit first: clear, 0, end; clear, 0, 6 (the string
    // being defined: "0 0"), end.
    const std::string sound = Gif(1, 1, "\x44\x01"), frame = sound.substr(19);
    std::string split = Gif(1, 1, "\x44\x49"), whole = Gif(1, 1, "\x44");
    split.insert(split.size() - 2, "\x02\xab\xab");  // a sub-block after the end code
    whole.insert(whole.size() - 2, "\x01\x01");      // the end code in the last sub-block
    const std::pair<std::string, bool> files[] = {
        {sound, true},
        {Gif(3, 1, "\x84\x0b"), true},
        {whole, true},
        {Gif(2, 1, "\x84\x0b"), false},  // more pixels than the frame holds
        {Gif(2, 1, "\x44\x01"), false},  // fewer
        {Gif(2, 1, "\xc4\x0b"), false},  // code 7 names no string yet
        {split, false},
        {Gif(1, 1, "\x04"), false},      // no end code
        {Gif(1, 1, "\x74\x01"), false},  // a table code right after the clear
        {Gif(1, 1, "\x44\x01", 0), false},
        // A graphic control extension in its regular form and one of five bytes.
        {kHead + std::string("!\xf9\x04\x01\x00\x00\x00\x00", 8) + frame, true},
        {kHead + std::string("!\xf9\x05\x01\x00\x00\x00\x00\x00", 9) + frame, false},
        {kHead + "\x01" + frame, false},  // a block of unknown kind
    };
    for (std::size_t i = 0; i < std::size(files); ++i) {
        EXPECT_EQ(GifIsSound(files[i].first), files[i].second) << i;
    }
}

}  // namespace
