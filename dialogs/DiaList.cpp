#include "dialogs/DiaList.h"

#include <wx/dcclient.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include "dialogs/PanelRandom.h"
#include "platform/Clipboard.h"
#include "platform/Cursor.h"
#include "platform/Painting.h"
#include "platform/TextCodec.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"
#include "vault/PasswordEntry.h"

namespace {

constexpr int kHoldXRange = 64;
constexpr int kHoldYRange = 30;
constexpr int kHoldWidth = 256;
constexpr int kHoldHeight = 20;
constexpr int kWatchMilliseconds = 256;

}  // namespace

DiaList::DiaList(VaultDialogueEvents& events) : m_events(events), m_timer(this) {
    SeedPanelRandomOnce();  // normally done already by the password panel
    const int holdX = NextPanelRandom() % kHoldXRange;
    const int holdY = NextPanelRandom() % kHoldYRange;
    m_holdRect = wxRect(holdX, holdY, kHoldWidth, kHoldHeight);

    Bind(wxEVT_PAINT, &DiaList::OnPaint, this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { OnTimer(); });
    // GTK reports a second press soon after a release as a double click only; it is a
    // press all the same.
    const auto press = [this](wxMouseEvent& event) {
        OnLButtonDown();
        event.Skip();
    };
    Bind(wxEVT_LEFT_DOWN, press);
    Bind(wxEVT_LEFT_DCLICK, press);
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& event) {
        OnLButtonUp();
        event.Skip();
    });
    Bind(
        wxEVT_LISTBOX, [this](wxCommandEvent&) { OnSelectionChange(); }, ids::kNameList);
    const std::pair<int, void (DiaList::*)()> buttons[] = {
        {ids::kAddButton, &DiaList::OnAdd},
        {ids::kModifyButton, &DiaList::OnModify},
        {ids::kDeleteButton, &DiaList::OnDelete},
        {ids::kCopyButton, &DiaList::OnCopy},
        {ids::kClearClipboardButton, &DiaList::OnClearClipboard},
        {ids::kChangeMasterButton, &DiaList::OnChangeMasterPassword},
        {ids::kExitButton, &DiaList::OnExit},
    };
    for (const auto& [id, handler] : buttons) {
        Bind(
            wxEVT_BUTTON, [this, handler = handler](wxCommandEvent&) { (this->*handler)(); }, id);
    }
}

DiaList::~DiaList() {
    m_timer.Stop();
    if (m_clipboardUsed) {
        // A copied password must not outlive the program; a text copied elsewhere since
        // stays.
        platform::ClipboardSession clipboard;
        clipboard.EmptyIfOurs();
    }
}

bool DiaList::Create(wxWindow* parent) {
    if (!CreateFromTemplate(parent, ListTemplate())) {
        return false;
    }
    m_listBox = dynamic_cast<wxListBox*>(Control(ids::kNameList));
    m_nameBox = dynamic_cast<wxTextCtrl*>(Control(ids::kSelectedNameBox));
    m_timer.Start(kWatchMilliseconds);
    return m_listBox != nullptr && m_nameBox != nullptr;
}

void DiaList::ShowNames(const std::vector<std::string>& names) {
    m_listBox->Clear();
    m_names = names;
    wxArrayString shown;
    for (const std::string& name : m_names) {
        shown.push_back(platform::Gb18030ToDisplay(name));
    }
    if (!shown.empty()) {
        m_listBox->Set(shown);
    }
    if (m_listBox->GetCount() > 0 && m_listBox->GetSelection() == wxNOT_FOUND) {
        m_listBox->SetSelection(0);
        m_nameBox->ChangeValue(m_listBox->GetString(0));
    } else if (m_listBox->GetCount() == 0) {
        m_nameBox->ChangeValue(wxString());  // the name of an entry that is gone
    }
}

std::optional<std::string> DiaList::SelectedName() const {
    const int selection = m_listBox != nullptr ? m_listBox->GetSelection() : wxNOT_FOUND;
    if (selection == wxNOT_FOUND || static_cast<size_t>(selection) >= m_names.size()) {
        return std::nullopt;
    }
    return m_names[selection];
}

void DiaList::OnAdd() {
    m_events.OnListButton(ListButton::kAdd);
}

void DiaList::OnModify() {
    m_events.OnListButton(ListButton::kModify);
}

void DiaList::OnDelete() {
    m_events.OnListButton(ListButton::kDelete);
}

void DiaList::OnCopy() {
    m_events.OnListButton(ListButton::kCopy);
}

void DiaList::OnClearClipboard() {
    platform::ClipboardSession clipboard;
    if (clipboard.IsOpen()) {
        // Only the password this program put there goes; whatever the user copied from
        // elsewhere meanwhile stays.
        clipboard.EmptyIfOurs();
        m_clipboardUsed = false;
    }
}

void DiaList::OnChangeMasterPassword() {
    m_events.OnListButton(ListButton::kChangeMasterPassword);
}

void DiaList::OnExit() {
    m_events.OnListButton(ListButton::kExit);
}

void DiaList::OnSelectionChange() {
    const int selection = m_listBox->GetSelection();
    if (selection != wxNOT_FOUND) {
        m_nameBox->ChangeValue(m_listBox->GetString(selection));
    }
}

void DiaList::InvalidateHoldArea() {
    RefreshRect(m_holdRect, true);
}

void DiaList::OnTimer() {
    const wxPoint pointer = platform::CursorPositionInClient(this);

    if (m_holding && !m_holdRect.Contains(pointer)) {
        m_holdMode = kHoldBlank;
        m_holding = false;
        InvalidateHoldArea();
        return;
    }
    if (m_listBox == nullptr || m_listBox->GetSelection() == wxNOT_FOUND) {
        m_holdMode = kHoldBlank;
        InvalidateHoldArea();
    } else if (m_holdMode == kHoldBlank) {
        m_holdMode = kHoldHint;
        InvalidateHoldArea();
    }
}

void DiaList::OnLButtonDown() {
    const wxPoint pointer = platform::CursorPositionInClient(this);

    if (m_holdRect.Contains(pointer)) {
        if (!m_holding) {
            m_holdMode = kHoldPassword;
        }
        m_holding = true;
        InvalidateHoldArea();
    }
}

void DiaList::OnLButtonUp() {
    m_holding = false;
    m_holdMode = kHoldHint;
    InvalidateHoldArea();
}

void DiaList::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    // Only a repaint that reaches the hold area draws it (and, holding, reads the vault).
    if (GetUpdateRegion().Contains(m_holdRect) != wxOutRegion) {
        DrawHoldArea(dc);
    }
}

void DiaList::DrawHoldArea(wxDC& dc) {
    const wxFont previous = dc.GetFont();
    dc.SetFont(platform::PanelFont());
    if (m_holdMode == kHoldHint) {
        platform::DrawEtchedEdge(dc, m_holdRect);
        platform::DrawCentredText(dc, wxString::FromUTF8(texts::kHoldAreaHint), m_holdRect);
    } else if (m_holdMode == kHoldPassword) {
        if (const std::optional<std::string> name = SelectedName()) {
            PasswordEntry entry{};
            const bool found = m_events.ReadEntry(*name, entry);
            platform::DrawEtchedEdge(dc, m_holdRect);
            if (found) {
                wxString password = platform::Gb18030ToDisplay(FieldText(entry.password));
                wxString shown = platform::DoubleAmpersands(password);
                platform::DrawCentredText(dc, shown, m_holdRect);
                platform::WipeText(shown);
                platform::WipeText(password);
            }
            WipeEntry(entry);
        }
    }
    dc.SetFont(previous);
}
