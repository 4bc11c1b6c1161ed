#include <wx/textctrl.h>

#include "app/DialogueTestSupport.h"
#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"
#include "vault/PasswordEntry.h"

using namespace dialoguetest;

namespace {

using Messages = std::vector<std::string>;
using Names = std::vector<std::string>;
const std::string kMaster = "s3cretvault";

class ListActionsTest : public DialogueTest {
protected:
    void SetUp() override {
        vault.Create(kMaster, 2, {{"mail", "pw-mail"}, {"bank", "pw&bank"}, {"forum", "pw-forum"}});
        Open(kMaster);
    }

    // The name panel's OK with a typed name.
    void SubmitName(const wxString& name) {
        auto* edit = dynamic_cast<wxTextCtrl*>(dlg->m_dlgPassName.Control(ids::kNameEdit));
        ASSERT_NE(edit, nullptr);
        edit->ChangeValue(name);
        dlg->m_dlgPassName.OnOK();
    }

    void AddPassword(const wxString& name, const std::string& password) {
        dlg->m_dlgList.OnAdd();
        SubmitName(name);
        TypeTwice(password);
    }
};

}  // namespace

TEST_F(ListActionsTest, AddingAPasswordAsksForItTwice) {
    dlg->m_dlgList.OnAdd();
    EXPECT_EQ(dlg->m_state, kStateAddPressed);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassName);
    auto* edit = dynamic_cast<wxTextCtrl*>(dlg->m_dlgPassName.Control(ids::kNameEdit));
    EXPECT_TRUE(edit->GetValue().empty());

    SubmitName(wxString::FromUTF8("网站"));
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(Prompt(), texts::kSetPassword);
    EXPECT_EQ(dlg->m_state, kStateNewEntryFirst);

    Type("");
    EXPECT_EQ(Prompt(), texts::kConfirmPassword);
    Type("");
    EXPECT_EQ(TakeMessages(), Messages{texts::kPasswordEmpty});
    EXPECT_EQ(Prompt(), texts::kSetPassword);
    Type("a");
    Type("b");
    EXPECT_EQ(TakeMessages(), Messages{texts::kPasswordsDiffer});
    EXPECT_EQ(dlg->m_state, kStateNewEntryFirst);

    TypeTwice("p&ssW0rd!");  // no length or character rule for list passwords
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(dlg->m_state, kStateList);
    EXPECT_EQ(ListedNames(), (Names{"mail", "bank", "forum", "网站"}));
    EXPECT_EQ(vault.Password(kMaster, "\xCD\xF8\xD5\xBE"), std::optional<std::string>("p&ssW0rd!"));
    EXPECT_EQ(vault.Kind(kMaster, "\xCD\xF8\xD5\xBE"), "normal");
}

TEST_F(ListActionsTest, TakenNamesAreRenamedAndLongTextsCut) {
    AddPassword("mail", "second");
    const Names names = vault.Names(kMaster);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "mail");
    EXPECT_EQ(names[3].size(), std::string("mail_").size() + 14);
    EXPECT_EQ(names[3].substr(0, 5), "mail_");
    EXPECT_EQ(vault.Password(kMaster, "mail"), std::optional<std::string>("pw-mail"));

    const std::string longName(70, 'n');
    const std::string longPassword(70, 'q');
    AddPassword(longName, longPassword);
    EXPECT_EQ(vault.Names(kMaster).back(), longName.substr(0, 62));
    EXPECT_EQ(vault.Password(kMaster, longName.substr(0, 62)),
              std::optional<std::string>(longPassword.substr(0, 62)));
}

