#include "platform/DetachedMessage.h"

#include <utility>

#include <gtk/gtk.h>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "platform/MessageBox.h"

namespace platform {

namespace {

class DetachedBox : public wxDialog {
public:
    DetachedBox(const wxString& text, const wxString& caption, std::function<void()> closed)
        : wxDialog(nullptr, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize,
                   wxDEFAULT_DIALOG_STYLE | wxDIALOG_NO_PARENT),
          m_closed(std::move(closed)) {
        wxString shown = text;
        shown.Replace("\r\n", "\n");
        auto* column = new wxBoxSizer(wxVERTICAL);
        // A label takes "&" for the mark of a keyboard shortcut; the text (a web address may
        // hold "&") is shown as it is.
        column->Add(new wxStaticText(this, wxID_ANY, wxControl::EscapeMnemonics(shown)), 0, wxALL,
                    16);
        auto* ok = new wxButton(this, wxID_OK, wxString::FromUTF8("确定"));
        column->Add(ok, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 12);
        SetSizerAndFit(column);
        SetDefaultItem(ok);
        ok->SetFocus();
        SetEscapeId(wxID_OK);
        Bind(
            wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(); }, wxID_OK);
        Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(); });

        // A modal main window holds GTK's input grab for its window group, which would keep
        // every other window of the program from being clicked; a group of its own keeps
        // the box out of that grab.
        GtkWindowGroup* group = gtk_window_group_new();
        gtk_window_group_add_window(group, GTK_WINDOW(GetHandle()));
        g_object_unref(group);  // the window keeps its group alive
        CentreOnScreen();
    }

private:
    void Finish() {
        if (m_finished) {
            return;
        }
        m_finished = true;
        Hide();
        std::function<void()> closed = std::move(m_closed);
        Destroy();
        if (closed) {
            closed();
        }
    }

    std::function<void()> m_closed;
    bool m_finished = false;
};

}  // namespace

void ShowDetachedMessage(const wxString& text, const wxString& caption,
                         std::function<void()> closed) {
    if (MessageBoxHookInstalled()) {
        ShowMessageBox(nullptr, text, caption, MessageButtons::Ok);
        if (closed) {
            closed();
        }
        return;
    }
    auto* box = new DetachedBox(text, caption, std::move(closed));  // destroys itself
    box->Show();
    box->Raise();
}

}  // namespace platform
