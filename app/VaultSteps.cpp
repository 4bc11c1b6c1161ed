// The vault dialogue's state machine: what each answer of a panel leads to.

#include <optional>
#include <string_view>

#include "app/CferrocaskDlg.h"
#include "platform/Clipboard.h"
#include "resources/Texts.h"
#include "vault/PasswordEntry.h"
#include "vault/VaultBackup.h"

namespace {

constexpr std::size_t kMinMasterPasswordBytes = 8;

}  // namespace

void CferrocaskDlg::OnVaultStep() {
    switch (m_state) {
        case kStateStart:
            StepStart();
            break;
        case kStateOpenVault:
            StepOpenVault();
            break;
        case kStateNewMasterFirst:
            StepNewMasterFirst();
            break;
        case kStateNewMasterConfirm:
            StepNewMasterConfirm();
            break;
        case kStateChoosePicture:
            StepChoosePicture();
            break;
        case kStatePictureCheck:
            StepPictureCheck();
            break;
        case kStateAddPressed:
            StepAddPressed();
            break;
        case kStateNameSubmitted:
            StepNameSubmitted();
            break;
        case kStateNewEntryFirst:
            StepNewEntryFirst();
            break;
        case kStateNewEntryConfirm:
            StepNewEntryConfirm();
            break;
        case kStateModifyFirst:
            StepModifyFirst();
            break;
        case kStateModifyConfirm:
            StepModifyConfirm();
            break;
        case kStateChangeMasterAsked:
            StepActionAsked(texts::kEnterOldVaultPassword);
            break;
        case kStateListActionAsked:
            StepActionAsked(texts::kEnterVaultPassword);
            break;
        case kStateMasterForAction:
            StepMasterForAction();
            break;
        default:  // the list waits for a button (state 6)
            break;
    }
}

void CferrocaskDlg::StepStart() {
    switch (m_vault->CheckVault(m_programDirectory)) {
        case VaultFileStatus::kVault:
            AskForPassword(texts::kEnterVaultPassword);
            m_state = kStateOpenVault;
            break;
        case VaultFileStatus::kNoVault:
            AskForPassword(texts::kSetUpVaultPassword);
            m_state = kStateNewMasterFirst;
            break;
        case VaultFileStatus::kUnreadable:
            // A vault file that exists is never taken for a missing one: setting up a new
            // vault would write over the user's passwords. The file is left as it is, and the
            // program ends once the user has read why.
            SayVaultFileUnreadable();
            CallAfter([this] { Close(); });
            break;
    }
}

void CferrocaskDlg::StepOpenVault() {
    m_dlgPassword.Hide();
    m_dlgImage.m_prompt = wxString::FromUTF8(texts::kPictureNotSeenAdvice);
    const unsigned char* picture = m_vault->ReadPicture(m_programDirectory, m_enteredPassword,
                                                        &m_dlgImage.m_width, &m_dlgImage.m_height);
    m_dlgImage.m_pixels.m_nLength = 0;
    if (picture != nullptr) {
        m_dlgImage.m_pixels.Append(picture, m_dlgImage.m_width * m_dlgImage.m_height * 3);
    }
    m_dlgImage.TransferDataToWindow();
    m_dlgImage.Show();
    m_dlgImage.Refresh();
    m_pictureSeen = false;
    m_state = kStatePictureCheck;
}

void CferrocaskDlg::StepNewMasterFirst() {
    TakeFirstTyping(texts::kConfirmVaultPassword);
    m_state = kStateNewMasterConfirm;
}

