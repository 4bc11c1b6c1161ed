#include "platform/FontConfigurationLoad.h"

#include <fontconfig/fontconfig.h>

#include <system_error>

namespace platform {

FontConfigurationLoad::FontConfigurationLoad() {
    try {
        m_thread = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
        // No thread to spare: the configuration is loaded where it is first needed.
    }
}

FontConfigurationLoad::~FontConfigurationLoad() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace platform
