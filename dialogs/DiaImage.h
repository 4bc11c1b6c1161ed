// The picture check: shows the picture that the typed master password decrypts, and asks
// whether it is the one the user chose ("看到") or not ("没看到").
#pragma once

#include <wx/string.h>

#include "dialogs/VaultDialogueEvents.h"
#include "framework/Data.h"
#include "platform/ChildDialog.h"

class wxPaintEvent;

class DiaImage : public platform::ChildDialog {
public:
    explicit DiaImage(VaultDialogueEvents& events);

    bool Create(wxWindow* parent);

    // Shows prompt and the picture: width by height pixels of three bytes, blue, green,
    // red, rows from the top. No pixels: nothing is drawn.
    void ShowPicture(const wxString& prompt, const unsigned char* pixels, int width, int height);

    // The answers, handed to the vault dialogue.
    void OnSeen();
    void OnNotSeen();

private:
    void OnPaint(wxPaintEvent& event);

    VaultDialogueEvents& m_events;
    int m_width = 0;
    int m_height = 0;
    Ombrix::Data<unsigned char> m_pixels;
};
