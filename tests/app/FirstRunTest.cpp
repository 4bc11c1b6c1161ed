#include <wx/statbox.h>

#include "app/DialogueTestSupport.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

using namespace dialoguetest;

namespace {

using Messages = std::vector<std::string>;

class FirstRunTest : public DialogueTest {};

}  // namespace

TEST_F(FirstRunTest, WindowLaysOnePanelAtATimeAboveTheLinkStrip) {
    Start();
    EXPECT_EQ(dlg->GetTitle(), wxString::FromUTF8("墨岩保险柜 1.0.1.0"));
    EXPECT_EQ(dlg->GetClientSize(), wxSize(482, 315));
    for (wxWindow* panel :
         std::initializer_list<wxWindow*>{&dlg->m_dlgPassword, &dlg->m_dlgSelimg, &dlg->m_dlgImage,
                                          &dlg->m_dlgList, &dlg->m_dlgPassName}) {
        EXPECT_EQ(panel->GetRect(), wxRect(0, 0, 482, 215));
    }
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(dlg->FindWindow(ids::kFaceLink)->GetRect(), wxRect(5, 221, 150, 57));
    EXPECT_EQ(dlg->FindWindow(ids::kSiteLink)->GetRect(), wxRect(165, 221, 150, 57));
    EXPECT_EQ(dlg->FindWindow(ids::kHelpLink)->GetRect(), wxRect(326, 221, 150, 57));
    EXPECT_EQ(dlg->FindWindow(ids::kHelpLink)->GetLabel(),
              wxString::FromUTF8("看帮助，更好的保护密码"));
    int groupBoxes = 0;
    for (wxWindow* child : dlg->GetChildren()) {
        if (auto* box = dynamic_cast<wxStaticBox*>(child)) {
            ++groupBoxes;
            EXPECT_EQ(box->GetRect(), wxRect(0, 210, 482, 104));
        }
    }
    EXPECT_EQ(groupBoxes, 1);
    guitest::SaveScreenshot(dlg, "main-window-first-run");
}

TEST_F(FirstRunTest, RunsModallyWithTheDialogueStartedAndEndsWithOk) {
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    bool checked = false;
    dlg->CallAfter([&] {
        checked = true;
        EXPECT_EQ(dlg->m_state, kStateNewMasterFirst);
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
        EXPECT_EQ(Prompt(), texts::kSetUpVaultPassword);
        dlg->OnOK();
    });
    EXPECT_EQ(dlg->ShowModal(), wxID_OK);
    EXPECT_TRUE(checked);
}

TEST_F(FirstRunTest, NewMasterPasswordRulesInTheirOrder) {
    Start();
    EXPECT_EQ(Prompt(), texts::kSetUpVaultPassword);
    EXPECT_EQ(dlg->m_state, kStateNewMasterFirst);
    EXPECT_TRUE(testsupport::FileExists(vault.File("ferrocask.db")));
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));

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
        EXPECT_EQ(Prompt(), texts::kConfirmVaultPassword) << c.first;
        EXPECT_EQ(dlg->m_state, kStateNewMasterConfirm);
        Type(c.second);
        EXPECT_EQ(TakeMessages(), Messages{c.message}) << c.first << " / " << c.second;
        EXPECT_EQ(boxes.Shown().size(), 0u);
        EXPECT_EQ(Prompt(), texts::kSetVaultPassword);
        EXPECT_EQ(dlg->m_state, kStateNewMasterFirst);
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    }

    // After a rejection the next text is a new first typing: "abc12345" then the same.
    Type("abc12345");
    EXPECT_EQ(Prompt(), texts::kConfirmVaultPassword);
    Type("abc12345");
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    EXPECT_EQ(dlg->m_state, kStateChoosePicture);
    EXPECT_EQ(std::string(dlg->m_dlgSelimg.m_prompt.utf8_str()), texts::kChoosePictureInstructions);
    EXPECT_EQ(dlg->m_enteredPassword.view(), "abc12345");
    EXPECT_TRUE(dlg->m_firstEntry.empty());
    EXPECT_TRUE(dlg->m_secondEntry.empty());
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
}

TEST_F(FirstRunTest, UpperCaseLettersWithLowerCaseAndDigitsAreAccepted) {
    Start();
    TypeTwice("AB12CD34ef");
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(dlg->m_state, kStateChoosePicture);
}

TEST_F(FirstRunTest, ChosenPictureSetsTheVaultAndOpensTheList) {
    Start();
    TypeTwice("abc12345");
    guitest::SaveScreenshot(dlg, "main-window-picture-choice");

    // Without a usable picture the panel says so and the dialogue stays.
    dlg->m_dlgSelimg.OnOK();
    EXPECT_EQ(TakeMessages(), Messages{texts::kNoPictureChosen});
    testsupport::WriteFile(vault.File("bad.jpg"), "not a picture");
    ChoosePictureAndConfirm(vault.File("bad.jpg"));
    EXPECT_EQ(TakeMessages(),
              (Messages{texts::kPictureCannotBeImported, texts::kPictureCannotBeImported}));
    EXPECT_EQ(dlg->m_state, kStateChoosePicture);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);

    ChoosePictureAndConfirm(WritePicture("mine.png", 5));
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
    EXPECT_EQ(boxes.Shown().size(), 0u);
    EXPECT_EQ(dlg->m_state, kStateList);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(dlg->m_masterPassword.view(), "abc12345");
    EXPECT_TRUE(dlg->m_enteredPassword.empty());

    // The vault opens with the password and shows exactly the chosen picture.
    int width = 0, height = 0;
    const unsigned char* picture =
        vault.store.ReadPicture(vault.Directory(), "abc12345", &width, &height);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(dlg->m_dlgSelimg.m_pixels.m_nLength, kPictureBytes);
    EXPECT_TRUE(std::equal(picture, picture + kPictureBytes, dlg->m_dlgSelimg.m_pixels.m_pBuffer));
    EXPECT_TRUE(vault.Names("abc12345").empty());
    // A first setting makes no backup.
    EXPECT_TRUE(testsupport::ListFiles(vault.Directory(), "ferrocask_").empty());
}
