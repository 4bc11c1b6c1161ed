// The vault dialogue without a window: each state's step against a real vault in a scratch
// folder, seen through a view that records what it was asked to show.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/VaultDialogue.h"
#include "resources/Texts.h"
#include "support/TestVault.h"
#include "vault/PasswordEntry.h"

namespace {

using Calls = std::vector<std::string>;
using Names = std::vector<std::string>;
using Text = std::optional<std::string>;
using S = VaultState;

// The view, as a list of the calls the dialogue made, and a list selection set by the test.
class RecordingView : public VaultDialogueView {
public:
    void AskForPassword(const char* prompt) override { Add("password: ", prompt); }
    void PromptAgain(const char* prompt) override { Add("prompt: ", prompt); }
    void ShowPictureCheck(const char* prompt, const unsigned char* pixels, int width,
                          int height) override {
        picture.assign(reinterpret_cast<const char*>(pixels), pixels ? width * height * 3 : 0);
        Add("check: ", prompt);
    }
    void AskForPicture(const char* prompt) override { Add("choose: ", prompt); }
    void ShowList(const std::vector<std::string>* names) override {
        std::string call = "list";
        for (std::size_t i = 0; names != nullptr && i < names->size(); ++i) {
            call += (i == 0 ? ": " : ",") + (*names)[i];
        }
        if (names != nullptr) {
            selected = names->empty() ? Text() : Text(names->front());
        }
        calls.push_back(call);
    }
    void AskForName() override { calls.push_back("name"); }
    std::optional<std::string> SelectedName() const override { return selected; }
    void Say(const std::string& text) override { Add("say: ", text); }
    void SayAboutFile(const char* text, const std::string& path) override {
        Say(std::string(text).replace(std::string(text).find("%s"), 2, path));
    }
    bool AskOkCancel(const char* question) override {
        Add("ask: ", question);
        return answerOk;
    }
    void PutOnClipboard(std::string_view password) override { Add("clipboard: ", password); }
    void EndNow() override { calls.push_back("end"); }
    void EndOnceShown() override { calls.push_back("end once shown"); }
    void Add(const char* what, std::string_view text) { calls.push_back(what + std::string(text)); }

    Calls calls;
    Text selected;
    std::string picture;
    bool answerOk = true;
};

std::string Password(const char* prompt) {
    return std::string("password: ") + prompt;
}
std::string Prompt(const char* prompt) {
    return std::string("prompt: ") + prompt;
}
std::string Say(const char* text) {
    return std::string("say: ") + text;
}
const std::string kChoose = std::string("choose: ") + texts::kChoosePictureInstructions;

const std::string kMaster = "s3cretvault";

class VaultDialogueTest : public ::testing::Test {
protected:
    void Start() {
        dialogue = std::make_unique<VaultDialogue>(view, vault.Directory());
        dialogue->Start();
    }
    // A vault with three entries, opened and showing its list.
    void Open() {
        vault.Create(kMaster, 2, {{"mail", "pw-mail"}, {"bank", "pw&bank"}, {"forum", "pw-forum"}});
        Start();
        Type(kMaster);
        dialogue->OnPictureChecked(true);
        ASSERT_EQ(Take(), (Calls{Password(texts::kEnterVaultPassword),
                                 std::string("check: ") + texts::kPictureNotSeenAdvice,
                                 "list: mail,bank,forum"}));
    }
    void Type(const std::string& text) { dialogue->OnPasswordTyped(Ombrix::SecretString(text)); }
    void TypeTwice(const std::string& text) {
        Type(text);
        Type(text);
    }
    void Press(ListButton button) { dialogue->OnListButton(button); }
    void Select(const std::string& name) { view.selected = name; }
    // Chooses a picture, made from seed, on the picture selection panel.
    void ChoosePicture(int seed) {
        testsupport::TestVault::MakePicture(chosen, seed);
        dialogue->OnPictureChosen(chosen);
    }
    Calls Take() { return std::exchange(view.calls, {}); }
    S State() const { return dialogue->State(); }
    std::string VaultBytes() const { return testsupport::ReadFile(vault.File("ferrocask.db")); }
    // A folder under the name of the copy that every change is made in: every change fails.
    void BlockChanges(bool block) {
        const std::string folder = vault.File("ferrocask.db.new");
        ASSERT_TRUE(block ? std::filesystem::create_directory(folder)
                          : std::filesystem::remove(folder));
    }
    Text StoredPicture(const std::string& master) {
        const unsigned char* picture =
            vault.store.ReadPicture(vault.Directory(), master, nullptr, nullptr);
        return picture == nullptr
                   ? Text()
                   : Text(std::string(reinterpret_cast<const char*>(picture), kPictureBytes));
    }
    static std::string Bytes(const Ombrix::Data<unsigned char>& data) {
        return std::string(reinterpret_cast<const char*>(data.m_pBuffer), data.m_nLength);
    }

