// The soft-keyboard password panel: every password is typed here by clicking keys that the
// panel draws at a random place. Nothing typed is ever shown, and the physical keyboard
// types nothing. OK hands the text to the host and asks it for the next step.
#pragma once

#include <cstdint>
#include <memory>

#include <wx/string.h>

#include "dialogs/VaultDialogHost.h"
#include "framework/SecretString.h"
#include "platform/ChildDialog.h"
#include "platform/ExposeWatch.h"

class wxMouseEvent;
class wxPaintEvent;

class DiaPassword : public platform::ChildDialog {
public:
    // Seeds the shared random generator (once per run) and draws first offsets.
    explicit DiaPassword(VaultDialogHost& host);

    // Creates the window from its template as a hidden child of parent.
    bool Create(wxWindow* parent);

    // Shows m_prompt in the prompt control.
    bool TransferDataToWindow() override;

    // Showing the panel again, invalidating it and uncovering it are the repaints that move
    // the keyboard (unless a shift click asked for the repaint).
    bool Show(bool show = true) override;
    void Refresh(bool eraseBackground = true, const wxRect* rect = nullptr) override;

    // OK: hands m_input to the host as the entered password, empties it, asks for the next
    // step. An empty text is handed over as it is.
    void OnOK();

    // A left-button release at point (client coordinates): types the key under it or
    // toggles the shift layer.
    void OnLButtonUp(wxPoint point);

    // The keyboard's top-left corner for the current offsets.
    wxPoint KeyboardOrigin() const;

    // The band that a shift toggle repaints: full width, rows 45 to 159, which covers every
    // place the keyboard can be drawn.
    wxRect KeyboardBand() const;

    Ombrix::SecretString m_input;  // typed so far; never shown
    wxString m_prompt;
    int32_t m_offsetX = 0;
    int32_t m_offsetY = 0;
    bool m_shift = false;
    bool m_relayout = true;  // the next repaint of the panel moves the keyboard

private:
    void OnPaint(wxPaintEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void DrawKeyboard(wxDC& dc) const;

    VaultDialogHost& m_host;
    // Something that repaints the panel happened since the last paint. GTK also repaints
    // the panel when a control redraws or the window is activated; those paints draw the
    // keyboard where it is.
    bool m_repaintAsked = true;
    std::unique_ptr<platform::ExposeWatch> m_exposeWatch;
};
