#include "app/CferrocaskDlg.h"

#include <wx/button.h>

#include "platform/DialogTemplate.h"
#include "resources/DialogTemplates.h"
#include "vault/ProgramDirectory.h"

CferrocaskDlg::CferrocaskDlg(std::string programDirectory)
    : m_dialogue(*this, std::move(programDirectory)),
      m_dlgPassword(m_dialogue),
      m_dlgSelimg(m_dialogue),
      m_dlgImage(m_dialogue),
      m_dlgList(m_dialogue),
      m_dlgPassName(m_dialogue) {
    Bind(wxEVT_INIT_DIALOG, [this](wxInitDialogEvent& event) {
        InitialiseVaultDialogue();
        event.Skip();
    });
}

// The panels are members and go before the window's own children are destroyed; the
// secrets wipe themselves.
CferrocaskDlg::~CferrocaskDlg() = default;

std::string CferrocaskDlg::DefaultProgramDirectory() {
    return ProgramDirectory();
}

bool CferrocaskDlg::Create(wxWindow* parent) {
    const platform::DialogTemplate& layout = MainWindowTemplate();
    if (!wxDialog::Create(parent, wxID_ANY, wxString::FromUTF8(layout.caption), wxDefaultPosition,
                          wxDefaultSize, wxDEFAULT_DIALOG_STYLE)) {
        return false;
    }
    SetClientSize(platform::TemplateWidthPixels(layout), platform::TemplateHeightPixels(layout));
    platform::BuildControls(this, layout);
    if (auto* button = dynamic_cast<wxButton*>(FindWindow(ids::kFaceLink))) {
        SetDefaultItem(button);
    }
    SetUpWindowExtras();
    CentreOnScreen();
    return true;
}

wxRect CferrocaskDlg::PanelArea() const {
    const wxSize client = GetClientSize();
    return wxRect(0, 0, client.GetWidth(), client.GetHeight() - kLinkStripHeight);
}

void CferrocaskDlg::InitialiseVaultDialogue() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    const wxRect area = PanelArea();
    platform::ChildDialog* const panels[] = {&m_dlgPassword, &m_dlgSelimg, &m_dlgImage, &m_dlgList,
                                             &m_dlgPassName};
    m_dlgPassword.Create(this);
    m_dlgSelimg.Create(this);
    m_dlgImage.Create(this);
    m_dlgList.Create(this);
    m_dlgPassName.Create(this);
    for (platform::ChildDialog* panel : panels) {
        panel->SetSize(area);
        panel->Hide();
    }
    m_dialogue.Start();
}

bool CferrocaskDlg::Show(bool show) {
    if (show) {
        InitialiseVaultDialogue();
    }
    return wxDialog::Show(show);
}

void CferrocaskDlg::OnOK() {
    TransferDataFromWindow();
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        SetReturnCode(wxID_OK);
        Hide();
    }
}
