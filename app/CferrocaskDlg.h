// The main window: a fixed-size dialog whose upper part shows one panel of the vault
// dialogue at a time and whose bottom strip keeps three link buttons in view. It owns the
// vault store and runs the vault dialogue's state machine, one step per panel answer.
#pragma once

#include <memory>
#include <string>

#include <wx/dialog.h>

#include "dialogs/DiaImage.h"
#include "dialogs/DiaList.h"
#include "dialogs/DiaPassName.h"
#include "dialogs/DiaPassword.h"
#include "dialogs/DiaSelimg.h"
#include "dialogs/VaultDialogHost.h"
#include "framework/SecretString.h"

struct PasswordEntry;
class wxContextMenuEvent;
class wxMenu;

class CferrocaskDlg : public wxDialog, public VaultDialogHost {
public:
    // The height of the strip at the bottom of the client area that no panel covers.
    static constexpr int kLinkStripHeight = 100;

    // The vault lives in programDirectory (with a trailing '/'); by default the directory of
    // the running program.
    explicit CferrocaskDlg(std::string programDirectory = DefaultProgramDirectory());
    ~CferrocaskDlg() override;

    // Creates the window from its template: caption, client size, the group box and the
    // three link buttons. Hidden until shown or run modally.
    bool Create(wxWindow* parent = nullptr);

    // Creates the five panels over the client area and takes the first step of the vault
    // dialogue. Runs once, when the window is first shown (modally or not).
    void InitialiseVaultDialogue();
    bool Show(bool show = true) override;

    // One step of the vault dialogue for the current m_state.
    void OnVaultStep() override;

    // Takes the data from the controls and closes the window with the OK result.
    void OnOK() override;

    // The part of the client area that the panels cover.
    wxRect PanelArea() const;

    static std::string DefaultProgramDirectory();

    // The command of the About item.
    static constexpr int kAboutCommand = 16;
    // The menu that a right click on the window's free area opens: a separator, then the
    // About item.
    static std::unique_ptr<wxMenu> CreateAboutMenu();
    // A command of that menu: the About item (any id whose bits above the lowest four make
    // kAboutCommand) shows the About box modally; true when it did.
    bool OnSysCommand(int id);

    // The link buttons: the help file "help.txt" in the current directory, and the web page.
    void OnHelpLink();
    void OnWebLink();

    DiaPassword m_dlgPassword;
    DiaSelimg m_dlgSelimg;
    DiaImage m_dlgImage;
    DiaList m_dlgList;
    DiaPassName m_dlgPassName;
    Ombrix::SecretString m_firstEntry;   // first typing of a new password
    Ombrix::SecretString m_secondEntry;  // its confirmation

private:
    // The window icon, the link buttons and the About menu.
    void SetUpWindowExtras();
    void OnContextMenu(wxContextMenuEvent& event);

    // The steps, by state.
    void StepStart();
    void StepOpenVault();
    void StepNewMasterFirst();
    void StepNewMasterConfirm();
    void StepChoosePicture();
    void StepPictureCheck();
    void StepAddPressed();
    void StepNameSubmitted();
    void StepNewEntryFirst();
    void StepNewEntryConfirm();
    void StepModifyFirst();
    void StepModifyConfirm();
    void StepActionAsked(const char* prompt);
    void StepMasterForAction();

    // Asks for a password on the soft keyboard: prompt, empty typed text, panel shown.
    void AskForPassword(const char* prompt);
    // Only changes the prompt (the panel stays as it is) and forgets the entered text.
    void RePrompt(const char* prompt);
    // Keeps the entered text as the first typing and asks for the confirmation.
    void TakeFirstTyping(const char* confirmPrompt);
    // The message that rejects a new master or entry password, or null when accepted.
    // Both forget the two typings either way.
    const char* CheckNewMasterPassword();
    const char* CheckNewEntryPassword();
    void ShowRefreshedList();
    void Say(const char* message);
    // The vault file cannot be read: says so, naming the file.
    void SayVaultFileUnreadable();
    void CopyPasswordToClipboard(const PasswordEntry& entry);

    bool m_initialised = false;
};
