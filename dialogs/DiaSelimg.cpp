#include "dialogs/DiaSelimg.h"

#include <cstring>

#include <wx/dcclient.h>

#include "dialogs/PanelText.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/Picture.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

namespace {

constexpr int kSide = platform::kRenderedPictureSide;
constexpr int kBlockBytes = kSide * kSide * 3;

}  // namespace

DiaSelimg::DiaSelimg(VaultDialogHost& host) : m_host(host) {
    Bind(wxEVT_PAINT, &DiaSelimg::OnPaint, this);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnChoosePicture(); }, ids::kChoosePictureButton);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, ids::kOk);
}

bool DiaSelimg::Create(wxWindow* parent) {
    return CreateFromTemplate(parent, PictureChoiceTemplate());
}

bool DiaSelimg::TransferDataToWindow() {
    ShowPrompt(*this, m_prompt);
    return true;
}

wxRect DiaSelimg::PictureRect() {
    return wxRect(0, 0, kSide, kSide);
}

void DiaSelimg::OnChoosePicture() {
    const std::optional<wxString> chosen =
        platform::ChooseFileToOpen(wxString::FromUTF8(texts::kPictureFileFilter));
    if (!chosen) {
        return;
    }
    m_path = *chosen;
    if (!platform::CanLoadPicture(m_path)) {
        platform::ShowAppMessage(this, texts::kPictureCannotBeImported);
        return;
    }
    m_pixels.m_nLength = 0;
    m_pixels.Extend(kBlockBytes);
    m_width = kSide;
    m_height = kSide;
    // Capture at once, so that the block never holds undefined bytes, even if the picture
    // is confirmed before the panel has repainted; the repaint captures the same pixels.
    RenderAndCapture(nullptr);
    RefreshRect(PictureRect(), true);
}

void DiaSelimg::OnOK() {
    if (m_path.empty()) {
        platform::ShowAppMessage(this, texts::kNoPictureChosen);
        return;
    }
    if (!platform::CanLoadPicture(m_path)) {
        platform::ShowAppMessage(this, texts::kPictureCannotBeImported);
        return;
    }
    m_host.m_pictureSeen = true;
    m_host.OnVaultStep();
}

void DiaSelimg::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    // Controls redrawing themselves do not touch the picture; only a repaint of the picture
    // area reads the file again.
    if (GetUpdateRegion().Contains(PictureRect()) != wxOutRegion) {
        RenderAndCapture(&dc);
    }
}

void DiaSelimg::RenderAndCapture(wxDC* dc) {
    const std::optional<wxImage> picture = platform::RenderPicture(m_path);
    if (!picture) {
        return;
    }
    if (dc != nullptr) {
        dc->DrawBitmap(wxBitmap(*picture), 0, 0);
    }
    const long needed = static_cast<long>(m_width) * m_height * 3;
    if (m_pixels.m_nLength > 0 && m_pixels.m_pBuffer != nullptr && m_height > 0 && m_width > 0 &&
        m_width <= picture->GetWidth() && m_height <= picture->GetHeight() &&
        m_pixels.m_nLength >= needed) {
        platform::CaptureBgr(*picture, m_pixels.m_pBuffer, m_width, m_height);
    }
}
