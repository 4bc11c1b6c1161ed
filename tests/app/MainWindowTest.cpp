// The main window as the vault dialogue's view: what only a window shows. The dialogue's
// states and steps are tested without a window in VaultDialogueTest.
#include <wx/listbox.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include "app/DialogueTestSupport.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

using namespace dialoguetest;

namespace {

using Messages = std::vector<std::string>;
using Names = std::vector<std::string>;
using Text = std::optional<std::string>;

class MainWindowTest : public DialogueTest {
protected:
    wxListBox* List() const {
        return dynamic_cast<wxListBox*>(dlg->m_dlgList.Control(ids::kNameList));
    }
    Names Listed() const {
        Names names;
        for (unsigned i = 0; i < List()->GetCount(); ++i) {
            names.emplace_back(List()->GetString(i).utf8_str());
        }
        return names;
    }
    void Select(int index) {
        List()->SetSelection(index);
        dlg->m_dlgList.OnSelectionChange();
    }
    void ExpectAsked(const char* prompt) {
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
        EXPECT_EQ(std::string(dlg->m_dlgPassword.Prompt().utf8_str()), prompt);
    }
    // Opens the vault, answering the picture check, and copies the second password.
    void OpenAndCopy(const std::string& master) {
        Start();
        Type(master);
        dlg->m_dlgImage.OnSeen();
        Select(1);
        dlg->m_dlgList.OnCopy();
        Type(master);
    }
    static bool Empty(const Text& text) { return !text || text->empty(); }
};

const std::string kMaster = "s3cretvault";

}  // namespace

TEST_F(MainWindowTest, RunsModallyOnePanelAtATimeAboveTheLinkStrip) {
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    EXPECT_EQ(dlg->GetTitle(), wxString::FromUTF8("墨岩保险柜 1.0.1.0"));
    EXPECT_EQ(dlg->GetClientSize(), wxSize(482, 315));
    bool checked = false;
    dlg->CallAfter([&] {
        checked = true;
        ExpectAsked(texts::kSetUpVaultPassword);
        for (wxWindow* panel : std::initializer_list<wxWindow*>{
                 &dlg->m_dlgPassword, &dlg->m_dlgSelimg, &dlg->m_dlgImage, &dlg->m_dlgList,
                 &dlg->m_dlgPassName}) {
            EXPECT_EQ(panel->GetRect(), wxRect(0, 0, 482, 215));
        }
        EXPECT_EQ(dlg->FindWindow(ids::kFaceLink)->GetRect(), wxRect(5, 221, 150, 57));
        EXPECT_EQ(dlg->FindWindow(ids::kSiteLink)->GetRect(), wxRect(165, 221, 150, 57));
        EXPECT_EQ(dlg->FindWindow(ids::kHelpLink)->GetRect(), wxRect(326, 221, 150, 57));
        int groupBoxes = 0;
        for (wxWindow* child : dlg->GetChildren()) {
            if (dynamic_cast<wxStaticBox*>(child) != nullptr) {
                ++groupBoxes;
                EXPECT_EQ(child->GetRect(), wxRect(0, 210, 482, 104));
            }
        }
        EXPECT_EQ(groupBoxes, 1);
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
    // Without a usable picture the panel says so and the dialogue waits.
    dlg->m_dlgSelimg.OnOK();
    testsupport::WriteFile(vault.File("bad.jpg"), "not a picture");
    ChoosePictureAndConfirm(vault.File("bad.jpg"));
    EXPECT_EQ(TakeMessages(), (Messages{texts::kNoPictureChosen, texts::kPictureCannotBeImported,
                                        texts::kPictureCannotBeImported}));
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    ChoosePictureAndConfirm(WritePicture("mine.png", 5));
    guitest::SaveScreenshot(dlg, "main-window-picture-choice");
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
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
    EXPECT_EQ(Listed(), Names{"网站"});
    EXPECT_EQ(vault.Password("abc12345", "\xCD\xF8\xD5\xBE"), Text("p&ssW0rd!"));
    dlg->m_dlgList.OnExit();
    EXPECT_FALSE(dlg->IsShown());
    EXPECT_EQ(dlg->GetReturnCode(), wxID_OK);
    delete dlg;

    // Opened again: the picture check shows the picture, and only "看到" opens the list.
    Start();
    ExpectAsked(texts::kEnterVaultPassword);
    Type("wrongpass1");
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgImage);
    dlg->m_dlgImage.OnNotSeen();
    ExpectAsked(texts::kEnterVaultPassword);
    Type("abc12345");
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgImage);
    guitest::Pump(100);
    guitest::SaveScreenshot(dlg, "main-window-picture-check");
    dlg->m_dlgImage.OnSeen();
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(Listed(), Names{"网站"});
    EXPECT_EQ(List()->GetSelection(), 0);
    EXPECT_TRUE(TakeMessages().empty());
    guitest::Pump(300);
    guitest::SaveScreenshot(dlg, "main-window-list");
}

