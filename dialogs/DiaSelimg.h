// Picture selection: when a master password is set, the user chooses a picture file; the
// panel shows it stretched to 128 by 128 pixels and keeps exactly those pixels as the
// block that the vault stores under the new master password.
#pragma once

#include <wx/bitmap.h>
#include <wx/string.h>

#include "dialogs/VaultDialogHost.h"
#include "framework/Data.h"
#include "platform/ChildDialog.h"

class wxPaintEvent;

class DiaSelimg : public platform::ChildDialog {
public:
    explicit DiaSelimg(VaultDialogHost& host);

    bool Create(wxWindow* parent);

    // Shows m_prompt in the prompt control.
    bool TransferDataToWindow() override;

    // "选择图片": asks for a picture file and takes it when it can be decoded.
    void OnChoosePicture();

    // "看到图片": hands the chosen picture to the host, or says why there is none.
    void OnOK();

    // The rectangle the picture is drawn in, at the top left of the panel.
    static wxRect PictureRect();

    wxString m_prompt;
    int m_width = 0;
    int m_height = 0;
    Ombrix::Data<unsigned char> m_pixels;  // blue-green-red rows from the top
    wxString m_path;                       // the file last chosen

private:
    void OnPaint(wxPaintEvent& event);

    VaultDialogHost& m_host;
    // The chosen picture as rendered when it was chosen (and captured into m_pixels); none
    // when the last file chosen could not be decoded. Repaints draw it without reading the
    // file again: a large photo takes a second to decode.
    wxBitmap m_shown;
};
