#include "platform/FontConfigurationLoad.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <memory>
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

template <typename T, void (*Destroy)(T*)>
struct FcDeleter {
    void operator()(T* object) const { Destroy(object); }
};
using PatternHandle = std::unique_ptr<FcPattern, FcDeleter<FcPattern, FcPatternDestroy>>;
using ObjectSetHandle = std::unique_ptr<FcObjectSet, FcDeleter<FcObjectSet, FcObjectSetDestroy>>;
using FontSetHandle = std::unique_ptr<FcFontSet, FcDeleter<FcFontSet, FcFontSetDestroy>>;

// The font library counts a font as one for a language only when it has nearly all of the
// language's characters, which the interface font, with a few hundred, does not. Under a
// Chinese locale every lookup asks for Chinese, and a font that does not claim it ranks
// behind the full face whatever the family order says. The interface font stands in for
// that face, so it claims the face's languages; which characters it has is still decided by
// its own character set.
void ClaimTheLanguagesOf(const std::string& family, FcPattern* interfaceFont) {
    const PatternHandle query(FcPatternCreate());
    const ObjectSetHandle languages(FcObjectSetBuild(FC_LANG, nullptr));
    if (!query || !languages || !FcPatternAddString(query.get(), FC_FAMILY, FcText(family))) {
        return;
    }
    const FontSetHandle faces(FcFontList(nullptr, query.get(), languages.get()));
    FcLangSet* claimed = nullptr;
    if (faces && faces->nfont > 0 &&
        FcPatternGetLangSet(faces->fonts[0], FC_LANG, 0, &claimed) == FcResultMatch) {
        FcPatternDel(interfaceFont, FC_LANG);
        FcPatternAddLangSet(interfaceFont, FC_LANG, claimed);
    }
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
    // The file holds one face, the last one added to the program's fonts.
    FcFontSet* added = FcConfigGetFonts(nullptr, FcSetApplication);
    if (added != nullptr && added->nfont > 0) {
        ClaimTheLanguagesOf(font.standsFor, added->fonts[added->nfont - 1]);
    }
    FcConfigParseAndLoadFromMemory(FcConfigGetCurrent(), FcText(InterfaceFontRule(font)), FcTrue);
}

}  // namespace platform
