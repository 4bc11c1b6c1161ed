#include "dialogs/DiaImage.h"

#include <wx/dcclient.h>

#include "dialogs/PanelText.h"
#include "platform/Picture.h"
#include "resources/DialogTemplates.h"

DiaImage::DiaImage(VaultDialogHost& host) : m_host(host) {
    Bind(wxEVT_PAINT, &DiaImage::OnPaint, this);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSeen(); }, ids::kOk);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnNotSeen(); }, ids::kCancel);
}

bool DiaImage::Create(wxWindow* parent) {
    return CreateFromTemplate(parent, PictureCheckTemplate());
}

bool DiaImage::TransferDataToWindow() {
    ShowPrompt(*this, m_prompt);
    return true;
}

void DiaImage::OnSeen() {
    Answer(true);
}

void DiaImage::OnNotSeen() {
    Answer(false);
}

void DiaImage::Answer(bool seen) {
    m_host.m_pictureSeen = seen;
    m_host.OnVaultStep();
}

void DiaImage::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    const long needed = static_cast<long>(m_width) * m_height * 3;
    // A block shorter than its stated size is never read past its end.
    if (m_pixels.m_nLength > 0 && m_pixels.m_pBuffer != nullptr && m_height > 0 && m_width > 0 &&
        m_pixels.m_nLength >= needed) {
        platform::DrawBgrBlock(dc, m_pixels.m_pBuffer, m_width, m_height, wxPoint(0, 0));
    }
}
