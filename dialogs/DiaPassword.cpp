#include "dialogs/DiaPassword.h"

#include <wx/dcclient.h>

#include "dialogs/PanelRandom.h"
#include "dialogs/PanelText.h"
#include "dialogs/SoftKeyboard.h"
#include "platform/Painting.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

namespace {

constexpr int kOriginBase = 50;
constexpr int kFirstOffsetXRange = 36;
constexpr int kFirstOffsetYRange = 18;
constexpr int kOffsetXRange = 100;
constexpr int kOffsetYRange = 28;
constexpr int kBandTop = 45;
constexpr int kBandBottom = 159;  // inclusive

}  // namespace

DiaPassword::DiaPassword(VaultDialogueEvents& events) : m_events(events) {
    SeedPanelRandomOnce();
    m_offsetX = NextPanelRandom() % kFirstOffsetXRange;
    m_offsetY = NextPanelRandom() % kFirstOffsetYRange;
    m_shift = false;
    m_relayout = true;
    Bind(wxEVT_PAINT, &DiaPassword::OnPaint, this);
    Bind(wxEVT_LEFT_UP, &DiaPassword::OnLeftUp, this);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, ids::kOk);
}

bool DiaPassword::Create(wxWindow* parent) {
    if (!CreateFromTemplate(parent, PasswordTemplate())) {
        return false;
    }
    m_exposeWatch = std::make_unique<platform::ExposeWatch>(
        this, [this](const wxRect&) { m_repaintAsked = true; });
    return true;
}

bool DiaPassword::Show(bool show) {
    if (show && !IsShown()) {
        m_repaintAsked = true;
    }
    return ChildDialog::Show(show);
}

void DiaPassword::Refresh(bool eraseBackground, const wxRect* rect) {
    m_repaintAsked = true;
    ChildDialog::Refresh(eraseBackground, rect);
}

void DiaPassword::Ask(const wxString& prompt) {
    SetPrompt(prompt);
    m_input.clear();
}

void DiaPassword::SetPrompt(const wxString& prompt) {
    m_prompt = prompt;
    ShowPrompt(*this, m_prompt);
}

void DiaPassword::OnOK() {
    Ombrix::SecretString typed = std::move(m_input);
    m_input.clear();
    m_events.OnPasswordTyped(std::move(typed));
}

wxPoint DiaPassword::KeyboardOrigin() const {
    return wxPoint(kOriginBase + m_offsetX, kOriginBase + m_offsetY);
}

wxRect DiaPassword::KeyboardBand() const {
    return wxRect(0, kBandTop, GetClientSize().GetWidth(), kBandBottom - kBandTop + 1);
}

void DiaPassword::OnLButtonUp(wxPoint point) {
    const KeyboardHit hit = HitTestKeyboard(KeyboardOrigin(), point, m_shift);
    switch (hit.kind) {
        case KeyboardHit::Character:
            // No echo: typing repaints nothing.
            m_input.push_back(hit.character);
            break;
        case KeyboardHit::Shift:
            m_shift = !m_shift;
            m_relayout = false;  // the repaint shows the other layer in place
            RefreshRect(KeyboardBand(), true);
            break;
        case KeyboardHit::Nothing:
            break;
    }
}

void DiaPassword::OnLeftUp(wxMouseEvent& event) {
    OnLButtonUp(event.GetPosition());
    event.Skip();
}

void DiaPassword::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (m_repaintAsked) {
        m_repaintAsked = false;
        if (m_relayout) {
            m_offsetX = NextPanelRandom() % kOffsetXRange;
            m_offsetY = NextPanelRandom() % kOffsetYRange;
            if (GetUpdateRegion().Contains(KeyboardBand()) != wxInRegion) {
                // Only part of the panel is repainted (a window moved off part of it): draw
                // the whole keyboard at its new place rather than a torn one.
                m_relayout = false;
                RefreshRect(KeyboardBand(), true);
            } else {
                m_relayout = true;
            }
        } else {
            m_relayout = true;
        }
    }
    DrawKeyboard(dc, GetUpdateRegion());
}

void DiaPassword::DrawKeyboard(wxDC& dc, const wxRegion& repainted) const {
    const wxFont previous = dc.GetFont();
    dc.SetFont(platform::PanelFont());
    const wxPoint origin = KeyboardOrigin();
    const wxString shiftCaption = wxString::FromUTF8(texts::kShiftKey);
    for (int row = 0; row < kKeyboardRows; ++row) {
        for (int cell = 0; cell < kKeyboardCells; ++cell) {
            const char key = KeyAt(row, cell, m_shift);
            const wxRect keyRect = KeyRect(origin, row, cell);
            if (key != 0 && repainted.Contains(keyRect) != wxOutRegion) {
                platform::DrawEtchedEdge(dc, keyRect);
                platform::DrawCentredText(dc, platform::DoubleAmpersands(wxString(key)), keyRect);
            }
            if (row == kShiftRow && (cell == 0 || cell == kKeyboardCells - 1)) {
                const wxRect rect = cell == 0 ? LeftShiftRect(origin) : RightShiftRect(origin);
                if (repainted.Contains(rect) != wxOutRegion) {
                    platform::DrawEtchedEdge(dc, rect);
                    platform::DrawCentredText(dc, shiftCaption, rect);
                }
            }
        }
    }
    dc.SetFont(previous);
}
