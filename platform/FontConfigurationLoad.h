// The font configuration, loaded on a thread of its own while the program starts.
#pragma once

#include <thread>

namespace platform {

// The first text the program measures or draws waits until the font library has read its
// configuration and the caches of the installed fonts, several milliseconds in which the
// program could already be talking to the display. Made at the very start, before the
// widget library opens the display, this loads that configuration on a thread of its own;
// whoever asks for a font later finds it loaded or loading. The library's loading is safe
// from several threads (a loser of the race throws its copy away), so nothing waits for
// the thread but its owner's destructor.
class FontConfigurationLoad {
public:
    FontConfigurationLoad();
    ~FontConfigurationLoad();
    FontConfigurationLoad(const FontConfigurationLoad&) = delete;
    FontConfigurationLoad& operator=(const FontConfigurationLoad&) = delete;

private:
    std::thread m_thread;
};

}  // namespace platform
