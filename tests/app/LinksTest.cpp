#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/toplevel.h>

#include "app/DialogueTestSupport.h"
#include "app/WebAddress.h"
#include "platform/DetachedMessage.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"
#include "support/TempDir.h"

using namespace dialoguetest;

namespace {

// Children of this process that ended and were never reaped.
int ZombieChildren() {
    int zombies = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    while (dirent* entry = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (name) state ppid ...: the name may hold spaces, so read after the last ')'.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        char state = 0;
        int parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && state == 'Z') {
            ++zombies;
        }
    }
    ::closedir(proc);
    return zombies;
}

// A PATH holding only a fake "xdg-open" that records each argument it gets as one line.
class FakeOpener {
public:
    explicit FakeOpener(bool withHandler) : m_path(std::getenv("PATH")) {
        if (withHandler) {
            const std::string script = m_bin.File("xdg-open");
            testsupport::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + Log() + "'\n");
            ::chmod(script.c_str(), 0755);
        }
        ::setenv("PATH", m_bin.Path().c_str(), 1);
    }
    ~FakeOpener() { ::setenv("PATH", m_path.c_str(), 1); }

    std::string Log() const { return m_bin.File("opened.txt"); }
    std::vector<std::string> Opened() const {
        std::vector<std::string> lines;
        if (!testsupport::FileExists(Log())) {
            return lines;
        }
        std::istringstream in(testsupport::ReadFile(Log()));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    bool WaitForOpened(std::size_t count) {
        return guitest::PumpUntil([&] { return Opened().size() >= count; }, 8000);
    }

private:
    testsupport::TempDir m_bin;
    std::string m_path;
};

class LinksTest : public DialogueTest {
protected:
    void Click(int id) {
        wxWindow* button = dlg->FindWindow(id);
        ASSERT_NE(button, nullptr);
        const wxRect rect = button->GetRect();
        guitest::ClickAt(dlg, rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
    }
};

TEST_F(LinksTest, WebButtonsOpenTheSameAddressAndHelpTheHelpFileInEveryState) {
    FakeOpener opener(true);
    Start();
    Click(ids::kFaceLink);
    ASSERT_TRUE(opener.WaitForOpened(1));
    Click(ids::kSiteLink);
    ASSERT_TRUE(opener.WaitForOpened(2));
    Click(ids::kHelpLink);
    ASSERT_TRUE(opener.WaitForOpened(3));
    EXPECT_EQ(opener.Opened(),
              (std::vector<std::string>{FERROCASK_WEB_ADDRESS, FERROCASK_WEB_ADDRESS, "help.txt"}));

    // Further on in the dialogue, with the picture choice shown, they still work.
    TypeTwice("abcd1234");
    ASSERT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    Click(ids::kHelpLink);
    Click(ids::kSiteLink);
    ASSERT_TRUE(opener.WaitForOpened(5));
    EXPECT_EQ(opener.Opened()[3], "help.txt");
    EXPECT_EQ(opener.Opened()[4], FERROCASK_WEB_ADDRESS);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    EXPECT_TRUE(TakeMessages().empty());

    // Every handler that ended has been reaped.
    EXPECT_TRUE(guitest::PumpUntil([] { return ZombieChildren() == 0; }, 3000));
}

TEST_F(LinksTest, MissingHandlerDoesNothing) {
    FakeOpener opener(false);
    Start();
    const VaultState state = dlg->Dialogue().State();
    for (int id : {ids::kFaceLink, ids::kSiteLink, ids::kHelpLink}) {
        Click(id);
    }
    guitest::Pump(200);
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(dlg->Dialogue().State(), state);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_TRUE(opener.Opened().empty());
}

// The new-version box is no child of the main window and keeps it usable, also while the
// main window runs modally (as it does in the program) and holds GTK's input grab.
TEST_F(LinksTest, DetachedMessageLeavesTheModalMainWindowUsable) {
    FakeOpener opener(true);
    platform::SetMessageBoxHook({});  // a real box this time
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    dlg->Move(60, 60);
    bool closed = false;
    dlg->CallAfter([&] {
        guitest::Pump(300);
        platform::ShowDetachedMessage(wxString::FromUTF8("有新的版本 https://x.test/?a=1&b=2"),
                                      wxString::FromUTF8("墨岩保险柜"), [&] { closed = true; });
        wxDialog* box = nullptr;
        guitest::PumpUntil([&] {
            for (wxWindow* window : wxTopLevelWindows) {
                if (window != dlg && window->IsShown()) {
                    box = dynamic_cast<wxDialog*>(window);
                }
            }
            return box != nullptr;
        });
        guitest::Pump(300);
        EXPECT_NE(box, nullptr);
        // The text is shown as given, "&" included.
        bool textShown = false;
        for (wxWindow* child : box != nullptr ? box->GetChildren() : wxWindowList()) {
            if (auto* label = dynamic_cast<wxStaticText*>(child)) {
                textShown = label->GetLabelText() ==
                            wxString::FromUTF8("有新的版本 https://x.test/?a=1&b=2");
            }
        }
        EXPECT_TRUE(textShown);
        // The main window still takes a click while the box is up...
        Click(ids::kHelpLink);
        EXPECT_TRUE(opener.WaitForOpened(1));
        // ...and so does the box.
        if (box != nullptr) {
            box->Move(700, 500);
            guitest::Pump(200);
            wxWindow* ok = box->FindWindow(wxID_OK);
            const wxRect rect = ok->GetRect();
            guitest::ClickAt(box, rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
            guitest::PumpUntil([&] { return closed; });
        }
        dlg->EndModal(wxID_CANCEL);
    });
    dlg->ShowModal();
    EXPECT_TRUE(closed);
    EXPECT_EQ(opener.Opened(), std::vector<std::string>{"help.txt"});
}

}  // namespace
