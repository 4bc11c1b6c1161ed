// The program's interface font, as the font library ranks it once the program has added it:
// ahead of the face it was cut from in every lookup that would take that face, in a Chinese
// locale as in any other, while a Latin face asked for first stays first.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FontConfigurationLoad.h"

namespace {

const std::string kInterfaceFile = "ferrocask-ui.ttf";
const std::string kFullFaceFile = "wqy-zenhei.ttc";

// The file names of the fonts a lookup of the pattern tries, best first.
std::vector<std::string> FontsTried(const char* pattern) {
    std::vector<std::string> files;
    FcPattern* query = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    FcConfigSubstitute(nullptr, query, FcMatchPattern);
    FcDefaultSubstitute(query);
    FcResult result = FcResultNoMatch;
    FcFontSet* fonts = FcFontSort(nullptr, query, FcTrue, nullptr, &result);
    for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch) {
            const std::string path = reinterpret_cast<const char*>(file);
            files.push_back(path.substr(path.rfind('/') + 1));
        }
    }
    if (fonts != nullptr) {
        FcFontSetDestroy(fonts);
    }
    FcPatternDestroy(query);
    return files;
}

std::ptrdiff_t Place(const std::vector<std::string>& files, const std::string& file) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i] == file) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

std::string Listed(const std::vector<std::string>& files) {
    std::string list;
    for (std::size_t i = 0; i < files.size() && i < 6; ++i) {
        list += files[i] + " ";
    }
    return list;
}

}  // namespace

TEST(InterfaceFontTest, StandsAheadOfTheFaceItWasCutFromInEveryLookup) {
    platform::FontConfigurationLoad load(
        {FERROCASK_INTERFACE_FONT, FERROCASK_INTERFACE_FONT_FAMILY, FERROCASK_CJK_FACE_FAMILY});
    load.WaitUntilLoaded();

    // A dialog template names the face; in a Chinese locale every lookup asks for Chinese,
    // which only fonts that claim the language win.
    for (const char* pattern :
         {"WenQuanYi Zen Hei:lang=en", "WenQuanYi Zen Hei:lang=zh-cn", "Sans:lang=zh-cn"}) {
        const std::vector<std::string> tried = FontsTried(pattern);
        ASSERT_FALSE(tried.empty()) << pattern;
        EXPECT_EQ(tried.front(), kInterfaceFile) << pattern << ": " << Listed(tried);
    }

    // Elsewhere the Latin face stays first, and Chinese characters come from the interface
    // font before the full face.
    const std::vector<std::string> latin = FontsTried("Sans:lang=en");
    ASSERT_FALSE(latin.empty());
    EXPECT_NE(latin.front(), kInterfaceFile) << Listed(latin);
    const std::ptrdiff_t own = Place(latin, kInterfaceFile);
    const std::ptrdiff_t full = Place(latin, kFullFaceFile);
    ASSERT_GE(own, 0) << Listed(latin);
    ASSERT_GE(full, 0) << Listed(latin);
    EXPECT_LT(own, full);

    // The font library keeps its configuration for the life of the process; freed here, the
    // leak checker sees only what the program's code may have lost.
    FcFini();
}
