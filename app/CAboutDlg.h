// The About box: the application icon, the program's name and version, and an OK button.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
public:
    // Creates the box from its template, centred on parent (may be null).
    explicit CAboutDlg(wxWindow* parent);
};
