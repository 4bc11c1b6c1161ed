// The picture check: shows the picture that the typed master password decrypts, and asks
// whether it is the one the user chose ("看到") or not ("没看到").
#pragma once

#include <wx/string.h>

#include "dialogs/VaultDialogHost.h"
#include "framework/Data.h"
#include "platform/ChildDialog.h"

class wxPaintEvent;

class DiaImage : public platform::ChildDialog {
public:
    explicit DiaImage(VaultDialogHost& host);

    bool Create(wxWindow* parent);

    // Shows m_prompt in the prompt control.
    bool TransferDataToWindow() override;

    // The answers: seen or not seen, handed to the host before its next step.
    void OnSeen();
    void OnNotSeen();

    wxString m_prompt;
    int m_width = 0;
    int m_height = 0;
    Ombrix::Data<unsigned char> m_pixels;  // blue-green-red rows from the top

private:
    void OnPaint(wxPaintEvent& event);
    void Answer(bool seen);

    VaultDialogHost& m_host;
};
