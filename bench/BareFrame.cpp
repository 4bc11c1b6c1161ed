// The floor of the program's start-up: a wxWidgets program that shows a dialog of the main
// window's size with a button and a list box, and nothing else. The program benchmark starts
// it beside the real program and measures both the same way.
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/listbox.h>

namespace {

class BareFrameApp : public wxApp {
public:
    bool OnInit() override {
        wxDialog dialog(nullptr, wxID_ANY, "bare frame");
        dialog.SetClientSize(482, 315);
        new wxButton(&dialog, wxID_OK, "OK", wxPoint(10, 230), wxSize(150, 57));
        new wxListBox(&dialog, wxID_ANY, wxPoint(10, 10), wxSize(200, 150));
        dialog.CentreOnScreen();
        dialog.ShowModal();
        return false;
    }
};

}  // namespace

wxIMPLEMENT_APP(BareFrameApp);
