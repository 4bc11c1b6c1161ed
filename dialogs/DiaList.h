// The list panel: the names of the stored passwords, the buttons that act on them, and a
// small framed area that shows the selected password only while the left button is held
// down on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <wx/timer.h>

#include "dialogs/VaultDialogueEvents.h"
#include "platform/ChildDialog.h"

class wxListBox;
class wxMouseEvent;
class wxPaintEvent;
class wxTextCtrl;

// What the hold area shows.
enum HoldMode : int32_t {
    kHoldBlank = 0,
    kHoldHint = 1,
    kHoldPassword = 2,
};

class DiaList : public platform::ChildDialog {
public:
    // Draws the hold area's place from the shared random generator.
    explicit DiaList(VaultDialogueEvents& events);
    // Empties the clipboard when a password was copied and not cleared since.
    ~DiaList() override;

    // Creates the window and starts the 256 ms watch of the hold area.
    bool Create(wxWindow* parent);

    // Lists names (GB18030 bytes) in their order; selects the first, if any, and shows it
    // in the name box.
    void ShowNames(const std::vector<std::string>& names);

    // The stored bytes of the selected name; nothing when nothing is selected.
    std::optional<std::string> SelectedName() const;

    // A password was put on the clipboard: it is cleared when the panel goes, unless
    // something else was copied since.
    void NoteCopied() { m_clipboardUsed = true; }

    // Buttons: all but "清除粘贴板" are handed to the vault dialogue.
    void OnAdd();
    void OnModify();
    void OnDelete();
    void OnCopy();
    void OnClearClipboard();
    void OnChangeMasterPassword();
    void OnExit();

    // The list's selection changed.
    void OnSelectionChange();

    // Hold area: a timer tick, and the left button going down or up on the panel. The
    // pointer position is read from the system, not taken from the event.
    void OnTimer();
    void OnLButtonDown();
    void OnLButtonUp();

    // The 256 ms watch of the hold area.
    wxTimer& HoldWatch() { return m_timer; }
    const wxRect& HoldRect() const { return m_holdRect; }
    HoldMode ShownInHoldArea() const { return static_cast<HoldMode>(m_holdMode); }

private:
    void OnPaint(wxPaintEvent& event);
    void DrawHoldArea(wxDC& dc);
    void InvalidateHoldArea();

    VaultDialogueEvents& m_events;
    wxTimer m_timer;
    wxListBox* m_listBox = nullptr;
    wxTextCtrl* m_nameBox = nullptr;
    // The stored bytes of each listed name, by list index: the list box shows them
    // converted for display, which cannot always be converted back.
    std::vector<std::string> m_names;
    int32_t m_holdMode = kHoldBlank;
    bool m_holding = false;
    wxRect m_holdRect;
    bool m_clipboardUsed = false;
};