const char* CferrocaskDlg::CheckNewMasterPassword() {
    // Only lower-case letters count as letters: upper-case letters and digits have none.
    bool letter = false;
    bool digit = false;
    for (const char c : m_secondEntry.view()) {
        if (c >= 'a' && c <= 'z') {
            letter = true;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        }
        if (letter && digit) {
            break;
        }
    }
    const char* breach = nullptr;
    if (m_secondEntry != m_firstEntry) {
        breach = texts::kPasswordsDiffer;
    } else if (m_secondEntry.size() < kMinMasterPasswordBytes) {
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

const char* CferrocaskDlg::CheckNewEntryPassword() {
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

void CferrocaskDlg::StepNewMasterConfirm() {
    m_secondEntry = m_enteredPassword;
    if (const char* breach = CheckNewMasterPassword()) {
        Say(breach);
        RePrompt(texts::kSetVaultPassword);
        m_state = kStateNewMasterFirst;
        return;
    }
    // m_enteredPassword keeps the new master password until the picture is chosen.
    m_dlgSelimg.m_prompt = wxString::FromUTF8(texts::kChoosePictureInstructions);
    m_dlgSelimg.m_pixels.m_nLength = 0;
    m_dlgSelimg.m_path.clear();
    m_dlgSelimg.TransferDataToWindow();
    m_dlgPassword.Hide();
    m_dlgSelimg.Show();
    m_pictureSeen = false;
    m_state = kStateChoosePicture;
}

void CferrocaskDlg::StepChoosePicture() {
    if (!m_pictureSeen) {
        return;
    }
    const bool changing = m_listAction != kNoListAction;
    if (changing) {
        BackupVaultFile(m_programDirectory);  // a failed copy does not stop the change
    }
    std::optional<std::string_view> oldMaster;
    if (changing) {
        oldMaster = m_masterPassword.view();
    }
    const bool stored = m_vault->SetMasterPassword(m_dlgSelimg.m_pixels, m_programDirectory,
                                                   m_enteredPassword, oldMaster);
    if (!stored) {
        // A failed change leaves the vault as it was, under the old password.
        Say(changing ? texts::kChangeMasterPasswordFailed : texts::kSetMasterPasswordFailed);
        m_dlgSelimg.Hide();
        AskForPassword(texts::kSetUpVaultPassword);
        m_state = kStateNewMasterFirst;
        return;
    }
    Say(texts::kSetMasterPasswordDone);
    m_masterPassword = m_enteredPassword;
    m_enteredPassword.clear();
    m_dlgSelimg.Hide();
    m_dlgList.Show();
    m_state = kStateList;
}

void CferrocaskDlg::StepPictureCheck() {
    m_dlgImage.Hide();
    if (m_pictureSeen) {
        m_masterPassword = m_enteredPassword;
        m_enteredPassword.clear();
        ShowRefreshedList();
        m_state = kStateList;
    } else {
        m_dlgPassword.m_input.clear();
        m_dlgPassword.Show();
        m_enteredPassword.clear();
        m_state = kStateOpenVault;
    }
}

void CferrocaskDlg::StepAddPressed() {
    m_dlgPassName.m_name.clear();
    m_dlgPassName.TransferDataToWindow();
    m_dlgList.Hide();
    m_dlgPassName.Show();
}

void CferrocaskDlg::StepNameSubmitted() {
    m_dlgPassword.m_prompt = wxString::FromUTF8(texts::kSetPassword);
    m_dlgPassword.TransferDataToWindow();
    m_dlgPassName.Hide();
    m_dlgPassword.m_input.clear();
    m_dlgPassword.Show();
    m_enteredPassword.clear();
    m_state = kStateNewEntryFirst;
}

void CferrocaskDlg::StepNewEntryFirst() {
    TakeFirstTyping(texts::kConfirmPassword);
    m_state = kStateNewEntryConfirm;
}

void CferrocaskDlg::StepNewEntryConfirm() {
    m_secondEntry = m_enteredPassword;
    if (const char* breach = CheckNewEntryPassword()) {
        Say(breach);
        RePrompt(texts::kSetPassword);
        m_state = kStateNewEntryFirst;
        return;
    }
    PasswordEntry entry = MakePasswordEntry(m_enteredName, m_enteredPassword);
    const bool saved = m_vault->AddEntry(m_programDirectory, m_masterPassword, entry);
    WipeEntry(entry);
    m_enteredPassword.clear();
    m_dlgPassword.Hide();
    ShowRefreshedList();
    m_state = kStateList;
    if (!saved) {
        Say(texts::kVaultNotChanged);
    }
}

void CferrocaskDlg::StepModifyFirst() {
    TakeFirstTyping(texts::kConfirmPassword);
    m_state = kStateModifyConfirm;
}

void CferrocaskDlg::StepModifyConfirm() {
    m_secondEntry = m_enteredPassword;
    if (const char* breach = CheckNewEntryPassword()) {
        Say(breach);
        RePrompt(texts::kSetPassword);
        m_state = kStateModifyFirst;
        return;
    }
    // Only an entry that is still in the vault is rewritten: the stored one with its new
    // password, never a record made up from nothing.
    bool saved = true;
    if (const std::optional<std::string> name = m_dlgList.SelectedName()) {
        PasswordEntry entry{};
        if (m_vault->GetEntry(m_programDirectory, m_masterPassword, *name, entry)) {
            SetFieldText(entry.password, m_enteredPassword);
            saved = m_vault->ModifyEntry(m_programDirectory, m_masterPassword, entry);
        }
        WipeEntry(entry);
    }
    m_enteredPassword.clear();
    m_dlgPassword.Hide();
    ShowRefreshedList();
    m_state = kStateList;
    if (!saved) {
        Say(texts::kVaultNotChanged);
    }
}

void CferrocaskDlg::StepActionAsked(const char* prompt) {
    AskForPassword(prompt);
    m_dlgList.Hide();
    m_state = kStateMasterForAction;
}

void CferrocaskDlg::StepMasterForAction() {
    // The remembered master password decides, not the vault file.
    if (m_enteredPassword != m_masterPassword) {
        m_enteredPassword.clear();
        Say(texts::kVaultPasswordIncorrect);
        return;
    }
    switch (m_listAction) {
        case kChangeMasterPassword:
            AskForPassword(texts::kSetUpVaultPassword);
            m_state = kStateNewMasterFirst;
            break;
        case kModifySelected:
            AskForPassword(texts::kResetSelectedPassword);
            m_state = kStateModifyFirst;
            break;
        case kDeleteSelected: {
            m_enteredPassword.clear();
            m_dlgPassword.Hide();
            m_dlgList.Show();
            bool saved = true;
            if (const std::optional<std::string> name = m_dlgList.SelectedName()) {
                PasswordEntry entry{};
                SetFieldText(entry.name, *name);
                saved = m_vault->DeleteEntry(m_programDirectory, m_masterPassword, entry);
            }
            m_dlgList.RefreshList();
            if (!saved) {
                Say(texts::kVaultNotChanged);
            }
            break;
        }
        case kCopySelected: {
            m_enteredPassword.clear();
            m_dlgPassword.Hide();
            m_dlgList.Show();
            if (const std::optional<std::string> name = m_dlgList.SelectedName()) {
                PasswordEntry entry{};
                if (m_vault->GetEntry(m_programDirectory, m_masterPassword, *name, entry)) {
                    CopyPasswordToClipboard(entry);
                }
                WipeEntry(entry);
            }
            break;
        }
        default:
            break;
    }
}

void CferrocaskDlg::SayVaultFileUnreadable() {
    // The path is shown as the file system names it.
    const wxString path(VaultFilePath(m_programDirectory).c_str(), *wxConvFileName);
    wxString text = wxString::FromUTF8(texts::kVaultFileUnreadable);
    text.Replace("%s", path);
    Say(text.utf8_str());
}

void CferrocaskDlg::CopyPasswordToClipboard(const PasswordEntry& entry) {
    // The block is made first: when it cannot be made, the clipboard is not even opened
    // and keeps what it held.
    std::unique_ptr<platform::ClipboardTextBlock> block =
        platform::ClipboardTextBlock::FromGb18030(FieldText(entry.password));
    if (!block) {
        return;
    }
    platform::ClipboardSession clipboard;
    if (!clipboard.IsOpen()) {
        return;
    }
    clipboard.Empty();
    clipboard.PutText(std::move(block));
}