    testsupport::TestVault vault;
    RecordingView view;
    std::unique_ptr<VaultDialogue> dialogue;
    Ombrix::Data<unsigned char> chosen;
};

}  // namespace

TEST_F(VaultDialogueTest, FirstRunAsksForANewMasterPasswordUnderItsRulesInTheirOrder) {
    Start();
    EXPECT_EQ(Take(), Calls{Password(texts::kSetUpVaultPassword)});
    EXPECT_EQ(State(), S::kNewMasterFirst);
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
        {"abc12345", "ABC12345", texts::kPasswordsDiffer},
        {"ab", "1", texts::kPasswordsDiffer},  // differing wins over every other rule
    };
    for (const Case& c : rejected) {
        Type(c.first);
        EXPECT_EQ(State(), S::kNewMasterConfirm);
        Type(c.second);
        // The next typing is a new first one.
        EXPECT_EQ(Take(), (Calls{Prompt(texts::kConfirmVaultPassword), Say(c.message),
                                 Prompt(texts::kSetVaultPassword)}))
            << c.first << " / " << c.second;
        EXPECT_EQ(State(), S::kNewMasterFirst);
    }
    TypeTwice("AB12CD34ef");  // upper-case letters do no harm beside lower-case ones
    EXPECT_EQ(Take(), (Calls{Prompt(texts::kConfirmVaultPassword), kChoose}));
    EXPECT_EQ(State(), S::kChoosePicture);

    // Answers of panels that are not shown are not taken.
    Type("AB12CD34ef");
    dialogue->OnPictureChecked(true);
    dialogue->OnNameTyped("x");
    Press(ListButton::kAdd);
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(State(), S::kChoosePicture);

    // A set-up that cannot be written says so and starts over.
    BlockChanges(true);
    ChoosePicture(1);
    EXPECT_EQ(Take(),
              (Calls{Say(texts::kSetMasterPasswordFailed), Password(texts::kSetUpVaultPassword)}));
    EXPECT_EQ(State(), S::kNewMasterFirst);
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
    BlockChanges(false);
    TypeTwice("AB12CD34ef");
    Take();
    ChoosePicture(5);
    EXPECT_EQ(Take(), (Calls{Say(texts::kSetMasterPasswordDone), "list"}));
    EXPECT_EQ(State(), S::kList);
    EXPECT_EQ(dialogue->PendingAction(), ListAction::kNone);
    // The vault opens with that password and holds exactly the chosen picture.
    EXPECT_EQ(StoredPicture("AB12CD34ef"), Bytes(chosen));
    EXPECT_TRUE(vault.Names("AB12CD34ef").empty());
    EXPECT_TRUE(testsupport::ListFiles(vault.Directory(), "ferrocask_").empty());  // no backup
}

