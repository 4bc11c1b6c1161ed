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

DiaSelimg::DiaSelimg(VaultDialogueEvents& events) : m_events(events) {
    Bind(wxEVT_PAINT, &DiaSelimg::OnPaint, this);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnChoosePicture(); }, ids::kChoosePictureButton);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, ids::kOk);
}

bool DiaSelimg::Create(wxWindow* parent) {
    return CreateFromTemplate(parent, PictureChoiceTemplate());
}

void DiaSelimg::Ask(const wxString& prompt) {
    ShowPrompt(*this, prompt);
    m_pixels.m_nLength = 0;
    m_path.clear();
    // A picture chosen for an earlier master password is not shown as if chosen again.
    m_shown = wxBitmap();
    RefreshRect(PictureRect(), true);
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
    const std::optional<wxImage> picture = platform::RenderPicture(m_path);
    RefreshRect(PictureRect(), true);
    if (!picture) {
        m_shown = wxBitmap();
        platform::ShowAppMessage(this, texts::kPictureCannotBeImported);
        return;
    }
    // Captured at once, so that the block never holds undefined bytes, even if the picture
    // is confirmed before the panel has repainted; it is what the repaints draw.
    m_pixels.m_nLength = 0;
    m_pixels.Extend(kBlockBytes);
    platform::CaptureBgr(*picture, m_pixels.m_pBuffer, kSide, kSide);
    m_shown = wxBitmap(*picture);
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
    m_events.OnPictureChosen(m_pixels);
}

void DiaSelimg::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (m_shown.IsOk()) {
        dc.DrawBitmap(m_shown, 0, 0);
    }
}
