#include "dialogs/PanelRandom.h"

#include <random>

#include "framework/LocalTime.h"

namespace {

std::mt19937& Generator() {
    static std::mt19937 generator;
    return generator;
}

bool g_seeded = false;

}  // namespace

void SeedPanelRandomOnce() {
    if (g_seeded) {
        return;
    }
    const Ombrix::LocalTime now = Ombrix::CurrentLocalTime();
    Generator().seed(
        static_cast<unsigned>(now.second + now.minute + now.hour + now.day + now.month + now.year));
    g_seeded = true;
}

int NextPanelRandom() {
    return static_cast<int>(Generator()() & 0x7FFFFFFFu);
}
