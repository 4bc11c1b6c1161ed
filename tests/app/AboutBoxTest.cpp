#include <functional>

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

// Runs work once after ms, also inside the nested loops of a pop-up menu or a modal box.
class Later {
public:
    Later(int ms, std::function<void()> work) : m_work(std::move(work)) {
        m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { m_work(); });
        m_timer.StartOnce(ms);
    }

private:
    std::function<void()> m_work;
    wxTimer m_timer;
};

// Presses keys only once a pop-up menu is up and holds the input grab; gives up (closing
// any menu with Escape) after limitMs, so that a menu never stays up for good.
class MenuChooser {
public:
    explicit MenuChooser(int limitMs) : m_limitMs(limitMs) {
        m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
        m_timer.Start(100);
    }
    bool Chose() const { return m_chose; }

private:
    void Tick() {
        m_waitedMs += 100;
        GtkWidget* grab = gtk_grab_get_current();
        const bool menuUp = grab != nullptr && GTK_IS_MENU(grab);
        wxUIActionSimulator keys;
        if (menuUp && m_waitedMs >= 300) {
            // The first item that can be chosen is the About item (a separator comes first).
            keys.Char(WXK_DOWN);
            keys.Char(WXK_RETURN);
            m_chose = true;
            m_timer.Stop();
        } else if (m_waitedMs >= m_limitMs) {
            if (menuUp) {
                keys.Char(WXK_ESCAPE);
            }
            m_timer.Stop();
        }
    }

    wxTimer m_timer;
    int m_limitMs;
    int m_waitedMs = 0;
    bool m_chose = false;
};

CAboutDlg* ShownAboutBox() {
    for (wxWindow* window : wxTopLevelWindows) {
        if (auto* about = dynamic_cast<CAboutDlg*>(window); about != nullptr && about->IsShown()) {
            return about;
        }
    }
    return nullptr;
}

struct AboutSeen {
    bool shown = false;
    std::string caption;
    std::vector<std::string> texts;
    std::string okLabel;
    wxRect iconRect;
    bool iconOk = false;
};

// Looks at the About box once it is up and closes it with its OK button.
AboutSeen InspectAndClose() {
    AboutSeen seen;
    CAboutDlg* about = nullptr;
    guitest::PumpUntil([&] { return (about = ShownAboutBox()) != nullptr; }, 5000);
    if (about == nullptr) {
        return seen;
    }
    guitest::Pump(200);
    seen.shown = true;
    seen.caption = about->GetTitle().utf8_str();
    for (wxWindow* child : about->GetChildren()) {
        if (auto* text = dynamic_cast<wxStaticText*>(child)) {
            seen.texts.emplace_back(text->GetLabel().utf8_str());
        }
        if (auto* icon = dynamic_cast<wxStaticBitmap*>(child)) {
            seen.iconRect = icon->GetRect();
            seen.iconOk = icon->GetBitmap().IsOk();
        }
    }
    guitest::SaveScreenshot(about, "about-box");
    if (wxWindow* ok = about->FindWindow(ids::kOk)) {
        seen.okLabel = ok->GetLabel().utf8_str();
        const wxRect rect = ok->GetRect();
        guitest::ClickAt(about, rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
    }
    return seen;
}

class AboutBoxTest : public DialogueTest {};

TEST(AboutMenuTest, OffersTheAboutItemAfterASeparator) {
    std::unique_ptr<wxMenu> menu = CferrocaskDlg::CreateAboutMenu();
    ASSERT_EQ(menu->GetMenuItemCount(), 2u);
    EXPECT_TRUE(menu->FindItemByPosition(0)->IsSeparator());
    const wxMenuItem* item = menu->FindItemByPosition(1);
    EXPECT_EQ(item->GetId(), CferrocaskDlg::kAboutCommand);
    // The '&' marks the mnemonic, which GTK underlines instead of showing.
    EXPECT_EQ(std::string(item->GetItemLabel().utf8_str()), texts::kAboutMenuItem);
    EXPECT_EQ(std::string(item->GetItemLabelText().utf8_str()), "关于 ferrocask(A)...");
}

TEST_F(AboutBoxTest, RightClickOnTheFreeAreaOffersTheAboutBox) {
    Start();
    // Below the buttons, inside the group box: no control of its own takes the click.
    const wxPoint freeSpot(4, dlg->GetClientSize().GetHeight() - 4);
    AboutSeen seen;
    // The menu and then the box each run a loop of their own: the steps inside them run
    // from timers.
    MenuChooser choose(8000);
    std::unique_ptr<wxTimer> inspect;
    Later watch(100, [&] {
        // Once the box is up (inside the About item's modal loop), look at it and close it.
        inspect = std::make_unique<wxTimer>();
        inspect->Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            if (ShownAboutBox() != nullptr && !seen.shown) {
                inspect->Stop();
                seen = InspectAndClose();
            }
        });
        inspect->Start(100);
    });
    guitest::MoveMouse(dlg, freeSpot);
    wxUIActionSimulator().MouseClick(wxMOUSE_BTN_RIGHT);
    guitest::PumpUntil([&] { return seen.shown && ShownAboutBox() == nullptr; }, 12000);
    if (inspect) {
        inspect->Stop();
    }

    ASSERT_TRUE(choose.Chose()) << "no pop-up menu came up";
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.caption, "关于 ferrocask");
    EXPECT_EQ(seen.texts, std::vector<std::string>{"ferrocask 1.0 版"});
    EXPECT_EQ(seen.okLabel, "确定");
    EXPECT_TRUE(seen.iconOk);
    EXPECT_EQ(seen.iconRect,
              wxRect(platform::DialogUnitsToPixels(11), platform::DialogUnitsToPixels(17),
                     platform::DialogUnitsToPixels(20), platform::DialogUnitsToPixels(20)));
    EXPECT_EQ(ShownAboutBox(), nullptr);
    EXPECT_TRUE(dlg->IsShown());
}

TEST_F(AboutBoxTest, OnlyTheAboutCommandShowsTheBox) {
    Start();
    EXPECT_FALSE(dlg->OnSysCommand(0xF060));  // the window manager's close command
    EXPECT_FALSE(dlg->OnSysCommand(0));
    EXPECT_EQ(ShownAboutBox(), nullptr);
    // The lowest four bits do not count.
    AboutSeen seen;
    Later inspect(300, [&] { seen = InspectAndClose(); });
    EXPECT_TRUE(dlg->OnSysCommand(CferrocaskDlg::kAboutCommand | 0x5));
    EXPECT_TRUE(seen.shown);
    EXPECT_TRUE(dlg->IsShown());
}

TEST_F(AboutBoxTest, MainWindowCarriesTheIconAtSeveralSizes) {
    Start();
    const wxIconBundle& icons = dlg->GetIcons();
    EXPECT_GE(icons.GetIconCount(), 4u);
    for (int side : {16, 32, 48}) {
        const wxIcon icon = icons.GetIconOfExactSize(wxSize(side, side));
        EXPECT_TRUE(icon.IsOk()) << side;
    }
}

}  // namespace
