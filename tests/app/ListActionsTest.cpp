#include <filesystem>

#include <wx/textctrl.h>

#include "app/DialogueTestSupport.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"
#include "vault/PasswordEntry.h"

using namespace dialoguetest;
using guitest::ClipboardText;
using guitest::PutOnClipboard;

namespace {

using Messages = std::vector<std::string>;
using Names = std::vector<std::string>;
using Text = std::optional<std::string>;
const std::string kMaster = "s3cretvault";

class ListActionsTest : public DialogueTest {
protected:
    void SetUp() override {
        vault.Create(kMaster, 2, {{"mail", "pw-mail"}, {"bank", "pw&bank"}, {"forum", "pw-forum"}});
        Open(kMaster);
    }

    void AddPassword(const wxString& name) {
        dlg->m_dlgList.OnAdd();
        auto* edit = dynamic_cast<wxTextCtrl*>(dlg->m_dlgPassName.Control(ids::kNameEdit));
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassName);
        EXPECT_TRUE(edit->GetValue().empty());
        edit->ChangeValue(name);
        dlg->m_dlgPassName.OnOK();
    }
    static bool Empty(const Text& text) { return !text || text->empty(); }

    // A folder under the name of the copy that every change of the vault is made in: the
    // copy can be neither removed nor made, so every change fails, whoever runs the test.
    std::string BlockingFolder() const { return vault.File("ferrocask.db.new"); }
    std::string VaultBytes() const { return testsupport::ReadFile(vault.File("ferrocask.db")); }
};

}  // namespace

TEST_F(ListActionsTest, AddingAPasswordAsksForItTwice) {
    AddPassword(wxString::FromUTF8("网站"));
    ExpectAsked(texts::kSetPassword, kStateNewEntryFirst);
    Type("");
    ExpectAsked(texts::kConfirmPassword, kStateNewEntryConfirm);
    Type("");
    Type("a");
    Type("b");
    EXPECT_EQ(TakeMessages(), (Messages{texts::kPasswordEmpty, texts::kPasswordsDiffer}));
    ExpectAsked(texts::kSetPassword, kStateNewEntryFirst);

    TypeTwice("p&ssW0rd!");  // no length or character rule for list passwords
    EXPECT_TRUE(TakeMessages().empty());
    ExpectList();
    EXPECT_EQ(ListedNames(), (Names{"mail", "bank", "forum", "网站"}));
    EXPECT_EQ(vault.Password(kMaster, "\xCD\xF8\xD5\xBE"), Text("p&ssW0rd!"));
    EXPECT_EQ(vault.Kind(kMaster, "\xCD\xF8\xD5\xBE"), "normal");

    // Texts longer than a field holds are cut to 62 bytes.
    AddPassword(std::string(70, 'n'));
    TypeTwice(std::string(70, 'q'));
    EXPECT_EQ(vault.Names(kMaster).back(), std::string(62, 'n'));
    EXPECT_EQ(vault.Password(kMaster, std::string(62, 'n')), Text(std::string(62, 'q')));
}

