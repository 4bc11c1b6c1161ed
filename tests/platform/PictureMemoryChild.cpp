// Renders one picture file and captures its block as the picture panel does, then prints
// the outcome and the peak memory of this process, so that a test can measure the memory a
// picture takes apart from its own. Output, one line:
//   rendered|refused <peak kB> [r g b of the quadrant centres 32,32 96,32 32,96 96,96]
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <wx/init.h>

#include "platform/Picture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    wxInitializer wx;
    if (!wx.IsOk()) {
        return 3;
    }
    const std::optional<wxImage> picture = platform::RenderPicture(wxString::FromUTF8(argv[1]));
    std::vector<unsigned char> block;
    if (picture) {
        block.resize(platform::kRenderedPictureSide * platform::kRenderedPictureSide * 3);
        platform::CaptureBgr(*picture, block.data(), platform::kRenderedPictureSide,
                             platform::kRenderedPictureSide);
    }
    std::ifstream status("/proc/self/status");
    long peakKb = -1;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            peakKb = std::stol(line.substr(6));
        }
    }
    std::printf("%s %ld", picture ? "rendered" : "refused", peakKb);
    for (const int y : {32, 96}) {
        for (const int x : {32, 96}) {
            if (picture) {
                const unsigned char* bgr = &block[(y * platform::kRenderedPictureSide + x) * 3];
                std::printf(" %d %d %d", bgr[2], bgr[1], bgr[0]);
            }
        }
    }
    std::printf("\n");
    return 0;
}
