#include <wx/statbox.h>

#include "app/DialogueTestSupport.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

using namespace dialoguetest;

namespace {

using Messages = std::vector<std::string>;

class FirstRunTest : public DialogueTest {};

}  // namespace

TEST_F(FirstRunTest, RunsModallyOnePanelAtATimeAboveTheLinkStrip) {
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    EXPECT_EQ(dlg->GetTitle(), wxString::FromUTF8("墨岩保险柜 1.0.1.0"));
    EXPECT_EQ(dlg->GetClientSize(), wxSize(482, 315));
    bool checked = false;
    dlg->CallAfter([&] {
        checked = true;
        ExpectAsked(texts::kSetUpVaultPassword, kStateNewMasterFirst);
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
    EXPECT_TRUE(testsupport::FileExists(vault.File("ferrocask.db")));
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
}

TEST_F(FirstRunTest, NewMasterPasswordRulesInTheirOrder) {
    Start();
    struct Case {
        const char* first;
        const char* second;
        const char* message;
    };
    const Case rejected[] = {
        {"abcdefgh", "abcdefgh", texts::kPasswordWithoutDigit},
        {"12345678", "12345678", texts::kPasswordWithoutLetter},
        {"ABCD1234", "ABCD1234", texts::kPasswordWithoutLetter},
        {"ab12", "ab12", texts::kPasswordTooShort},
        {"", "", texts::kPasswordTooShort},
        {"abc12345", "abc12346", texts::kPasswordsDiffer},
        {"ab", "1", texts::kPasswordsDiffer},  // differing wins over every other rule
        {"abc12345", "ABC12345", texts::kPasswordsDiffer},
    };
    for (const Case& c : rejected) {
        Type(c.first);
        ExpectAsked(texts::kConfirmVaultPassword, kStateNewMasterConfirm);
        Type(c.second);
        EXPECT_EQ(TakeMessages(), Messages{c.message}) << c.first << " / " << c.second;
        // The next typing is a new first one.
        ExpectAsked(texts::kSetVaultPassword, kStateNewMasterFirst);
    }
    TypeTwice("AB12CD34ef");  // upper-case letters do no harm beside lower-case ones
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    EXPECT_EQ(dlg->m_state, kStateChoosePicture);
    EXPECT_EQ(std::string(dlg->m_dlgSelimg.m_prompt.utf8_str()), texts::kChoosePictureInstructions);
    EXPECT_EQ(dlg->m_enteredPassword.view(), "AB12CD34ef");
    EXPECT_TRUE(dlg->m_firstEntry.empty() && dlg->m_secondEntry.empty());
}

TEST_F(FirstRunTest, ChosenPictureSetsTheVaultAndOpensTheList) {
    Start();
    TypeTwice("abc12345");
    // Without a usable picture the panel says so and the dialogue waits.
    dlg->m_dlgSelimg.OnOK();
    testsupport::WriteFile(vault.File("bad.jpg"), "not a picture");
    ChoosePictureAndConfirm(vault.File("bad.jpg"));
    EXPECT_EQ(TakeMessages(), (Messages{texts::kNoPictureChosen, texts::kPictureCannotBeImported,
                                        texts::kPictureCannotBeImported}));
    EXPECT_EQ(dlg->m_state, kStateChoosePicture);

    ChoosePictureAndConfirm(WritePicture("mine.png", 5));
    guitest::SaveScreenshot(dlg, "main-window-picture-choice");
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
    ExpectList();
    EXPECT_EQ(dlg->m_masterPassword.view(), "abc12345");
    EXPECT_TRUE(dlg->m_enteredPassword.empty());

    // The vault opens with the password and holds exactly the picture shown.
    int width = 0, height = 0;
    const unsigned char* picture =
        vault.store.ReadPicture(vault.Directory(), "abc12345", &width, &height);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(dlg->m_dlgSelimg.m_pixels.m_nLength, kPictureBytes);
    EXPECT_TRUE(std::equal(picture, picture + kPictureBytes, dlg->m_dlgSelimg.m_pixels.m_pBuffer));
    EXPECT_TRUE(vault.Names("abc12345").empty());
    EXPECT_TRUE(testsupport::ListFiles(vault.Directory(), "ferrocask_").empty());  // no backup
}

TEST_F(FirstRunTest, AVaultFileThatCannotBeReadIsLeftAsItIsAndTheProgramEnds) {
    const std::string path = vault.File("ferrocask.db");
    std::string junk(30000, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i) {
        junk[i] = static_cast<char>((i * 7919 + i / 256) % 251);
    }
    wxString expected = wxString::FromUTF8(texts::kVaultFileUnreadable);
    expected.Replace("%s", vault.Directory() + "ferrocask.db");

    for (const std::string& content : {junk, std::string("just a note, not a vault\n")}) {
        testsupport::WriteFile(path, content);
        dlg = new CferrocaskDlg(vault.Directory());
        ASSERT_TRUE(dlg->Create());
        dlg->Show();
        EXPECT_EQ(TakeMessages(), Messages{std::string(expected.utf8_str())});
        EXPECT_EQ(ShownPanel(), nullptr);  // above all, no request to set up a vault
        EXPECT_FALSE(dlg->m_dlgPassword.IsShown());
        EXPECT_EQ(dlg->m_state, kStateStart);
        EXPECT_TRUE(guitest::PumpUntil([&] { return !dlg->IsShown(); }));
        EXPECT_TRUE(TakeMessages().empty());
        EXPECT_TRUE(testsupport::ReadFile(path) == content);  // byte for byte
        EXPECT_EQ(testsupport::ListFiles(vault.Directory()),
                  std::vector<std::string>{"ferrocask.db"});
        delete dlg;
        dlg = nullptr;
    }
}
