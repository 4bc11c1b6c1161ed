// The font configuration, loaded on a thread of its own while the program starts, and the
// program's own interface font added to it.
#pragma once

#include <string>
#include <thread>

namespace platform {

// A font file of the program's own that holds the glyphs of its texts, cut from a large
// CJK face, and the family names of both.
struct InterfaceFont {
    std::string file;
    std::string family;
    std::string standsFor;  // the family of the face it was cut from
};

// The first text the program measures or draws waits until the font library has read its
// configuration and the caches of the installed fonts, several milliseconds in which the
// program could already be talking to the display. Made at the very start, before the
// widget library opens the display, this loads that configuration on a thread of its own.
// The library's loading is safe from several threads (a loser of the race throws its copy
// away).
//
// The same thread then adds the interface font to this program's fonts, with the languages
// of the face it was cut from and a rule that puts its family ahead of that face wherever a
// font is looked up: the texts are drawn from the small file with the same outlines,
// whether a template names the face, the fallback of another face reaches it or a Chinese
// locale asks for Chinese, and characters it lacks still come from the full face. The text
// library reads the fonts and the rules once, at its first font, so the program waits for
// the thread before it makes its first font (WaitUntilLoaded). Without the file, everything
// goes on with the installed fonts alone.
class FontConfigurationLoad {
public:
    explicit FontConfigurationLoad(InterfaceFont interfaceFont);
    ~FontConfigurationLoad();
    FontConfigurationLoad(const FontConfigurationLoad&) = delete;
    FontConfigurationLoad& operator=(const FontConfigurationLoad&) = delete;

    // Returns once the configuration is loaded and the interface font, if its file is
    // there, added. Does the work here when no thread could be started.
    void WaitUntilLoaded();

private:
    void Load();

    InterfaceFont m_interfaceFont;
    bool m_loaded = false;
    std::thread m_thread;
};

}  // namespace platform
