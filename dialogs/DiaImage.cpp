#include "dialogs/DiaImage.h"

#include <wx/dcclient.h>

#include "dialogs/PanelText.h"
#include "platform/Picture.h"
#include "resources/DialogTemplates.h"

DiaImage::DiaImage(VaultDialogueEvents& events) : m_events(events) {
    Bind(wxEVT_PAINT, &DiaImage::OnPaint, this);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSeen(); }, ids::kOk);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnNotSeen(); }, ids::kCancel);
}

bool DiaImage::Create(wxWindow* parent) {
    return CreateFromTemplate(parent, PictureCheckTemplate());
}

void DiaImage::ShowPicture(const wxString& prompt, const unsigned char* pixels, int width,
                           int height) {
    ShowPrompt(*this, prompt);
    m_pixels.m_nLength = 0;
    // Nothing larger than the panel is drawn, nor is its size left to overflow.
    const bool drawable =
        pixels != nullptr && width > 0 && height > 0 && width <= 1024 && height <= 1024;
    m_width = drawable ? width : 0;
    m_height = drawable ? height : 0;
    if (drawable) {
        m_pixels.Append(pixels, width * height * 3);
    }
    Refresh();
}

void DiaImage::OnSeen() {
    m_events.OnPictureChecked(true);
}

void DiaImage::OnNotSeen() {
    m_events.OnPictureChecked(false);
}

void DiaImage::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (m_width > 0 && m_pixels.m_nLength >= m_width * m_height * 3) {
        platform::DrawBgrBlock(dc, m_pixels.m_pBuffer, m_width, m_height, wxPoint(0, 0));
    }
}
