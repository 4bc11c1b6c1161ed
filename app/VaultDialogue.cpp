#include "app/VaultDialogue.h"

#include <cassert>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "resources/Texts.h"
#include "vault/PasswordEntry.h"

namespace {

using S = VaultState;
using D = VaultDialogue;

constexpr uint32_t Next(std::initializer_list<VaultState> states) {
    uint32_t mask = 0;
    for (const VaultState state : states) {
        mask |= 1u << static_cast<int>(state);
    }
    return mask;
}

// What each list button records before the step of its state runs: the pending action
// (kNone leaves it as it is), the state, whether a name must be selected and what the user
// must confirm first.
struct ButtonRow {
    ListButton button;
    ListAction action;
    VaultState state;
    bool needsSelection;
    const char* question;
};

// clang-format off
constexpr ButtonRow kButtons[] = {
    // button                           action                              state                  selection  question
    {ListButton::kAdd,                  ListAction::kNone,                  S::kAddPressed,        false,     nullptr},
    {ListButton::kModify,               ListAction::kModifySelected,        S::kListActionAsked,   true,      nullptr},
    {ListButton::kDelete,               ListAction::kDeleteSelected,        S::kListActionAsked,   true,      nullptr},
    {ListButton::kCopy,                 ListAction::kCopySelected,          S::kListActionAsked,   true,      texts::kCopyWarning},
    {ListButton::kChangeMasterPassword, ListAction::kChangeMasterPassword,  S::kChangeMasterAsked, false,     nullptr},
};
// clang-format on

}  // namespace

// The table of states. Only RunStep moves from one state to another, by this table; the
// answers that name a state themselves (the list buttons above, a typed name) set it just
// before the step of that state runs.
// clang-format off
const VaultDialogue::Row VaultDialogue::kSteps[] = {
    // state                 step                                next states
    {S::kStart,             &D::OpenOrSetUp,                  Next({S::kOpenVault, S::kNewMasterFirst,
                                                                    S::kStart /* unreadable: the window ends */})},
    {S::kOpenVault,         &D::ShowPictureOfTypedPassword,   Next({S::kPictureCheck})},
    {S::kNewMasterFirst,    &D::KeepFirstMasterTyping,        Next({S::kNewMasterConfirm})},
    {S::kNewMasterConfirm,  &D::CheckNewMasterPassword,       Next({S::kChoosePicture, S::kNewMasterFirst})},
    {S::kChoosePicture,     &D::SetMasterPasswordWithPicture, Next({S::kList, S::kNewMasterFirst, S::kChoosePicture})},
    {S::kPictureCheck,      &D::TakePictureAnswer,            Next({S::kList, S::kOpenVault})},
    {S::kList,              &D::WaitForListButton,            Next({S::kList})},
    {S::kAddPressed,        &D::AskForNewName,                Next({S::kAddPressed})},
    {S::kNameSubmitted,     &D::AskForNewEntryPassword,       Next({S::kNewEntryFirst})},
    {S::kNewEntryFirst,     &D::KeepFirstEntryTyping,         Next({S::kNewEntryConfirm})},
    {S::kNewEntryConfirm,   &D::AddNewEntry,                  Next({S::kList, S::kNewEntryFirst})},
    {S::kModifyFirst,       &D::KeepFirstModifyTyping,        Next({S::kModifyConfirm})},
    {S::kModifyConfirm,     &D::ModifySelectedEntry,          Next({S::kList, S::kModifyFirst})},
    {S::kChangeMasterAsked, &D::AskForOldMasterPassword,      Next({S::kMasterForAction})},
    {S::kListActionAsked,   &D::AskForMasterPassword,         Next({S::kMasterForAction})},
    {S::kMasterForAction,   &D::RunPendingAction,             Next({S::kMasterForAction, S::kNewMasterFirst,
                                                                    S::kModifyFirst})},
};
// clang-format on

VaultDialogue::VaultDialogue(VaultDialogueView& view, std::string programDirectory)
    : m_view(view), m_programDirectory(std::move(programDirectory)) {}

VaultDialogue::~VaultDialogue() = default;

void VaultDialogue::RunStep() {
    for (const Row& row : kSteps) {
        if (row.state == m_state) {
            const VaultState next = (this->*row.step)();
            assert((row.next & Next({next})) != 0 && "a step left its row of the table");
            m_state = next;
            return;
        }
    }
}

void VaultDialogue::Start() {
    if (m_state == VaultState::kStart && m_shown == Panel::kNone) {
        RunStep();
    }
}

// Each answer is taken only from the panel that is shown: a late click on a panel the
// dialogue has moved on from must not run the step of another state.

void VaultDialogue::OnPasswordTyped(Ombrix::SecretString text) {
    if (Showing(Panel::kPassword)) {
        m_enteredPassword = std::move(text);
        RunStep();
    }
}

void VaultDialogue::OnPictureChecked(bool seen) {
    if (Showing(Panel::kPictureCheck)) {
        m_pictureSeen = seen;
        RunStep();
    }
}

void VaultDialogue::OnPictureChosen(const Ombrix::Data<unsigned char>& pixels) {
    if (Showing(Panel::kPictureChoice)) {
        m_chosenPicture.m_nLength = 0;
        m_chosenPicture.Append(pixels.m_pBuffer, pixels.m_nLength);
        m_pictureSeen = true;
        RunStep();
    }
}

void VaultDialogue::OnNameTyped(std::string name) {
    if (Showing(Panel::kName)) {
        m_enteredName = std::move(name);
        m_state = VaultState::kNameSubmitted;
        RunStep();
    }
}

void VaultDialogue::OnListButton(ListButton button) {
    if (!Showing(Panel::kList)) {
        return;
    }
    if (button == ListButton::kExit) {
        m_view.EndNow();
        return;
    }
    for (const ButtonRow& row : kButtons) {
        if (row.button != button) {
            continue;
        }
        if (row.needsSelection && !m_view.SelectedName()) {
            m_view.Say(texts::kNothingSelected);
            return;
        }
        if (row.question != nullptr && !m_view.AskOkCancel(row.question)) {
            return;
        }
        if (row.action != ListAction::kNone) {
            m_listAction = row.action;
        }
        m_state = row.state;
        RunStep();
        return;
    }
}

bool VaultDialogue::ReadEntry(const std::string& name, PasswordEntry& entry) {
    return m_vault.GetEntry(m_programDirectory, m_masterPassword, name, entry);
}