TEST_F(MainWindowTest, CopyPutsThePasswordOnTheClipboardUntilClearedOrTheEnd) {
    vault.Create(kMaster, 2, {{"mail", "pw-mail"}, {"bank", "pw&bank"}});
    guitest::PutOnClipboard("before");
    OpenAndCopy(kMaster);
    EXPECT_EQ(TakeMessages(), Messages{texts::kCopyWarning});
    EXPECT_EQ(guitest::ClipboardText(), Text("pw&bank"));
    dlg->m_dlgList.OnClearClipboard();
    EXPECT_TRUE(Empty(guitest::ClipboardText()));

    // Copied again and the window closes without clearing: the clipboard is emptied.
    dlg->m_dlgList.OnCopy();
    Type(kMaster);
    EXPECT_EQ(guitest::ClipboardText(), Text("pw&bank"));
    delete dlg;
    dlg = nullptr;
    EXPECT_TRUE(Empty(guitest::ClipboardText()));
}

TEST_F(MainWindowTest, WhatTheUserCopiedElsewhereSurvivesClearingAndTheEnd) {
    vault.Create(kMaster, 2, {{"mail", "pw-mail"}, {"bank", "pw&bank"}});
    OpenAndCopy(kMaster);
    EXPECT_EQ(guitest::XclipRead("clipboard"), Text("pw&bank"));
    {
        guitest::XclipCopy other("copied in the browser");
        dlg->m_dlgList.OnClearClipboard();
        EXPECT_EQ(guitest::XclipRead("clipboard"), Text("copied in the browser"));
        dlg->m_dlgList.OnCopy();
        Type(kMaster);
        EXPECT_EQ(guitest::XclipRead("clipboard"), Text("pw&bank"));
        EXPECT_FALSE(other.Serving());  // the copy took the clipboard over
    }
    guitest::XclipCopy other("copied after ours");
    delete dlg;
    dlg = nullptr;
    EXPECT_EQ(guitest::XclipRead("clipboard"), Text("copied after ours"));
    EXPECT_TRUE(other.Serving());
}

TEST_F(MainWindowTest, AVaultFileThatCannotBeReadIsNamedAndTheWindowEnds) {
    const std::string path = vault.File("ferrocask.db");
    testsupport::WriteFile(path, "just a note, not a vault\n");
    wxString expected = wxString::FromUTF8(texts::kVaultFileUnreadable);
    expected.Replace("%s", path);
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    dlg->Show();
    EXPECT_EQ(TakeMessages(), Messages{std::string(expected.utf8_str())});
    EXPECT_EQ(ShownPanel(), nullptr);  // above all, no request to set up a vault
    EXPECT_TRUE(guitest::PumpUntil([&] { return !dlg->IsShown(); }));
    EXPECT_EQ(testsupport::ReadFile(path), "just a note, not a vault\n");
}
