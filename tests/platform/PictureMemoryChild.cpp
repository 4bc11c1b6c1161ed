// Renders one picture file and captures its block as the picture panel does, then prints
// the outcome and this process's peak memory, so that a test can measure the memory a
// picture takes apart from its own. One line:
//   1|0 (rendered or not) <peak kB> [r g b of the quadrant centres 32,32 96,32 32,96 96,96]
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <wx/init.h>

#include "platform/Picture.h"

int main(int argc, char** argv) {
    wxInitializer wx;
    if (argc != 2 || !wx.IsOk()) {
        return 2;
    }
    constexpr int kSide = platform::kRenderedPictureSide;
    const std::optional<wxImage> picture = platform::RenderPicture(wxString::FromUTF8(argv[1]));
    std::vector<unsigned char> block(kSide * kSide * 3);
    if (picture) {
        platform::CaptureBgr(*picture, block.data(), kSide, kSide);
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("VmHWM:", 0) != 0) {
    }
    std::printf("%d %ld", picture ? 1 : 0, std::stol(line.substr(6)));
    for (int quadrant = 0; picture && quadrant < 4; ++quadrant) {
        const unsigned char* bgr =
            &block[((32 + quadrant / 2 * 64) * kSide + 32 + quadrant % 2 * 64) * 3];
        std::printf(" %d %d %d", bgr[2], bgr[1], bgr[0]);
    }
    std::printf("\n");
}
