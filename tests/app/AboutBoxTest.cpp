// The About box: offered by the pop-up menu of the main window's free area and by the
// About command only; and the main window's icons.
#include <gtk/gtk.h>

#include <wx/menu.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include "app/CAboutDlg.h"
#include "app/DialogueTestSupport.h"
#include "resources/DialogTemplates.h"

namespace {

CAboutDlg* ShownAboutBox() {
    for (wxWindow* window : wxTopLevelWindows) {
        if (auto* about = dynamic_cast<CAboutDlg*>(window); about != nullptr && about->IsShown()) {
            return about;
        }
    }
    return nullptr;
}

// Plays the user's part from timers, since a pop-up menu and the About box each run a loop
// of their own: once a pop-up menu holds the input grab, chooses its first item that can be
// chosen; once the About box is up, closes it with its OK button. Gives up after 8 s,
// closing any menu. Two timers: the key press that chooses the item runs the box's loop
// inside the first timer's call, which is not called again meanwhile.
struct AboutUser {
    AboutUser() {
        menuTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            waitedMs += 100;
            GtkWidget* grab = gtk_grab_get_current();
            const bool menuUp = grab != nullptr && GTK_IS_MENU(grab);
            if (menuUp && waitedMs >= 300) {
                menuTimer.Stop();
                choseFromMenu = true;
                wxUIActionSimulator().Char(WXK_DOWN);
                wxUIActionSimulator().Char(WXK_RETURN);
            } else if (waitedMs >= 8000 || shown) {
                menuTimer.Stop();
                boxTimer.Stop();
                if (menuUp) {
                    wxUIActionSimulator().Char(WXK_ESCAPE);
                }
            }
        });
        boxTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            if (CAboutDlg* about = ShownAboutBox(); about != nullptr) {
                boxTimer.Stop();
                guitest::Pump(200);
                shown = true;
                guitest::SaveScreenshot(about, "about-box");
                guitest::ClickCentre(about, about->FindWindow(ids::kOk)->GetRect());
            }
        });
        menuTimer.Start(100);
        boxTimer.Start(100);
    }

    wxTimer menuTimer, boxTimer;
    int waitedMs = 0;
    bool choseFromMenu = false, shown = false;
};

using AboutBoxTest = dialoguetest::DialogueTest;

TEST_F(AboutBoxTest, RightClickOnTheFreeAreaOffersTheAboutBoxAfterASeparator) {
    std::unique_ptr<wxMenu> menu = CferrocaskDlg::CreateAboutMenu();
    ASSERT_EQ(menu->GetMenuItemCount(), 2u);
    EXPECT_TRUE(menu->FindItemByPosition(0)->IsSeparator());
    EXPECT_EQ(menu->FindItemByPosition(1)->GetId(), CferrocaskDlg::kAboutCommand);

    Start();
    AboutUser user;
    // Below the buttons, inside the group box: no control of its own takes the click.
    guitest::MoveMouse(dlg, wxPoint(4, dlg->GetClientSize().GetHeight() - 4));
    wxUIActionSimulator().MouseClick(wxMOUSE_BTN_RIGHT);
    guitest::PumpUntil([&] { return user.shown && ShownAboutBox() == nullptr; }, 12000);
    ASSERT_TRUE(user.choseFromMenu) << "no pop-up menu came up";
    EXPECT_TRUE(user.shown);
    EXPECT_EQ(ShownAboutBox(), nullptr);
    EXPECT_TRUE(dlg->IsShown());
}

TEST_F(AboutBoxTest, OnlyTheAboutCommandShowsTheBoxAndTheWindowCarriesItsIcons) {
    Start();
    EXPECT_FALSE(dlg->OnSysCommand(0xF060));  // the window manager's close command
    EXPECT_FALSE(dlg->OnSysCommand(0));
    EXPECT_EQ(ShownAboutBox(), nullptr);
    AboutUser user;
    EXPECT_TRUE(dlg->OnSysCommand(CferrocaskDlg::kAboutCommand | 0x5));  // low four bits ignored
    EXPECT_TRUE(user.shown);
    EXPECT_TRUE(dlg->IsShown());
    for (int side : {16, 32, 48}) {
        EXPECT_TRUE(dlg->GetIcons().GetIconOfExactSize(wxSize(side, side)).IsOk()) << side;
    }
}

}  // namespace
