// The soft-keyboard password panel: every password is typed here by clicking keys that the
// panel draws at a random place. Nothing typed is ever shown, and the physical keyboard
// types nothing. OK hands the typed text to the vault dialogue.
#pragma once

#include <cstdint>
#include <memory>

#include <wx/region.h>
#include <wx/string.h>

#include "dialogs/VaultDialogueEvents.h"
#include "framework/SecretString.h"
#include "platform/ChildDialog.h"
#include "platform/ExposeWatch.h"

class wxMouseEvent;
class wxPaintEvent;

class DiaPassword : public platform::ChildDialog {
public:
    // Seeds the shared random generator (once per run) and draws first offsets.
    explicit DiaPassword(VaultDialogueEvents& events);

    // Creates the window from its template as a hidden child of parent.
    bool Create(wxWindow* parent);

    // Asks with prompt: the prompt shows and what was typed before is forgotten.
    void Ask(const wxString& prompt);
    // Only the prompt changes.
    void SetPrompt(const wxString& prompt);
    const wxString& Prompt() const { return m_prompt; }

    // Showing the panel again, invalidating it and uncovering it are the repaints that move
    // the keyboard (unless a shift click asked for the repaint).
    bool Show(bool show = true) override;
    void Refresh(bool eraseBackground = true, const wxRect* rect = nullptr) override;

    // OK: hands the typed text over and forgets it. An empty text is handed over as it is.
    void OnOK();

    // A left-button release at point (client coordinates): types the key under it or
    // toggles the shift layer.
    void OnLButtonUp(wxPoint point);

    // The keyboard's top-left corner for the current offsets.
    wxPoint KeyboardOrigin() const;

    // The band that a shift toggle repaints: full width, rows 45 to 159, which covers every
    // place the keyboard can be drawn.
    wxRect KeyboardBand() const;

    // The shift layer is on.
    bool Shifted() const { return m_shift; }
    // How many characters have been typed since the last OK or Ask.
    std::size_t TypedLength() const { return m_input.size(); }

private:
    void OnPaint(wxPaintEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    // Draws the keys that reach the region to be repainted: the button's hover look alone
    // repaints its own small area a dozen times, and each key's caption is laid out anew.
    void DrawKeyboard(wxDC& dc, const wxRegion& repainted) const;

    VaultDialogueEvents& m_events;
    Ombrix::SecretString m_input;  // typed so far; never shown
    wxString m_prompt;
    int32_t m_offsetX = 0;
    int32_t m_offsetY = 0;
    bool m_shift = false;
    bool m_relayout = true;  // the next repaint of the panel moves the keyboard
    // Something that repaints the panel happened since the last paint. GTK also repaints
    // the panel when a control redraws or the window is activated; those paints draw the
    // keyboard where it is.
    bool m_repaintAsked = true;
    std::unique_ptr<platform::ExposeWatch> m_exposeWatch;
};