TEST_F(ListActionsTest, ModifyingNeedsTheRememberedMasterPassword) {
    Select(1);
    dlg->m_dlgList.OnModify();
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(Prompt(), texts::kEnterVaultPassword);
    EXPECT_EQ(dlg->m_state, kStateMasterForAction);

    // A wrong password: the message, and the same request stays; as many times as needed.
    for (int i = 0; i < 2; ++i) {
        Type("s3cretvaulT");
        EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
        EXPECT_EQ(dlg->m_state, kStateMasterForAction);
        EXPECT_EQ(Prompt(), texts::kEnterVaultPassword);
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    }
    Type(kMaster);
    EXPECT_EQ(Prompt(), texts::kResetSelectedPassword);
    EXPECT_EQ(dlg->m_state, kStateModifyFirst);
    Type("new-1");
    EXPECT_EQ(Prompt(), texts::kConfirmPassword);
    Type("new-2");
    EXPECT_EQ(TakeMessages(), Messages{texts::kPasswordsDiffer});
    EXPECT_EQ(Prompt(), texts::kSetPassword);
    EXPECT_EQ(dlg->m_state, kStateModifyFirst);
    TypeTwice(std::string(64, 'z'));

    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(dlg->m_state, kStateList);
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank", "forum"}));
    EXPECT_EQ(vault.Password(kMaster, "bank"), std::optional<std::string>(std::string(62, 'z')));
    EXPECT_EQ(vault.Password(kMaster, "mail"), std::optional<std::string>("pw-mail"));
    EXPECT_EQ(vault.Kind(kMaster, "bank"), "normal");
}

TEST_F(ListActionsTest, DeletingRemovesTheSelectedEntryEvenWithAnOddName) {
    const std::string odd = "\x80odd\xFF";
    vault.store.AddEntry(vault.Directory(), kMaster, MakePasswordEntry(odd, "x"));
    dlg->m_dlgList.RefreshList();
    Select(1);
    dlg->m_dlgList.OnDelete();
    Type("wrong-one");
    EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
    EXPECT_EQ(vault.Names(kMaster).size(), 4u);
    Type(kMaster);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "forum", odd}));
    EXPECT_EQ(ListedNames().size(), 3u);
    EXPECT_EQ(dlg->m_state, kStateMasterForAction);  // the list's buttons set the next state

    Select(2);
    dlg->m_dlgList.OnDelete();
    Type(kMaster);
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "forum"}));
}

TEST_F(ListActionsTest, CopyPutsThePasswordOnTheClipboardUntilCleared) {
    Select(1);
    boxes.answers.push_back(platform::kAnswerCancel);
    dlg->m_dlgList.OnCopy();
    EXPECT_EQ(TakeMessages(), Messages{texts::kCopyWarning});
    EXPECT_EQ(dlg->m_state, kStateList);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);

    PutOnClipboard("before");
    dlg->m_dlgList.OnCopy();
    TakeMessages();
    EXPECT_TRUE(dlg->m_dlgList.m_clipboardUsed);
    Type("nope-nope");
    EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("before"));
    Type(kMaster);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("pw&bank"));

    dlg->m_dlgList.OnClearClipboard();
    EXPECT_FALSE(dlg->m_dlgList.m_clipboardUsed);
    std::optional<std::string> left = ClipboardText();
    EXPECT_TRUE(!left || left->empty());

    // Copied again and the program closes without clearing: the clipboard is emptied.
    dlg->m_dlgList.OnCopy();
    Type(kMaster);
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("pw&bank"));
    delete dlg;
    dlg = nullptr;
    left = ClipboardText();
    EXPECT_TRUE(!left || left->empty());
}

TEST_F(ListActionsTest, AnEntryGoneFromTheVaultIsNeitherCopiedNorWritten) {
    Select(2);
    vault.store.DeleteEntry(vault.Directory(), kMaster, MakePasswordEntry("forum", ""));

    PutOnClipboard("untouched");
    dlg->m_dlgList.OnCopy();
    Type(kMaster);
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("untouched"));

    Select(2);
    dlg->m_dlgList.OnModify();
    Type(kMaster);
    TypeTwice("replacement");
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank"}));
    EXPECT_EQ(ListedNames(), (Names{"mail", "bank"}));
    EXPECT_EQ(dlg->m_state, kStateList);
}