TEST_F(ListActionsTest, ModifyingNeedsTheRememberedMasterPassword) {
    Select(1);
    dlg->m_dlgList.OnModify();
    ExpectAsked(texts::kEnterVaultPassword, kStateMasterForAction);
    // A wrong password: the message, and the same request stays, as often as needed.
    Type("s3cretvaulT");
    Type("s3cretvault0");
    EXPECT_EQ(TakeMessages(), Messages(2, texts::kVaultPasswordIncorrect));
    ExpectAsked(texts::kEnterVaultPassword, kStateMasterForAction);

    Type(kMaster);
    ExpectAsked(texts::kResetSelectedPassword, kStateModifyFirst);
    Type("new-1");
    ExpectAsked(texts::kConfirmPassword, kStateModifyConfirm);
    Type("new-2");
    EXPECT_EQ(TakeMessages(), Messages{texts::kPasswordsDiffer});
    ExpectAsked(texts::kSetPassword, kStateModifyFirst);
    TypeTwice(std::string(64, 'z'));

    ExpectList();
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank", "forum"}));
    EXPECT_EQ(vault.Password(kMaster, "bank"), Text(std::string(62, 'z')));
    EXPECT_EQ(vault.Password(kMaster, "mail"), Text("pw-mail"));
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
    ExpectList(kStateMasterForAction);  // the list's buttons set the next state themselves
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "forum", odd}));
    EXPECT_EQ(ListedNames().size(), 3u);

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
    ExpectList();

    PutOnClipboard("before");
    dlg->m_dlgList.OnCopy();
    EXPECT_TRUE(dlg->m_dlgList.m_clipboardUsed);
    Type("nope-nope");
    EXPECT_EQ(ClipboardText(), Text("before"));
    Type(kMaster);
    ExpectList(kStateMasterForAction);
    EXPECT_EQ(ClipboardText(), Text("pw&bank"));
    dlg->m_dlgList.OnClearClipboard();
    EXPECT_FALSE(dlg->m_dlgList.m_clipboardUsed);
    EXPECT_TRUE(Empty(ClipboardText()));

    // Copied again and the window closes without clearing: the clipboard is emptied.
    dlg->m_dlgList.OnCopy();
    Type(kMaster);
    EXPECT_EQ(ClipboardText(), Text("pw&bank"));
    delete dlg;
    dlg = nullptr;
    EXPECT_TRUE(Empty(ClipboardText()));
}

