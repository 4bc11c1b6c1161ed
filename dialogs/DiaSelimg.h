// Picture selection: when a master password is set, the user chooses a picture file; the
// panel shows it stretched to 128 by 128 pixels and keeps exactly those pixels as the
// block that the vault stores under the new master password.
#pragma once

#include <wx/bitmap.h>
#include <wx/string.h>

#include "dialogs/VaultDialogueEvents.h"
#include "framework/Data.h"
#include "platform/ChildDialog.h"

class wxPaintEvent;

class DiaSelimg : public platform::ChildDialog {
public:
    explicit DiaSelimg(VaultDialogueEvents& events);

    bool Create(wxWindow* parent);

    // Asks for a picture with prompt; nothing is chosen yet.
    void Ask(const wxString& prompt);

    // "选择图片": asks for a picture file and takes it when it can be decoded.
    void OnChoosePicture();

    // "看到图片": hands the chosen picture's block to the vault dialogue, or says why there
    // is none.
    void OnOK();

    // The rectangle the picture is drawn in, at the top left of the panel.
    static wxRect PictureRect();

private:
    void OnPaint(wxPaintEvent& event);

    VaultDialogueEvents& m_events;
    // The chosen picture's 128 by 128 block, blue-green-red rows from the top, exactly as
    // drawn; and the file it came from.
    Ombrix::Data<unsigned char> m_pixels;
    wxString m_path;
    // The chosen picture as rendered when it was chosen (and captured into m_pixels); none
    // when the last file chosen could not be decoded. Repaints draw it without reading the
    // file again: a large photo takes a second to decode.
    wxBitmap m_shown;
};
