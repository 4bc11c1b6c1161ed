// What the panels know of the window that hosts them: the members through which they hand
// over what the user typed, chose or asked for, the vault they may read, and the step of
// the vault dialogue that they call after every answer. The main window implements it.
#pragma once

#include <memory>
#include <string>

#include "framework/SecretString.h"
#include "vault/VaultStore.h"

// Pending list actions, as the list panel records them in m_listAction.
enum ListAction : int {
    kNoListAction = 0,  // first set-up of the vault
    kChangeMasterPassword = 1,
    kModifySelected = 2,
    kDeleteSelected = 3,
    kCopySelected = 4,
};

// The states of the vault dialogue: what the next call of OnVaultStep acts on.
enum VaultState : int {
    kStateStart = 0,
    kStateOpenVault = 1,           // the master password was typed to open the vault
    kStateNewMasterFirst = 2,      // first typing of a new master password
    kStateNewMasterConfirm = 3,    // its confirmation
    kStateChoosePicture = 4,       // a picture was chosen for the new master password
    kStatePictureCheck = 5,        // the picture check was answered
    kStateList = 6,                // the list is shown; list buttons set the state
    kStateAddPressed = 7,          // "增加密码"
    kStateNameSubmitted = 8,       // the new password's name was typed
    kStateNewEntryFirst = 9,       // first typing of the new password
    kStateNewEntryConfirm = 10,    // its confirmation
    kStateModifyFirst = 12,        // first typing of the selected password's new text
    kStateModifyConfirm = 13,      // its confirmation
    kStateChangeMasterAsked = 14,  // "修改保险柜密码"
    kStateListActionAsked = 15,    // modify, delete or copy
    kStateMasterForAction = 16,    // the master password was typed for a list action
};

class VaultDialogHost {
public:
    explicit VaultDialogHost(std::string programDirectory);
    virtual ~VaultDialogHost();
    VaultDialogHost(const VaultDialogHost&) = delete;
    VaultDialogHost& operator=(const VaultDialogHost&) = delete;

    // Runs one step of the vault dialogue for the current m_state.
    virtual void OnVaultStep() = 0;

    // The host window's OK action: takes its data from the controls and closes it.
    virtual void OnOK() = 0;

    int m_state = 0;
    Ombrix::SecretString m_enteredPassword;  // last text submitted on the soft keyboard
    bool m_pictureSeen = false;              // last answer on a picture panel
    std::string m_enteredName;               // last name submitted, GB18030 bytes
    int m_listAction = kNoListAction;
    Ombrix::SecretString m_masterPassword;  // of the open vault; empty until opened or set
    std::unique_ptr<VaultStore> m_vault;
    const std::string m_programDirectory;  // where the vault file lives, ends in '/'
};
