#include "platform/Painting.h"

#include <algorithm>
#include <memory>
#include <string>

#include <wx/dc.h>
#include <wx/dcscreen.h>
#include <wx/fontenum.h>
#include <wx/module.h>
#include <wx/settings.h>

#include "platform/TextCodec.h"

namespace platform {

namespace {

constexpr int kPanelFontCellHeight = 18;

// The fonts made once and shared: the panel font, and the last template font with what it
// was asked for (every template asks for the same one).
struct SharedFonts {
    std::unique_ptr<wxFont> panel;
    std::string templateFace;
    int templatePoints = 0;
    std::unique_ptr<wxFont> templateFont;
};

SharedFonts& Fonts() {
    static SharedFonts fonts;
    return fonts;
}

// Frees the shared fonts while the widget library can still release them.
class PanelFontModule : public wxModule {
public:
    bool OnInit() override { return true; }
    void OnExit() override {
        Fonts().panel.reset();
        Fonts().templateFont.reset();
    }

private:
    wxDECLARE_DYNAMIC_CLASS(PanelFontModule);
};
wxIMPLEMENT_DYNAMIC_CLASS(PanelFontModule, wxModule);

wxString FirstInstalledFace(std::initializer_list<const char*> faces) {
    for (const char* face : faces) {
        const wxString name = wxString::FromUTF8(face);
        if (wxFontEnumerator::IsValidFacename(name)) {
            return name;
        }
    }
    return wxString();
}

// The font of the face (the family's default when there is none) at the largest whole point
// size whose character cell is at most cellHeight pixels high: the panels are laid out for a
// cell height, while the font system sizes fonts by em. This is the font the widget library
// makes when asked for a pixel height, found with fewer fonts loaded on the way: its own
// search starts at the default size and halves and doubles from there, and every size tried
// is a font the font system must find and load, a good part of the program's start-up.
// This one starts two sizes below the size whose em is the cell height: the cells of common
// faces are 1.15 to 1.3 em high, which puts the answer there, and the search then loads two
// sizes (the answer and the one above it) where it loaded three.
wxFont FontWithCellHeight(const wxString& face, wxFontFamily family, int cellHeight) {
    int points = std::max(1, cellHeight * 3 / 4 - 2);
    wxFontInfo info(points);
    info.Family(family);
    if (!face.empty()) {
        info.FaceName(face);
    }
    wxFont font(info);
    wxScreenDC dc;
    const auto fits = [&](int size) {
        font.SetPointSize(size);
        dc.SetFont(font);
        return dc.GetCharHeight() <= cellHeight;
    };
    if (fits(points)) {
        while (fits(points + 1)) {
            ++points;
        }
    } else {
        while (points > 1 && !fits(points - 1)) {
            --points;
        }
        points = std::max(1, points - 1);
    }
    font.SetPointSize(points);
    return font;
}

void FillLine(wxDC& dc, const wxColour& colour, int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    dc.SetBrush(wxBrush(colour));
    dc.DrawRectangle(x, y, width, height);
}

}  // namespace

const wxFont& PanelFont() {
    std::unique_ptr<wxFont>& font = Fonts().panel;
    if (!font) {
        const wxString face = FirstInstalledFace({"Microsoft Sans Serif"});
        font = std::make_unique<wxFont>(
            FontWithCellHeight(face, wxFONTFAMILY_SWISS, kPanelFontCellHeight));
    }
    return *font;
}

wxFont TemplateFont(const char* face, int points) {
    SharedFonts& fonts = Fonts();
    if (fonts.templateFont && fonts.templateFace == face && fonts.templatePoints == points) {
        return *fonts.templateFont;
    }
    wxString chosen = FirstInstalledFace({face, "SimSun", "NSimSun", "WenQuanYi Zen Hei",
                                          "Noto Sans CJK SC", "Droid Sans Fallback"});
    if (chosen.empty()) {
        chosen = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).GetFaceName();
    }
    // Points at 96 dpi, rounded: 9 pt is 12 pixels.
    fonts.templateFont = std::make_unique<wxFont>(
        FontWithCellHeight(chosen, wxFONTFAMILY_DEFAULT, (points * 96 + 36) / 72));
    fonts.templateFace = face;
    fonts.templatePoints = points;
    return *fonts.templateFont;
}

void DrawEtchedEdge(wxDC& dc, const wxRect& rect) {
    const int l = rect.GetLeft();
    const int t = rect.GetTop();
    const int r = l + rect.GetWidth();
    const int b = t + rect.GetHeight();
    const wxPen oldPen = dc.GetPen();
    const wxBrush oldBrush = dc.GetBrush();
    dc.SetPen(*wxTRANSPARENT_PEN);
    // Outer line: sunken.
    FillLine(dc, kEdgeShadow, l, t, r - l - 1, 1);
    FillLine(dc, kEdgeShadow, l, t, 1, b - t - 1);
    FillLine(dc, kEdgeHighlight, r - 1, t, 1, b - t);
    FillLine(dc, kEdgeHighlight, l, b - 1, r - l, 1);
    // Inner line: raised.
    const int l1 = l + 1, t1 = t + 1, r1 = r - 1, b1 = b - 1;
    FillLine(dc, kEdgeHighlight, l1, t1, r1 - l1 - 1, 1);
    FillLine(dc, kEdgeHighlight, l1, t1, 1, b1 - t1 - 1);
    FillLine(dc, kEdgeShadow, r1 - 1, t1, 1, b1 - t1);
    FillLine(dc, kEdgeShadow, l1, b1 - 1, r1 - l1, 1);
    dc.SetPen(oldPen);
    dc.SetBrush(oldBrush);
}

MnemonicText ParseMnemonic(const wxString& caption) {
    MnemonicText result;
    for (wxString::const_iterator it = caption.begin(); it != caption.end(); ++it) {
        if (*it == '&') {
            ++it;
            if (it == caption.end()) {
                break;  // a trailing marker shows nothing
            }
            if (*it != '&' && result.underlined < 0) {
                result.underlined = static_cast<int>(result.shown.length());
            }
        }
        result.shown += *it;
    }
    return result;
}

wxString DoubleAmpersands(const wxString& text) {
    wxString doubled;
    for (wxUniChar c : text) {
        doubled += c;
        if (c == '&') {
            doubled += c;
        }
    }
    return doubled;
}

void DrawCentredText(wxDC& dc, const wxString& caption, const wxRect& rect) {
    MnemonicText text = ParseMnemonic(caption);
    const wxSize extent = dc.GetTextExtent(text.shown);
    const int x = rect.GetLeft() + (rect.GetWidth() - extent.GetWidth()) / 2;
    const int y = rect.GetTop();
    wxDCClipper clip(dc, rect);
    dc.DrawText(text.shown, x, y);
    if (text.underlined >= 0) {
        const int before = dc.GetTextExtent(text.shown.Left(text.underlined)).GetWidth();
        const int width = dc.GetTextExtent(text.shown.Mid(text.underlined, 1)).GetWidth();
        const int baseline = y + dc.GetCharHeight() - dc.GetFontMetrics().descent + 1;
        dc.SetPen(wxPen(dc.GetTextForeground()));
        dc.DrawLine(x + before, baseline, x + before + width, baseline);
    }
    // The caption may be a password shown in the hold area.
    WipeText(text.shown);
}

}  // namespace platform
