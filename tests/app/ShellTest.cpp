// The main window's shell around the vault dialogue: the link buttons, the new-version box,
// the About box (offered by the pop-up menu of the free area and by the About command
// only) and the window's icons.
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include "app/CAboutDlg.h"
#include "app/DialogueTestSupport.h"
#include "platform/DetachedMessage.h"
#include "resources/DialogTemplates.h"

namespace {

const std::string kWeb = FERROCASK_WEB_ADDRESS "\n";

// A PATH holding only, once installed, a fake "xdg-open" that logs its argument.
class FakeOpener {
public:
    FakeOpener() { ::setenv("PATH", m_bin.Path().c_str(), 1); }
    ~FakeOpener() { ::setenv("PATH", m_path.c_str(), 1); }
    void Install() {
        testsupport::WriteFile(m_bin.File("xdg-open"),
                               "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + m_log + "'\n");
        ::chmod(m_bin.File("xdg-open").c_str(), 0755);
    }
    std::string Opened() const {
        return testsupport::FileExists(m_log) ? testsupport::ReadFile(m_log) : "";
    }
    bool WaitForOpened(long count) {
        return guitest::PumpUntil(
            [&] {
                const std::string log = Opened();
                return std::count(log.begin(), log.end(), '\n') >= count;
            },
            8000);
    }

private:
    testsupport::TempDir m_bin;
    const std::string m_log = m_bin.File("opened.txt"), m_path = std::getenv("PATH");
};

using LinksTest = dialoguetest::DialogueTest;

TEST_F(LinksTest, WebButtonsOpenTheAddressAndHelpTheHelpFileInEveryStateIfThereIsAHandler) {
    FakeOpener opener;
    Start();
    const VaultState state = dlg->Dialogue().State();
    for (int id : {ids::kFaceLink, ids::kSiteLink, ids::kHelpLink}) {
        Click(id);  // no handler: nothing happens
    }
    guitest::Pump(200);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(dlg->Dialogue().State(), state);

    opener.Install();
    long opened = 0;
    for (int id : {ids::kFaceLink, ids::kSiteLink, ids::kHelpLink}) {
        Click(id);
        ASSERT_TRUE(opener.WaitForOpened(++opened));
    }
    // Further on in the dialogue, with the picture choice shown, they still work.
    TypeTwice("abcd1234");
    ASSERT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    Click(ids::kHelpLink);
    Click(ids::kSiteLink);
    ASSERT_TRUE(opener.WaitForOpened(5));
    EXPECT_EQ(opener.Opened(), kWeb + kWeb + "help.txt\nhelp.txt\n" + kWeb);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    EXPECT_TRUE(boxes.Take().empty());
    // Every handler that ended has been reaped (looked for without reaping it here).
    EXPECT_TRUE(guitest::PumpUntil([] {
        siginfo_t info{};
        return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0;
    }));
}

// The new-version box is no child of the main window and keeps it usable, also while the
// main window runs modally (as it does in the program) and holds GTK's input grab.
TEST_F(LinksTest, DetachedMessageLeavesTheModalMainWindowUsable) {
    FakeOpener opener;
    opener.Install();
    platform::SetMessageBoxHook({});  // a real box this time
    const wxString text = wxString::FromUTF8("有新的版本 https://x.test/?a=1&b=2");
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    dlg->Move(60, 60);
    bool closed = false;
    dlg->CallAfter([&] {
        guitest::Pump(300);
        platform::ShowDetachedMessage(text, "ferrocask", [&] { closed = true; });
        wxDialog* box = nullptr;
        guitest::PumpUntil([&] {
            for (wxWindow* window : wxTopLevelWindows) {
                box = window != dlg && window->IsShown() ? dynamic_cast<wxDialog*>(window) : box;
            }
            return box != nullptr;
        });
        guitest::Pump(300);
        if (box != nullptr) {
            bool textShown = false;  // as given, "&" included
            for (wxWindow* child : box->GetChildren()) {
                auto* label = dynamic_cast<wxStaticText*>(child);
                textShown |= label != nullptr && label->GetLabelText() == text;
            }
            EXPECT_TRUE(textShown);
            // The main window still takes a click while the box is up, and so does the box.
            Click(ids::kHelpLink);
            EXPECT_TRUE(opener.WaitForOpened(1));
            box->Move(700, 500);
            guitest::Pump(200);
            guitest::ClickCentre(box, box->FindWindow(wxID_OK)->GetRect());
            guitest::PumpUntil([&] { return closed; });
        }
        dlg->EndModal(wxID_CANCEL);
    });
    dlg->ShowModal();
    EXPECT_TRUE(closed);
    EXPECT_EQ(opener.Opened(), "help.txt\n");
}

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
