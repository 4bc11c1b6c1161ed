// The main window as the vault dialogue's view: what only a window shows. The dialogue's
// states and steps are tested without a window in VaultDialogueTest.
#include <wx/listbox.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include "app/DialogueTestSupport.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

namespace {

using Messages = std::vector<std::string>;
using Text = std::optional<std::string>;
const std::string kMaster = "s3cretvault";

class MainWindowTest : public dialoguetest::DialogueTest {
protected:
    wxListBox* List() const {
        return dynamic_cast<wxListBox*>(dlg->m_dlgList.Control(ids::kNameList));
    }
    void ExpectAsked(const char* prompt) {
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
        EXPECT_EQ(std::string(dlg->m_dlgPassword.Prompt().utf8_str()), prompt);
    }
};

TEST_F(MainWindowTest, RunsModallyOnePanelAtATimeAboveTheLinkStrip) {
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    EXPECT_EQ(dlg->GetClientSize(), wxSize(482, 315));
    bool checked = false;
    dlg->CallAfter([&] {
        checked = true;
        ExpectAsked(texts::kSetUpVaultPassword);
        for (wxWindow* panel : Panels()) {
            EXPECT_EQ(panel->GetRect(), wxRect(0, 0, 482, 215));
        }
        std::vector<wxRect> strip;  // the group box, then the link buttons
        for (wxWindow* child : dlg->GetChildren()) {
            if (dynamic_cast<wxStaticBox*>(child) != nullptr) {
                strip.insert(strip.begin(), child->GetRect());
            }
        }
        for (int id : {ids::kFaceLink, ids::kSiteLink, ids::kHelpLink}) {
            strip.push_back(dlg->FindWindow(id)->GetRect());
        }
        EXPECT_EQ(
            strip,
            (std::vector<wxRect>{
                {0, 210, 482, 104}, {5, 221, 150, 57}, {165, 221, 150, 57}, {326, 221, 150, 57}}));
        guitest::Pump(100);
        guitest::SaveScreenshot(dlg, "main-window-first-run");
        dlg->OnOK();
    });
    EXPECT_EQ(dlg->ShowModal(), wxID_OK);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
}

TEST_F(MainWindowTest, ThePanelsShowWhatTheDialogueAsksFromSetUpToOpening) {
    Start();
    TypeTwice("abc12345");
    ASSERT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    guitest::WritePicture(vault.File("mine.png"), 50, 40, [](int x, int y) {
        return guitest::Rgb{x * 5, y * 6, x * y % 256};
    });
    files.path = vault.File("mine.png");
    dlg->m_dlgSelimg.OnChoosePicture();
    dlg->m_dlgSelimg.OnOK();
    guitest::SaveScreenshot(dlg, "main-window-picture-choice");
    EXPECT_EQ(boxes.Take(), Messages{texts::kSetMasterPasswordDone});
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);

    // A name typed in the name panel, as GB18030 in the vault and as text in the list.
    dlg->m_dlgList.OnAdd();
    ASSERT_EQ(ShownPanel(), &dlg->m_dlgPassName);
    auto* edit = dynamic_cast<wxTextCtrl*>(dlg->m_dlgPassName.Control(ids::kNameEdit));
    EXPECT_TRUE(edit->GetValue().empty());
    edit->ChangeValue(wxString::FromUTF8("网站"));
    dlg->m_dlgPassName.OnOK();
    ExpectAsked(texts::kSetPassword);
    TypeTwice("p&ssW0rd!");
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(vault.Password("abc12345", "\xCD\xF8\xD5\xBE"), Text("p&ssW0rd!"));
    dlg->m_dlgList.OnExit();
    EXPECT_FALSE(dlg->IsShown());
    EXPECT_EQ(dlg->GetReturnCode(), wxID_OK);
    delete dlg;

    // Opened again: the picture check shows the picture, and "看到" opens the list.
    Start();
    ExpectAsked(texts::kEnterVaultPassword);
    Type("abc12345");
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgImage);
    guitest::Pump(100);
    guitest::SaveScreenshot(dlg, "main-window-picture-check");
    dlg->m_dlgImage.OnSeen();
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    ASSERT_EQ(List()->GetCount(), 1u);
    EXPECT_EQ(List()->GetString(0), wxString::FromUTF8("网站"));
    EXPECT_EQ(List()->GetSelection(), 0);
    EXPECT_TRUE(boxes.Take().empty());
    guitest::Pump(300);
    guitest::SaveScreenshot(dlg, "main-window-list");
}

// The copied password is taken off the clipboard by the clear button or at the end of the
// window, unless something else was copied since.
TEST_F(MainWindowTest, ACopiedPasswordIsClearedUnlessSomethingElseWasCopiedSince) {
    vault.Create(kMaster, 2, {{"mail", "pw-mail"}, {"bank", "pw&bank"}});
    for (const std::string later : {"", "copied after ours"}) {
        const auto clipboardAfter = [&](const std::function<void()>& clear) {
            dlg->m_dlgList.OnCopy();
            Type(kMaster);
            EXPECT_EQ(boxes.Take(), Messages{texts::kCopyWarning});
            EXPECT_EQ(guitest::XclipRead("clipboard"), Text("pw&bank"));
            std::optional<guitest::XclipCopy> other;
            if (!later.empty()) {
                other.emplace(later);
            }
            clear();
            return guitest::XclipRead("clipboard").value_or("");
        };
        Start();
        Type(kMaster);
        dlg->m_dlgImage.OnSeen();
        List()->SetSelection(1);
        dlg->m_dlgList.OnSelectionChange();
        EXPECT_EQ(clipboardAfter([&] { dlg->m_dlgList.OnClearClipboard(); }), later);
        EXPECT_EQ(clipboardAfter([&] {
                      delete dlg;
                      dlg = nullptr;
                  }),
                  later);
    }
}

TEST_F(MainWindowTest, AVaultFileThatCannotBeReadIsNamedAndTheWindowEnds) {
    const std::string path = vault.File("ferrocask.db");
    testsupport::WriteFile(path, "just a note, not a vault\n");
    wxString expected = wxString::FromUTF8(texts::kVaultFileUnreadable);
    expected.Replace("%s", path);
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    dlg->Show();
    EXPECT_EQ(boxes.Take(), Messages{std::string(expected.utf8_str())});
    EXPECT_EQ(ShownPanel(), nullptr);  // above all, no request to set up a vault
    EXPECT_TRUE(guitest::PumpUntil([&] { return !dlg->IsShown(); }));
    EXPECT_EQ(testsupport::ReadFile(path), "just a note, not a vault\n");
}

}  // namespace