TEST_F(VaultDialogueTest, OnlyTheSeenPictureOpensTheVault) {
    vault.Create(kMaster, 3, {{"mail", "pw-mail"}, {"bank", "pw-bank"}});
    Ombrix::Data<unsigned char> stored;
    testsupport::TestVault::MakePicture(stored, 3);
    Start();
    EXPECT_EQ(Take(), Calls{Password(texts::kEnterVaultPassword)});
    EXPECT_EQ(State(), S::kOpenVault);
    const std::string check = std::string("check: ") + texts::kPictureNotSeenAdvice;

    // A wrong password shows a scrambled picture (none when shorter than 8); "没看到" asks
    // again, any number of times.
    for (const std::string wrong : {"wrongpass1", "s3cretvault!", "abc"}) {
        Type(wrong);
        EXPECT_EQ(Take(), Calls{check});
        EXPECT_EQ(State(), S::kPictureCheck);
        EXPECT_EQ(view.picture.size(), wrong.size() < 8 ? 0u : size_t{kPictureBytes});
        EXPECT_NE(view.picture, Bytes(stored));
        dialogue->OnPictureChecked(false);
        EXPECT_EQ(Take(), Calls{Password(texts::kEnterVaultPassword)});
        EXPECT_EQ(State(), S::kOpenVault);
    }
    Type(kMaster);
    EXPECT_EQ(view.picture, Bytes(stored));
    dialogue->OnPictureChecked(true);
    EXPECT_EQ(Take(), (Calls{check, "list: mail,bank"}));
    EXPECT_EQ(State(), S::kList);
}

TEST_F(VaultDialogueTest, AVaultFileThatCannotBeReadIsLeftAsItIsAndTheWindowEnds) {
    const std::string path = vault.File("ferrocask.db");
    testsupport::WriteFile(path, "just a note, not a vault\n");
    std::string expected = texts::kVaultFileUnreadable;
    expected.replace(expected.find("%s"), 2, path);
    Start();
    // Above all, no request to set up a vault over it.
    EXPECT_EQ(Take(), (Calls{"say: " + expected, "end once shown"}));
    EXPECT_EQ(State(), S::kStart);
    Type("abc12345");
    Type("abc12345");
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(testsupport::ReadFile(path), "just a note, not a vault\n");
    EXPECT_EQ(testsupport::ListFiles(vault.Directory()), Names{"ferrocask.db"});
}

TEST_F(VaultDialogueTest, AddingAPasswordAsksForANameAndForItTwice) {
    Open();
    Press(ListButton::kAdd);
    EXPECT_EQ(Take(), Calls{"name"});
    EXPECT_EQ(State(), S::kAddPressed);
    dialogue->OnNameTyped("\xCD\xF8\xD5\xBE");
    EXPECT_EQ(Take(), Calls{Password(texts::kSetPassword)});
    EXPECT_EQ(State(), S::kNewEntryFirst);
    TypeTwice("");
    Type("a");
    Type("b");
    EXPECT_EQ(Take(), (Calls{Prompt(texts::kConfirmPassword), Say(texts::kPasswordEmpty),
                             Prompt(texts::kSetPassword), Prompt(texts::kConfirmPassword),
                             Say(texts::kPasswordsDiffer), Prompt(texts::kSetPassword)}));
    EXPECT_EQ(State(), S::kNewEntryFirst);

    TypeTwice("p&ssW0rd!");  // no length or character rule for list passwords
    EXPECT_EQ(Take(),
              (Calls{Prompt(texts::kConfirmPassword), "list: mail,bank,forum,\xCD\xF8\xD5\xBE"}));
    EXPECT_EQ(State(), S::kList);
    EXPECT_EQ(vault.Password(kMaster, "\xCD\xF8\xD5\xBE"), Text("p&ssW0rd!"));
    EXPECT_EQ(vault.Kind(kMaster, "\xCD\xF8\xD5\xBE"), "normal");

    // Texts longer than a field holds are cut to 62 bytes.
    Press(ListButton::kAdd);
    dialogue->OnNameTyped(std::string(70, 'n'));
    TypeTwice(std::string(70, 'q'));
    EXPECT_EQ(vault.Password(kMaster, std::string(62, 'n')), Text(std::string(62, 'q')));
}

