// The vault dialogue: whether the vault is set up or opened, the master password and its
// picture check, and every list action (add, modify, delete, copy, change of the master
// password). It keeps the state, the typed secrets and the vault store, takes the panels'
// answers as events and acts on the vault and on a view; it knows nothing of widgets.
//
// One answer runs one step: the step of the state the dialogue is in (after the answer may
// have set the state, as the list buttons and the name panel do). The steps and the states
// they may lead to are the table in VaultDialogue.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/VaultDialogueView.h"
#include "dialogs/VaultDialogueEvents.h"
#include "framework/Data.h"
#include "framework/SecretString.h"
#include "vault/VaultStore.h"

// The states, by the numbers they have always had (11 is not used).
enum class VaultState : int32_t {
    kStart = 0,
    kOpenVault = 1,           // the master password was typed to open the vault
    kNewMasterFirst = 2,      // first typing of a new master password
    kNewMasterConfirm = 3,    // its confirmation
    kChoosePicture = 4,       // a picture was chosen for the new master password
    kPictureCheck = 5,        // the picture check was answered
    kList = 6,                // the list waits for a button
    kAddPressed = 7,          // "增加密码"
    kNameSubmitted = 8,       // the new password's name was typed
    kNewEntryFirst = 9,       // first typing of the new password
    kNewEntryConfirm = 10,    // its confirmation
    kModifyFirst = 12,        // first typing of the selected password's new text
    kModifyConfirm = 13,      // its confirmation
    kChangeMasterAsked = 14,  // "修改保险柜密码"
    kListActionAsked = 15,    // modify, delete or copy
    kMasterForAction = 16,    // the master password was typed for a list action
};

// The list action waiting for the master password. It stays after the action: a failed
// change of the master password starts over as a change, not as a first set-up.
enum class ListAction : int32_t {
    kNone = 0,  // first set-up of the vault
    kChangeMasterPassword = 1,
    kModifySelected = 2,
    kDeleteSelected = 3,
    kCopySelected = 4,
};

class VaultDialogue final : public VaultDialogueEvents {
public:
    // The vault lives in programDirectory (ending in '/').
    VaultDialogue(VaultDialogueView& view, std::string programDirectory);
    ~VaultDialogue();
    VaultDialogue(const VaultDialogue&) = delete;
    VaultDialogue& operator=(const VaultDialogue&) = delete;

    // The first step: looks at the vault file and asks for the password that opens or sets
    // it up.
    void Start();

    void OnPasswordTyped(Ombrix::SecretString text) override;
    void OnPictureChecked(bool seen) override;
    void OnPictureChosen(const Ombrix::Data<unsigned char>& pixels) override;
    void OnNameTyped(std::string name) override;
    void OnListButton(ListButton button) override;
    bool ReadEntry(const std::string& name, PasswordEntry& entry) override;

    VaultState State() const { return m_state; }
    ListAction PendingAction() const { return m_listAction; }

private:
    // The panel the dialogue last showed: only its answers are taken.
    enum class Panel { kNone, kPassword, kPictureChoice, kPictureCheck, kList, kName };

    // One row of the table of states: the step that an answer runs in that state, and the
    // states (a bit for each number) that the step may lead to.
    struct Row {
        VaultState state;
        VaultState (VaultDialogue::*step)();
        uint32_t next;
    };
    static const Row kSteps[];

    // Runs the step of the current state and moves to the state it returns.
    void RunStep();
    bool Showing(Panel panel) const { return m_shown == panel; }

    // The steps, in the order of the states.
    VaultState OpenOrSetUp();
    VaultState ShowPictureOfTypedPassword();
    VaultState KeepFirstMasterTyping();
    VaultState CheckNewMasterPassword();
    VaultState SetMasterPasswordWithPicture();
    VaultState TakePictureAnswer();
    VaultState WaitForListButton();
    VaultState AskForNewName();
    VaultState AskForNewEntryPassword();
    VaultState KeepFirstEntryTyping();
    VaultState AddNewEntry();
    VaultState KeepFirstModifyTyping();
    VaultState ModifySelectedEntry();
    VaultState AskForOldMasterPassword();
    VaultState AskForMasterPassword();
    VaultState RunPendingAction();

    // The view calls that show a panel, noting which one is shown.
    void AskForPassword(const char* prompt);
    void ShowList(bool reread);
    // The list as stored, name by name.
    std::vector<std::string> StoredNames();

    // The message that rejects the two typings of a new master or list password, or null
    // when they are accepted. Both typings are forgotten either way.
    const char* MasterPasswordBreach();
    const char* EntryPasswordBreach();
    // Takes the entered text as the confirmation of the first typing. When rule rejects the
    // two, says why and asks again for a first typing with retryPrompt; true when accepted.
    bool ConfirmTyping(const char* (VaultDialogue::*rule)(), const char* retryPrompt);
    // After a change of the list: the list as stored, and the message when the change could
    // not be written.
    void ShowListAfterChange(bool saved);
    // Keeps the entered text as the first typing and asks for the confirmation.
    void KeepFirstTyping(const char* confirmPrompt);
    void DeleteSelected();
    void CopySelected();

    VaultDialogueView& m_view;
    VaultStore m_vault;
    const std::string m_programDirectory;

    VaultState m_state = VaultState::kStart;
    ListAction m_listAction = ListAction::kNone;
    Panel m_shown = Panel::kNone;

    Ombrix::SecretString m_enteredPassword;  // last text typed on the soft keyboard
    Ombrix::SecretString m_firstEntry;       // first typing of a new password
    Ombrix::SecretString m_secondEntry;      // its confirmation
    Ombrix::SecretString m_masterPassword;   // of the open vault; empty until opened or set
    bool m_pictureSeen = false;              // last answer on a picture panel
    std::string m_enteredName;               // last name typed, GB18030 bytes
    Ombrix::Data<unsigned char> m_chosenPicture;
};