TEST_F(ListActionsTest, WhatTheUserCopiedElsewhereSurvivesClearingAndTheEnd) {
    Select(1);
    dlg->m_dlgList.OnCopy();
    Type(kMaster);
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

TEST_F(ListActionsTest, AnEntryGoneFromTheVaultIsNeitherCopiedNorWritten) {
    Select(2);
    vault.store.DeleteEntry(vault.Directory(), kMaster, MakePasswordEntry("forum", ""));
    PutOnClipboard("untouched");
    dlg->m_dlgList.OnCopy();
    Type(kMaster);
    EXPECT_EQ(ClipboardText(), Text("untouched"));

    Select(2);
    dlg->m_dlgList.OnModify();
    Type(kMaster);
    TypeTwice("replacement");
    ExpectList();
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank"}));
    EXPECT_EQ(ListedNames(), (Names{"mail", "bank"}));
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
    ExpectList();
    dlg->m_dlgList.OnExit();
    EXPECT_FALSE(dlg->IsShown());
    EXPECT_EQ(dlg->GetReturnCode(), wxID_OK);
}

TEST_F(ListActionsTest, ChangingTheMasterPasswordBacksUpAndReencrypts) {
    const std::string before = testsupport::ReadFile(vault.File("ferrocask.db"));
    dlg->m_dlgList.OnChangeMasterPassword();
    ExpectAsked(texts::kEnterOldVaultPassword, kStateMasterForAction);
    Type("not-the-old1");
    EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
    Type(kMaster);
    ExpectAsked(texts::kSetUpVaultPassword, kStateNewMasterFirst);
    TypeTwice("n3wmaster");
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgSelimg);
    EXPECT_TRUE(dlg->m_dlgSelimg.m_path.empty());
    ChoosePictureAndConfirm(WritePicture("new.png", 9));
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
    ExpectList();
    EXPECT_EQ(dlg->m_masterPassword.view(), "n3wmaster");

    const std::vector<std::string> backups =
        testsupport::ListFiles(vault.Directory(), "ferrocask_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].size(), std::string("ferrocask_20131205093007.db").size());
    EXPECT_EQ(testsupport::ReadFile(vault.File(backups[0])), before);
    EXPECT_EQ(vault.Names("n3wmaster"), (Names{"mail", "bank", "forum"}));
    EXPECT_EQ(vault.Password("n3wmaster", "bank"), Text("pw&bank"));
    int width = 0, height = 0;
    const unsigned char* picture =
        vault.store.ReadPicture(vault.Directory(), "n3wmaster", &width, &height);
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(std::equal(picture, picture + kPictureBytes, dlg->m_dlgSelimg.m_pixels.m_pBuffer));

    // From now on only the new password is taken for list actions.
    dlg->m_dlgList.OnModify();
    Type(kMaster);
    EXPECT_EQ(TakeMessages(), Messages{texts::kVaultPasswordIncorrect});
    Type("n3wmaster");
    ExpectAsked(texts::kResetSelectedPassword, kStateModifyFirst);
}

TEST_F(ListActionsTest, ChangesThatCannotBeWrittenLeaveTheVaultAndShowTheListAsStored) {
    const Names stored{"mail", "bank", "forum"};
    const std::string before = VaultBytes();
    ASSERT_TRUE(std::filesystem::create_directory(BlockingFolder()));
    const auto expectUnchanged = [&](const char* action) {
        EXPECT_EQ(TakeMessages(), Messages{texts::kVaultNotChanged}) << action;
        EXPECT_EQ(ListedNames(), stored) << action;
        EXPECT_EQ(vault.Names(kMaster), stored) << action;
        EXPECT_TRUE(VaultBytes() == before) << action;  // byte for byte
    };

    AddPassword("shop");
    TypeTwice("pw-shop");
    ExpectList();
    expectUnchanged("add");

    Select(1);
    dlg->m_dlgList.OnModify();
    Type(kMaster);
    TypeTwice("pw-changed");
    ExpectList();
    expectUnchanged("modify");
    EXPECT_EQ(vault.Password(kMaster, "bank"), Text("pw&bank"));

    Select(2);
    dlg->m_dlgList.OnDelete();
    Type(kMaster);
    ExpectList(kStateMasterForAction);
    expectUnchanged("delete");

    // Once the folder is gone the same actions go through.
    ASSERT_TRUE(std::filesystem::remove(BlockingFolder()));
    Select(2);
    dlg->m_dlgList.OnDelete();
    Type(kMaster);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(ListedNames(), (Names{"mail", "bank"}));
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank"}));
}

TEST_F(ListActionsTest, AFailedChangeStartsOverAndTriesAgainWithTheOldPassword) {
    const std::string before = VaultBytes();
    dlg->m_dlgList.OnChangeMasterPassword();
    Type(kMaster);
    TypeTwice("n3wmaster");
    ASSERT_TRUE(std::filesystem::create_directory(BlockingFolder()));
    ChoosePictureAndConfirm(WritePicture("new.png", 9));
    EXPECT_EQ(TakeMessages(), Messages{texts::kChangeMasterPasswordFailed});
    ExpectAsked(texts::kSetUpVaultPassword, kStateNewMasterFirst);
    EXPECT_EQ(dlg->m_listAction, kChangeMasterPassword);
    EXPECT_EQ(dlg->m_masterPassword.view(), kMaster);
    EXPECT_TRUE(VaultBytes() == before);
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank", "forum"}));
    Ombrix::Data<unsigned char> picture;
    testsupport::TestVault::MakePicture(picture, 2);
    const unsigned char* shown =
        vault.store.ReadPicture(vault.Directory(), kMaster, nullptr, nullptr);
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(std::equal(shown, shown + kPictureBytes, picture.m_pBuffer));

    ASSERT_TRUE(std::filesystem::remove(BlockingFolder()));
    TypeTwice("an0thernew");
    ChoosePictureAndConfirm(WritePicture("other.png", 11));
    EXPECT_EQ(TakeMessages(), Messages{texts::kSetMasterPasswordDone});
    ExpectList();
    EXPECT_EQ(dlg->m_masterPassword.view(), "an0thernew");
    EXPECT_EQ(vault.Names("an0thernew"), (Names{"mail", "bank", "forum"}));
}