TEST_F(VaultDialogueTest, ModifyingNeedsTheRememberedMasterPassword) {
    Open();
    view.selected.reset();
    for (ListButton button : {ListButton::kModify, ListButton::kDelete, ListButton::kCopy}) {
        Press(button);
    }
    EXPECT_EQ(Take(), Calls(3, Say(texts::kNothingSelected)));
    EXPECT_EQ(State(), S::kList);

    Select("bank");
    Press(ListButton::kModify);
    EXPECT_EQ(Take(), Calls{Password(texts::kEnterVaultPassword)});
    EXPECT_EQ(State(), S::kMasterForAction);
    EXPECT_EQ(dialogue->PendingAction(), ListAction::kModifySelected);
    // A wrong password: the message, and the same request stays, as often as needed. The
    // remembered password decides, so a text the file would take is refused too.
    Type("s3cretvaulT");
    Type("");
    EXPECT_EQ(Take(), Calls(2, Say(texts::kVaultPasswordIncorrect)));
    EXPECT_EQ(State(), S::kMasterForAction);

    Type(kMaster);
    EXPECT_EQ(Take(), Calls{Password(texts::kResetSelectedPassword)});
    EXPECT_EQ(State(), S::kModifyFirst);
    Type("new-1");
    EXPECT_EQ(State(), S::kModifyConfirm);
    Type("new-2");
    EXPECT_EQ(State(), S::kModifyFirst);
    TypeTwice(std::string(64, 'z'));
    EXPECT_EQ(Take(), (Calls{Prompt(texts::kConfirmPassword), Say(texts::kPasswordsDiffer),
                             Prompt(texts::kSetPassword), Prompt(texts::kConfirmPassword),
                             "list: mail,bank,forum"}));
    EXPECT_EQ(State(), S::kList);
    EXPECT_EQ(vault.Password(kMaster, "bank"), Text(std::string(62, 'z')));
    EXPECT_EQ(vault.Password(kMaster, "mail"), Text("pw-mail"));
    EXPECT_EQ(vault.Kind(kMaster, "bank"), "normal");
}

TEST_F(VaultDialogueTest, DeletingAndCopyingLeaveTheListShownAndItsButtonsWorking) {
    Open();
    const std::string odd = "\x80odd\xFF";  // names need not be valid text
    vault.store.AddEntry(vault.Directory(), kMaster, MakePasswordEntry(odd, "x"));
    Select(odd);
    Press(ListButton::kDelete);
    Type(kMaster);
    EXPECT_EQ(Take(), (Calls{Password(texts::kEnterVaultPassword), "list: mail,bank,forum"}));
    EXPECT_EQ(State(), S::kMasterForAction);  // the list's buttons set the next state
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank", "forum"}));

    Select("bank");
    view.answerOk = false;
    Press(ListButton::kCopy);
    EXPECT_EQ(Take(), Calls{std::string("ask: ") + texts::kCopyWarning});
    view.answerOk = true;
    Press(ListButton::kCopy);
    Type("nope-nope");
    Type(kMaster);
    EXPECT_EQ(Take(), (Calls{std::string("ask: ") + texts::kCopyWarning,
                             Password(texts::kEnterVaultPassword),
                             Say(texts::kVaultPasswordIncorrect), "list", "clipboard: pw&bank"}));
    EXPECT_EQ(dialogue->PendingAction(), ListAction::kCopySelected);

    // An entry gone from the vault since the list was read is neither copied nor written.
    Select("forum");
    vault.store.DeleteEntry(vault.Directory(), kMaster, MakePasswordEntry("forum", ""));
    Press(ListButton::kCopy);
    Type(kMaster);
    Press(ListButton::kModify);
    Type(kMaster);
    TypeTwice("replacement");
    const Calls calls = Take();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& c) { return c.rfind("clipboard", 0) == 0; }),
              0);
    EXPECT_EQ(calls.back(), "list: mail,bank");
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank"}));
    Press(ListButton::kExit);
    EXPECT_EQ(Take(), Calls{"end"});
}

