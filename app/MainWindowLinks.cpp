// The main window's icon, its three link buttons and the About item.
#include <wx/menu.h>

#include "app/CAboutDlg.h"
#include "app/CferrocaskDlg.h"
#include "app/WebAddress.h"
#include "platform/DesktopOpen.h"
#include "resources/AppIcon.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

namespace {

constexpr char kHelpFile[] = "help.txt";

}  // namespace

void CferrocaskDlg::SetUpWindowExtras() {
    // Every size of the icon: the window manager picks the title bar's and the task bar's.
    SetIcons(AppIcons());

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnHelpLink(); }, ids::kHelpLink);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnWebLink(); }, ids::kFaceLink);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnWebLink(); }, ids::kSiteLink);

    // GTK gives a program no window menu of its own to add the About item to; a right click
    // on the window's free area opens a menu with it instead.
    Bind(wxEVT_CONTEXT_MENU, &CferrocaskDlg::OnContextMenu, this);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent& event) { OnSysCommand(event.GetId()); }, kAboutCommand);
    // Nothing to draw while minimised: the window manager shows the icon itself.
}

std::unique_ptr<wxMenu> CferrocaskDlg::CreateAboutMenu() {
    auto menu = std::make_unique<wxMenu>();
    menu->AppendSeparator();
    // The widget library turns the '&' mnemonic marker into GTK's '_'.
    menu->Append(kAboutCommand, wxString::FromUTF8(texts::kAboutMenuItem));
    return menu;
}

void CferrocaskDlg::OnContextMenu(wxContextMenuEvent&) {
    std::unique_ptr<wxMenu> menu = CreateAboutMenu();
    PopupMenu(menu.get());
}

bool CferrocaskDlg::OnSysCommand(int id) {
    if ((id & ~0xF) != kAboutCommand) {
        return false;
    }
    CAboutDlg about(this);
    about.ShowModal();
    return true;
}

void CferrocaskDlg::OnHelpLink() {
    platform::OpenWithDesktop(kHelpFile);
}

void CferrocaskDlg::OnWebLink() {
    platform::OpenWithDesktop(WebLinkAddress());
}
