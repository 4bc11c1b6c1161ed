// Drawing helpers shared by the panels that paint themselves: fonts, the etched edge that
// frames keys and the hold area, and text centred the way the panels' captions expect.
#pragma once

#include <wx/colour.h>
#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/string.h>

class wxDC;

namespace platform {

// The font shared by every painted panel: "Microsoft Sans Serif" with a cell height of
// 18 pixels, normal weight, Swiss family. Where that face is missing the system's sans face
// stands in (and the font system's fallback supplies CJK glyphs). Created on first use and
// kept until the widget library shuts down.
const wxFont& PanelFont();

// The dialog font of a template (宋体 at the given points, 96 dpi). Where no SimSun face is
// installed, a CJK sans face stands in, else the system's GUI face.
wxFont TemplateFont(const char* face, int points);

// The two colours of an etched edge.
inline const wxColour kEdgeShadow(160, 160, 160);
inline const wxColour kEdgeHighlight(255, 255, 255);

// An etched frame around rect (right and bottom edges exclusive): an outer sunken line
// (shadow top and left, highlight bottom and right) and an inner raised one (the reverse).
void DrawEtchedEdge(wxDC& dc, const wxRect& rect);

// Caption text with mnemonic markers: a single "&" underlines the next character, "&&"
// stands for one "&".
struct MnemonicText {
    wxString shown;
    int underlined = -1;  // index into shown, or -1
};
MnemonicText ParseMnemonic(const wxString& caption);

// Every "&" doubled, so that ParseMnemonic shows the text as it is.
wxString DoubleAmpersands(const wxString& text);

// Draws caption centred horizontally in rect, starting at its top, clipped to rect, with the
// mnemonic rules above, in the device context's current font and text colour.
void DrawCentredText(wxDC& dc, const wxString& caption, const wxRect& rect);

}  // namespace platform
