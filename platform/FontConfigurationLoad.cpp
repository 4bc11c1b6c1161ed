#include "platform/FontConfigurationLoad.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <system_error>
#include <utility>

namespace platform {

namespace {

const FcChar8* FcText(const std::string& text) {
    return reinterpret_cast<const FcChar8*>(text.c_str());
}

// The family names come from the build and hold no markup.
std::string InterfaceFontRule(const InterfaceFont& font) {
    return "<?xml version=\"1.0\"?>\n"
           "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
           "<fontconfig><match target=\"pattern\">"
           "<test qual=\"any\" name=\"family\"><string>" +
           font.standsFor +
           "</string></test>"
           "<edit name=\"family\" mode=\"prepend\" binding=\"same\"><string>" +
           font.family + "</string></edit></match></fontconfig>\n";
}

}  // namespace

FontConfigurationLoad::FontConfigurationLoad(InterfaceFont interfaceFont)
    : m_interfaceFont(std::move(interfaceFont)) {
    try {
        m_thread = std::thread([this] { Load(); });
    } catch (const std::system_error&) {
        // No thread to spare: WaitUntilLoaded does the work.
    }
}

FontConfigurationLoad::~FontConfigurationLoad() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void FontConfigurationLoad::WaitUntilLoaded() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (!m_loaded) {
        Load();
    }
}

void FontConfigurationLoad::Load() {
    m_loaded = true;
    FcInit();
    // A missing file is no error: the installed face draws the texts as well, only with
    // much more of its large file brought into memory.
    const InterfaceFont& font = m_interfaceFont;
    if (font.file.empty() || access(font.file.c_str(), R_OK) != 0 ||
        !FcConfigAppFontAddFile(nullptr, FcText(font.file))) {
        return;
    }
    FcConfigParseAndLoadFromMemory(FcConfigGetCurrent(), FcText(InterfaceFontRule(font)), FcTrue);
}

}  // namespace platform
