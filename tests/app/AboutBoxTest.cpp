// The About box: offered by the pop-up menu of the main window's free area and by the
// About command only; and the main window's icons.
#include <gtk/gtk.h>

#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include "app/CAboutDlg.h"
#include "app/DialogueTestSupport.h"
#include "platform/DialogUnits.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

using namespace dialoguetest;

namespace {

CAboutDlg* ShownAboutBox() {
    for (wxWindow* window : wxTopLevelWindows) {
        if (auto* about = dynamic_cast<CAboutDlg*>(window); about != nullptr && about->IsShown()) {
            return about;
        }
    }
    return nullptr;
}

// Plays the user's part from timers, since a pop-up menu and the About box each run a
// loop of their own: once a pop-up menu holds the input grab, chooses its first item that
// can be chosen (the About item, after a separator); once the About box is up, looks at it
// and closes it with its OK button. Gives up after limitMs, closing any menu with Escape.
// Two timers: the key press that chooses the item runs the box's loop inside the first
// timer's call, and a timer is not called again from within its own call.
class AboutUser {
public:
    explicit AboutUser(int limitMs) : m_limitMs(limitMs) {
        m_menuTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { MenuTick(); });
        m_menuTimer.Start(100);
        m_boxTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            if (CAboutDlg* about = ShownAboutBox(); about != nullptr) {
                m_boxTimer.Stop();
                InspectAndClose(about);
            }
        });
        m_boxTimer.Start(100);
    }
    bool Done() const { return shown && ShownAboutBox() == nullptr; }

    bool choseFromMenu = false, shown = false, iconOk = false;
    std::string caption, okLabel;
    std::vector<std::string> texts;
    wxRect iconRect;

private:
    void MenuTick() {
        m_waitedMs += 100;
        GtkWidget* grab = gtk_grab_get_current();
        const bool menuUp = grab != nullptr && GTK_IS_MENU(grab);
        wxUIActionSimulator keys;
        if (menuUp && m_waitedMs >= 300) {
            m_menuTimer.Stop();
            choseFromMenu = true;
            keys.Char(WXK_DOWN);
            keys.Char(WXK_RETURN);
        } else if (m_waitedMs >= m_limitMs || shown) {
            m_menuTimer.Stop();
            m_boxTimer.Stop();
            if (menuUp) {
                keys.Char(WXK_ESCAPE);
            }
        }
    }
    void InspectAndClose(CAboutDlg* about) {
        guitest::Pump(200);
        shown = true;
        caption = about->GetTitle().utf8_str();
        for (wxWindow* child : about->GetChildren()) {
            if (auto* text = dynamic_cast<wxStaticText*>(child)) {
                texts.emplace_back(text->GetLabel().utf8_str());
            }
            if (auto* icon = dynamic_cast<wxStaticBitmap*>(child)) {
                iconRect = icon->GetRect();
                iconOk = icon->GetBitmap().IsOk();
            }
        }
        guitest::SaveScreenshot(about, "about-box");
        if (wxWindow* ok = about->FindWindow(ids::kOk)) {
            okLabel = ok->GetLabel().utf8_str();
            const wxRect rect = ok->GetRect();
            guitest::ClickAt(about, rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
        }
    }

    wxTimer m_menuTimer, m_boxTimer;
    int m_limitMs;
    int m_waitedMs = 0;
};

class AboutBoxTest : public DialogueTest {};

TEST_F(AboutBoxTest, RightClickOnTheFreeAreaOffersTheAboutBox) {
    std::unique_ptr<wxMenu> menu = CferrocaskDlg::CreateAboutMenu();
    ASSERT_EQ(menu->GetMenuItemCount(), 2u);
    EXPECT_TRUE(menu->FindItemByPosition(0)->IsSeparator());
    const wxMenuItem* item = menu->FindItemByPosition(1);
    EXPECT_EQ(item->GetId(), CferrocaskDlg::kAboutCommand);
    // The '&' marks the mnemonic, which GTK underlines instead of showing.
    EXPECT_EQ(std::string(item->GetItemLabel().utf8_str()), texts::kAboutMenuItem);
    EXPECT_EQ(std::string(item->GetItemLabelText().utf8_str()), "关于 ferrocask(A)...");

    Start();
    AboutUser user(8000);
    // Below the buttons, inside the group box: no control of its own takes the click.
    guitest::MoveMouse(dlg, wxPoint(4, dlg->GetClientSize().GetHeight() - 4));
    wxUIActionSimulator().MouseClick(wxMOUSE_BTN_RIGHT);
    guitest::PumpUntil([&] { return user.Done(); }, 12000);
    ASSERT_TRUE(user.choseFromMenu) << "no pop-up menu came up";
    ASSERT_TRUE(user.shown);
    EXPECT_EQ(user.caption, "关于 ferrocask");
    EXPECT_EQ(user.texts, std::vector<std::string>{"ferrocask 1.0 版"});
    EXPECT_EQ(user.okLabel, "确定");
    EXPECT_TRUE(user.iconOk);
    const int icon = platform::DialogUnitsToPixels(20);
    EXPECT_EQ(user.iconRect, wxRect(platform::DialogUnitsToPixels(11),
                                    platform::DialogUnitsToPixels(17), icon, icon));
    EXPECT_EQ(ShownAboutBox(), nullptr);
    EXPECT_TRUE(dlg->IsShown());
}

TEST_F(AboutBoxTest, OnlyTheAboutCommandShowsTheBoxAndTheWindowCarriesItsIcons) {
    Start();
    EXPECT_FALSE(dlg->OnSysCommand(0xF060));  // the window manager's close command
    EXPECT_FALSE(dlg->OnSysCommand(0));
    EXPECT_EQ(ShownAboutBox(), nullptr);
    // The lowest four bits do not count.
    AboutUser user(8000);
    EXPECT_TRUE(dlg->OnSysCommand(CferrocaskDlg::kAboutCommand | 0x5));
    EXPECT_TRUE(user.shown);
    EXPECT_TRUE(dlg->IsShown());

    const wxIconBundle& icons = dlg->GetIcons();
    EXPECT_GE(icons.GetIconCount(), 4u);
    for (int side : {16, 32, 48}) {
        EXPECT_TRUE(icons.GetIconOfExactSize(wxSize(side, side)).IsOk()) << side;
    }
}

}  // namespace
