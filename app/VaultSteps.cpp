// The steps of the vault dialogue, one for each row of its table of states (VaultDialogue.cpp).
// Each acts on the vault and the view and returns the state the dialogue moves to.

#include <cstddef>
#include <optional>
#include <string_view>

#include "app/VaultDialogue.h"
#include "resources/Texts.h"
#include "vault/PasswordEntry.h"
#include "vault/VaultBackup.h"
#include "vault/VaultCipher.h"

VaultState VaultDialogue::OpenOrSetUp() {
    switch (m_vault.CheckVault(m_programDirectory)) {
        case VaultFileStatus::kVault:
            AskForPassword(texts::kEnterVaultPassword);
            return VaultState::kOpenVault;
        case VaultFileStatus::kNoVault:
            AskForPassword(texts::kSetUpVaultPassword);
            return VaultState::kNewMasterFirst;
        case VaultFileStatus::kUnreadable:
            break;
    }
    // A vault file that exists is never taken for a missing one: setting up a new vault
    // would write over the user's passwords. The file is left as it is, and the program
    // ends once the user has read why.
    m_view.SayAboutFile(texts::kVaultFileUnreadable, VaultFilePath(m_programDirectory));
    m_view.EndOnceShown();
    return VaultState::kStart;
}

VaultState VaultDialogue::ShowPictureOfTypedPassword() {
    // A wrong password decrypts to noise (or to nothing when it is too short); the user's
    // answer, not a stored check value, decides.
    int width = 0;
    int height = 0;
    const unsigned char* picture =
        m_vault.ReadPicture(m_programDirectory, m_enteredPassword, &width, &height);
    m_view.ShowPictureCheck(texts::kPictureNotSeenAdvice, picture, width, height);
    m_shown = Panel::kPictureCheck;
    m_pictureSeen = false;
    return VaultState::kPictureCheck;
}

VaultState VaultDialogue::KeepFirstMasterTyping() {
    KeepFirstTyping(texts::kConfirmVaultPassword);
    return VaultState::kNewMasterConfirm;
}

VaultState VaultDialogue::CheckNewMasterPassword() {
    if (!ConfirmTyping(&VaultDialogue::MasterPasswordBreach, texts::kSetVaultPassword)) {
        return VaultState::kNewMasterFirst;
    }
    // m_enteredPassword keeps the new master password until the picture is chosen.
    m_view.AskForPicture(texts::kChoosePictureInstructions);
    m_shown = Panel::kPictureChoice;
    m_pictureSeen = false;
    return VaultState::kChoosePicture;
}

VaultState VaultDialogue::SetMasterPasswordWithPicture() {
    if (!m_pictureSeen) {
        return VaultState::kChoosePicture;
    }
    const bool changing = m_listAction != ListAction::kNone;
    std::optional<std::string_view> oldMaster;
    if (changing) {
        BackupVaultFile(m_programDirectory);  // a failed copy does not stop the change
        oldMaster = m_masterPassword.view();
    }
    if (!m_vault.SetMasterPassword(m_chosenPicture, m_programDirectory, m_enteredPassword,
                                   oldMaster)) {
        // A failed change leaves the vault as it was, under the old password.
        m_view.Say(changing ? texts::kChangeMasterPasswordFailed : texts::kSetMasterPasswordFailed);
        AskForPassword(texts::kSetUpVaultPassword);
        return VaultState::kNewMasterFirst;
    }
    m_view.Say(texts::kSetMasterPasswordDone);
    m_masterPassword = m_enteredPassword;
    m_enteredPassword.clear();
    ShowList(false);
    return VaultState::kList;
}

VaultState VaultDialogue::TakePictureAnswer() {
    if (!m_pictureSeen) {
        AskForPassword(texts::kEnterVaultPassword);  // as often as the user answers so
        return VaultState::kOpenVault;
    }
    m_masterPassword = m_enteredPassword;
    m_enteredPassword.clear();
    ShowList(true);
    return VaultState::kList;
}

VaultState VaultDialogue::WaitForListButton() {
    return VaultState::kList;
}

VaultState VaultDialogue::AskForNewName() {
    m_view.AskForName();
    m_shown = Panel::kName;
    return VaultState::kAddPressed;
}

VaultState VaultDialogue::AskForNewEntryPassword() {
    AskForPassword(texts::kSetPassword);
    return VaultState::kNewEntryFirst;
}

VaultState VaultDialogue::KeepFirstEntryTyping() {
    KeepFirstTyping(texts::kConfirmPassword);
    return VaultState::kNewEntryConfirm;
}

VaultState VaultDialogue::AddNewEntry() {
    if (!ConfirmTyping(&VaultDialogue::EntryPasswordBreach, texts::kSetPassword)) {
        return VaultState::kNewEntryFirst;
    }
    PasswordEntry entry = MakePasswordEntry(m_enteredName, m_enteredPassword);
    const bool saved = m_vault.AddEntry(m_programDirectory, m_masterPassword, entry);
    WipeEntry(entry);
    ShowListAfterChange(saved);
    return VaultState::kList;
}

VaultState VaultDialogue::KeepFirstModifyTyping() {
    KeepFirstTyping(texts::kConfirmPassword);
    return VaultState::kModifyConfirm;
}

