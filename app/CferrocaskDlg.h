// The main window: a fixed-size dialog whose upper part shows one panel of the vault
// dialogue at a time and whose bottom strip keeps three link buttons in view. It owns the
// vault dialogue, whose panels it shows as the dialogue asks.
#pragma once

#include <memory>
#include <string>

#include <wx/dialog.h>

#include "app/VaultDialogue.h"
#include "dialogs/DiaImage.h"
#include "dialogs/DiaList.h"
#include "dialogs/DiaPassName.h"
#include "dialogs/DiaPassword.h"
#include "dialogs/DiaSelimg.h"

class wxContextMenuEvent;
class wxMenu;

class CferrocaskDlg : public wxDialog, private VaultDialogueView {
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

    // Creates the five panels over the client area and starts the vault dialogue. Runs once,
    // when the window is first shown (modally or not).
    void InitialiseVaultDialogue();
    bool Show(bool show = true) override;

    // Takes the data from the controls and closes the window with the OK result.
    void OnOK();

    const VaultDialogue& Dialogue() const { return m_dialogue; }

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

private:
    VaultDialogue m_dialogue;  // before the panels, which hand it their answers

public:
    DiaPassword m_dlgPassword;
    DiaSelimg m_dlgSelimg;
    DiaImage m_dlgImage;
    DiaList m_dlgList;
    DiaPassName m_dlgPassName;

private:
    // The window icon, the link buttons and the About menu.
    void SetUpWindowExtras();
    void OnContextMenu(wxContextMenuEvent& event);

    // What the vault dialogue asks of the window.
    void AskForPassword(const char* prompt) override;
    void PromptAgain(const char* prompt) override;
    void ShowPictureCheck(const char* prompt, const unsigned char* pixels, int width,
                          int height) override;
    void AskForPicture(const char* prompt) override;
    void ShowList(const std::vector<std::string>* names) override;
    void AskForName() override;
    std::optional<std::string> SelectedName() const override;
    void Say(const std::string& text) override;
    void SayAboutFile(const char* text, const std::string& path) override;
    bool AskOkCancel(const char* question) override;
    void PutOnClipboard(std::string_view password) override;
    void EndNow() override;
    void EndOnceShown() override;

    // Shows panel and hides the others.
    void ShowOnly(wxWindow* panel);

    bool m_initialised = false;
};
