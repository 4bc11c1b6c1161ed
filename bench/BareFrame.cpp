// The floor of the program's start-up: a wxWidgets program that shows a dialog of the main
// window's size with a button and a list box, and nothing else. The program benchmark starts
// it beside the real program and measures both the same way.
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/listbox.h>

#include "resources/Texts.h"

namespace {

class BareFrameApp : public wxApp {
public:
    bool OnInit() override {
        // The same caption as the program's, by which the benchmark finds the window.
        wxDialog dialog(nullptr, wxID_ANY, wxString::FromUTF8(texts::kMainWindowCaption));
        dialog.SetClientSize(482, 315);
        // The default button, as the program's panels have one (GTK animates its look).
        auto* ok = new wxButton(&dialog, wxID_OK, "OK", wxPoint(10, 230), wxSize(150, 57));
        ok->SetDefault();
        new wxListBox(&dialog, wxID_ANY, wxPoint(10, 10), wxSize(200, 150));
        dialog.CentreOnScreen();
        dialog.ShowModal();
        return false;
    }
};

}  // namespace

wxIMPLEMENT_APP(BareFrameApp);
