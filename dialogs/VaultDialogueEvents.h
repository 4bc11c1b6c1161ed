// What the panels tell the vault dialogue: each answer of the user, typed, and the one read
// the list panel makes of the open vault (the password shown while the hold area is held).
// Free of the widget library, so that the dialogue behind it can run without a display.
#pragma once

#include <string>

#include "framework/Data.h"
#include "framework/SecretString.h"

struct PasswordEntry;

// The list panel's buttons that the dialogue acts on ("清除粘贴板" stays with the panel).
enum class ListButton {
    kAdd,
    kModify,
    kDelete,
    kCopy,
    kChangeMasterPassword,
    kExit,
};

class VaultDialogueEvents {
public:
    // The password panel's OK, with the text typed on the soft keyboard (may be empty).
    virtual void OnPasswordTyped(Ombrix::SecretString text) = 0;
    // The picture check: "看到" (seen) or "没看到".
    virtual void OnPictureChecked(bool seen) = 0;
    // The picture selection's "看到图片" with a usable picture: its 128 by 128 pixel block.
    virtual void OnPictureChosen(const Ombrix::Data<unsigned char>& pixels) = 0;
    // The name panel's OK, with the name as GB18030 bytes.
    virtual void OnNameTyped(std::string name) = 0;
    virtual void OnListButton(ListButton button) = 0;

    // The stored entry of that name in the open vault; false when there is none.
    virtual bool ReadEntry(const std::string& name, PasswordEntry& entry) = 0;

protected:
    ~VaultDialogueEvents() = default;
};