VaultState VaultDialogue::ModifySelectedEntry() {
    if (!ConfirmTyping(&VaultDialogue::EntryPasswordBreach, texts::kSetPassword)) {
        return VaultState::kModifyFirst;
    }
    // Only an entry that is still in the vault is rewritten: the stored one with its new
    // password, never a record made up from nothing. An entry gone meanwhile is no failure;
    // a list that could not be read is one.
    bool saved = true;
    if (const std::optional<std::string> name = m_view.SelectedName()) {
        PasswordEntry entry{};
        if (m_vault.GetEntry(m_programDirectory, m_masterPassword, *name, entry)) {
            SetFieldText(entry.password, m_enteredPassword);
            saved = m_vault.ModifyEntry(m_programDirectory, m_masterPassword, entry);
        } else {
            saved = m_vault.EntriesReadable(m_programDirectory);
        }
        WipeEntry(entry);
    }
    ShowListAfterChange(saved);
    return VaultState::kList;
}

VaultState VaultDialogue::AskForOldMasterPassword() {
    AskForPassword(texts::kEnterOldVaultPassword);
    return VaultState::kMasterForAction;
}

VaultState VaultDialogue::AskForMasterPassword() {
    AskForPassword(texts::kEnterVaultPassword);
    return VaultState::kMasterForAction;
}

VaultState VaultDialogue::RunPendingAction() {
    // The remembered master password decides, not the vault file.
    if (m_enteredPassword != m_masterPassword) {
        m_enteredPassword.clear();
        m_view.Say(texts::kVaultPasswordIncorrect);
        return VaultState::kMasterForAction;
    }
    switch (m_listAction) {
        case ListAction::kChangeMasterPassword:
            AskForPassword(texts::kSetUpVaultPassword);
            return VaultState::kNewMasterFirst;
        case ListAction::kModifySelected:
            AskForPassword(texts::kResetSelectedPassword);
            return VaultState::kModifyFirst;
        case ListAction::kDeleteSelected:
            DeleteSelected();
            break;
        case ListAction::kCopySelected:
            CopySelected();
            break;
        case ListAction::kNone:
            break;
    }
    return VaultState::kMasterForAction;
}

void VaultDialogue::DeleteSelected() {
    bool saved = true;
    if (const std::optional<std::string> name = m_view.SelectedName()) {
        PasswordEntry entry{};
        SetFieldText(entry.name, *name);
        saved = m_vault.DeleteEntry(m_programDirectory, m_masterPassword, entry);
    }
    ShowListAfterChange(saved);
}

void VaultDialogue::CopySelected() {
    m_enteredPassword.clear();
    ShowList(false);
    if (const std::optional<std::string> name = m_view.SelectedName()) {
        PasswordEntry entry{};
        // Nothing is copied for a name that is no longer stored.
        if (m_vault.GetEntry(m_programDirectory, m_masterPassword, *name, entry)) {
            m_view.PutOnClipboard(FieldText(entry.password));
        }
        WipeEntry(entry);
    }
}

void VaultDialogue::AskForPassword(const char* prompt) {
    m_view.AskForPassword(prompt);
    m_shown = Panel::kPassword;
    m_enteredPassword.clear();
}

void VaultDialogue::KeepFirstTyping(const char* confirmPrompt) {
    m_firstEntry = m_enteredPassword;
    m_view.PromptAgain(confirmPrompt);
    m_enteredPassword.clear();
}

bool VaultDialogue::ConfirmTyping(const char* (VaultDialogue::*rule)(), const char* retryPrompt) {
    m_secondEntry = m_enteredPassword;
    const char* breach = (this->*rule)();
    if (breach != nullptr) {
        m_view.Say(breach);
        m_view.PromptAgain(retryPrompt);
        m_enteredPassword.clear();
    }
    return breach == nullptr;
}

void VaultDialogue::ShowListAfterChange(bool saved) {
    m_enteredPassword.clear();
    ShowList(true);
    if (!saved) {
        m_view.Say(texts::kVaultNotChanged);
    }
}

void VaultDialogue::ShowList(bool reread) {
    if (reread) {
        const std::vector<std::string> names = StoredNames();
        m_view.ShowList(&names);
    } else {
        m_view.ShowList(nullptr);
    }
    m_shown = Panel::kList;
}

std::vector<std::string> VaultDialogue::StoredNames() {
    EntryList entries;
    m_vault.ListEntries(entries, m_programDirectory, m_masterPassword);
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const PasswordEntry& entry : entries) {
        names.emplace_back(FieldText(entry.name));
    }
    return names;
}

const char* VaultDialogue::MasterPasswordBreach() {
    // Only lower-case letters count as letters: upper-case letters and digits have none.
    bool letter = false;
    bool digit = false;
    for (const char c : m_secondEntry.view()) {
        letter = letter || (c >= 'a' && c <= 'z');
        digit = digit || (c >= '0' && c <= '9');
        if (letter && digit) {
            break;
        }
    }
    const char* breach = nullptr;
    if (m_secondEntry != m_firstEntry) {
        breach = texts::kPasswordsDiffer;
    } else if (m_secondEntry.size() < static_cast<std::size_t>(kMinMasterPasswordLength)) {
        breach = texts::kPasswordTooShort;
    } else if (!digit) {
        breach = texts::kPasswordWithoutDigit;
    } else if (!letter) {
        breach = texts::kPasswordWithoutLetter;
    }
    m_firstEntry.clear();
    m_secondEntry.clear();
    return breach;
}

const char* VaultDialogue::EntryPasswordBreach() {
    const char* breach = nullptr;
    if (m_secondEntry != m_firstEntry) {
        breach = texts::kPasswordsDiffer;
    } else if (m_secondEntry.empty()) {
        breach = texts::kPasswordEmpty;
    }
    m_firstEntry.clear();
    m_secondEntry.clear();
    return breach;
}