TEST_F(ListActionsTest, ActionsOnNothingSelectedAreRefused) {
    for (const std::string& name : vault.Names(kMaster)) {
        vault.store.DeleteEntry(vault.Directory(), kMaster, MakePasswordEntry(name, ""));
    }
    dlg->m_dlgList.RefreshList();
    TakeMessages();
    dlg->m_dlgList.OnModify();
    dlg->m_dlgList.OnDelete();
    dlg->m_dlgList.OnCopy();
    EXPECT_EQ(TakeMessages(), Messages(3, texts::kNothingSelected));
    EXPECT_EQ(dlg->m_state, kStateList);
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
}

TEST_F(ListActionsTest, ChangingTheMasterPasswordBacksUpAndReencrypts) {
    const std::string before = testsupport::ReadFile(vault.File("ferrocask.db"));
    dlg->m_dlgList.OnChangeMasterPassword();
    EXPECT_EQ(Prompt(), texts::kEnterOldVaultPassword);
    EXPECT_EQ(dlg->m_state, kStateMasterForAction);
    Type("not-the-old1");
    EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
    Type(kMaster);
    EXPECT_EQ(Prompt(), texts::kSetUpVaultPassword);
    EXPECT_EQ(dlg->m_state, kStateNewMasterFirst);
    Type("n3wmaster");
    Type("n3wmaster");
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    EXPECT_TRUE(dlg->m_dlgSelimg.m_path.empty());
    ChoosePictureAndConfirm(WritePicture("new.png", 9));
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(dlg->m_masterPassword.view(), "n3wmaster");

    const std::vector<std::string> backups =
        testsupport::ListFiles(vault.Directory(), "ferrocask_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].size(), std::string("ferrocask_20131205093007.db").size());
    EXPECT_EQ(testsupport::ReadFile(vault.File(backups[0])), before);

    EXPECT_EQ(vault.Names("n3wmaster"), (Names{"mail", "bank", "forum"}));
    EXPECT_EQ(vault.Password("n3wmaster", "bank"), std::optional<std::string>("pw&bank"));
    int width = 0, height = 0;
    const unsigned char* picture =
        vault.store.ReadPicture(vault.Directory(), "n3wmaster", &width, &height);
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(std::equal(picture, picture + kPictureBytes, dlg->m_dlgSelimg.m_pixels.m_pBuffer));

    // From now on only the new password is taken for list actions.
    Select(0);
    dlg->m_dlgList.OnModify();
    Type(kMaster);
    EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
    Type("n3wmaster");
    EXPECT_EQ(Prompt(), texts::kResetSelectedPassword);
}

TEST_F(ListActionsTest, AFailedChangeStartsOverAndTriesAgainWithTheOldPassword) {
    dlg->m_dlgList.OnChangeMasterPassword();
    Type(kMaster);
    TypeTwice("n3wmaster");
    // The vault cannot be reached: the store refuses.
    Ombrix::DeviceManager::Instance().Remove("/device/system/db");
    ChoosePictureAndConfirm(WritePicture("new.png", 9));
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordFailed});
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(Prompt(), texts::kSetUpVaultPassword);
    EXPECT_EQ(dlg->m_state, kStateNewMasterFirst);
    EXPECT_EQ(dlg->m_listAction, kChangeMasterPassword);
    EXPECT_EQ(dlg->m_masterPassword.view(), kMaster);

    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
    TypeTwice("an0thernew");
    ChoosePictureAndConfirm(WritePicture("other.png", 11));
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
    EXPECT_EQ(vault.Names("an0thernew"), (Names{"mail", "bank", "forum"}));
}

TEST_F(ListActionsTest, ExitClosesTheWindowWithOk) {
    dlg->m_dlgList.OnExit();
    EXPECT_FALSE(dlg->IsShown());
    EXPECT_EQ(dlg->GetReturnCode(), wxID_OK);
}