TEST_F(VaultDialogueTest, ChangingTheMasterPasswordBacksUpAndReencrypts) {
    Open();
    const std::string before = VaultBytes();
    Press(ListButton::kChangeMasterPassword);
    EXPECT_EQ(State(), S::kMasterForAction);
    Type("not-the-old1");
    Type(kMaster);
    EXPECT_EQ(State(), S::kNewMasterFirst);
    TypeTwice("n3wmaster");
    // A change that cannot be written leaves the vault under the old password and starts
    // over as a change.
    BlockChanges(true);
    ChoosePicture(9);
    EXPECT_EQ(
        Take(),
        (Calls{Password(texts::kEnterOldVaultPassword), Say(texts::kVaultPasswordIncorrect),
               Password(texts::kSetUpVaultPassword), Prompt(texts::kConfirmVaultPassword), kChoose,
               Say(texts::kChangeMasterPasswordFailed), Password(texts::kSetUpVaultPassword)}));
    EXPECT_EQ(State(), S::kNewMasterFirst);
    EXPECT_EQ(dialogue->PendingAction(), ListAction::kChangeMasterPassword);
    EXPECT_TRUE(VaultBytes() == before);
    EXPECT_EQ(vault.Names(kMaster), (Names{"mail", "bank", "forum"}));

    BlockChanges(false);
    TypeTwice("n3wmaster");
    ChoosePicture(9);
    EXPECT_EQ(Take(), (Calls{Prompt(texts::kConfirmVaultPassword), kChoose,
                             Say(texts::kSetMasterPasswordDone), "list"}));
    EXPECT_EQ(State(), S::kList);
    // Each attempt backs the old vault up first (one file when both fell in one second).
    const Names backups = testsupport::ListFiles(vault.Directory(), "ferrocask_");
    ASSERT_FALSE(backups.empty());
    for (const std::string& backup : backups) {
        EXPECT_EQ(backup.size(), std::string("ferrocask_20131205093007.db").size());
        EXPECT_EQ(testsupport::ReadFile(vault.File(backup)), before);
    }
    EXPECT_EQ(vault.Names("n3wmaster"), (Names{"mail", "bank", "forum"}));
    EXPECT_EQ(vault.Password("n3wmaster", "bank"), Text("pw&bank"));
    EXPECT_EQ(StoredPicture("n3wmaster"), Bytes(chosen));

    // From now on only the new password is taken for list actions.
    Select("bank");
    Press(ListButton::kModify);
    Type(kMaster);
    Type("n3wmaster");
    EXPECT_EQ(Take(),
              (Calls{Password(texts::kEnterVaultPassword), Say(texts::kVaultPasswordIncorrect),
                     Password(texts::kResetSelectedPassword)}));
}

TEST_F(VaultDialogueTest, ChangesThatCannotBeWrittenLeaveTheVaultAndShowTheListAsStored) {
    Open();
    const std::string before = VaultBytes();
    BlockChanges(true);
    const auto expectUnchanged = [&](const char* action) {
        const Calls calls = Take();
        ASSERT_GE(calls.size(), 2u) << action;
        EXPECT_EQ(Calls(calls.end() - 2, calls.end()),
                  (Calls{"list: mail,bank,forum", Say(texts::kVaultNotChanged)}))
            << action;
        EXPECT_TRUE(VaultBytes() == before) << action;  // byte for byte
    };
    Press(ListButton::kAdd);
    dialogue->OnNameTyped("shop");
    TypeTwice("pw-shop");
    expectUnchanged("add");

    Select("bank");
    Press(ListButton::kModify);
    Type(kMaster);
    TypeTwice("pw-changed");
    expectUnchanged("modify");

    Press(ListButton::kDelete);
    Type(kMaster);
    expectUnchanged("delete");
    EXPECT_EQ(vault.Password(kMaster, "bank"), Text("pw&bank"));

    // A list that can no longer be read is not taken for an entry gone meanwhile.
    BlockChanges(false);
    vault.CloseFiles();
    const std::string damaged(30000, 'j');
    testsupport::WriteFile(vault.File("ferrocask.db"), damaged);
    Press(ListButton::kModify);
    Type(kMaster);
    TypeTwice("pw-changed");
    EXPECT_EQ(Take().back(), Say(texts::kVaultNotChanged));
    EXPECT_TRUE(VaultBytes() == damaged);
    vault.CloseFiles();
    testsupport::WriteFile(vault.File("ferrocask.db"), before);

    // Once the folder is gone the same action goes through.
    Select("bank");
    Press(ListButton::kDelete);
    Type(kMaster);
    EXPECT_EQ(Take().back(), "list: mail,forum");
}
