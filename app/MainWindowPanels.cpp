// The main window as the vault dialogue's view: which panel is shown, with what.

#include <wx/filename.h>

#include "app/CferrocaskDlg.h"
#include "platform/Clipboard.h"
#include "platform/MessageBox.h"
#include "resources/Texts.h"

void CferrocaskDlg::ShowOnly(wxWindow* panel) {
    wxWindow* const panels[] = {&m_dlgPassword, &m_dlgSelimg, &m_dlgImage, &m_dlgList,
                                &m_dlgPassName};
    for (wxWindow* other : panels) {
        if (other != panel) {
            other->Hide();
        }
    }
    panel->Show();
}

void CferrocaskDlg::AskForPassword(const char* prompt) {
    m_dlgPassword.Ask(wxString::FromUTF8(prompt));
    ShowOnly(&m_dlgPassword);
}

void CferrocaskDlg::PromptAgain(const char* prompt) {
    m_dlgPassword.SetPrompt(wxString::FromUTF8(prompt));
}

void CferrocaskDlg::ShowPictureCheck(const char* prompt, const unsigned char* pixels, int width,
                                     int height) {
    m_dlgImage.ShowPicture(wxString::FromUTF8(prompt), pixels, width, height);
    ShowOnly(&m_dlgImage);
}

void CferrocaskDlg::AskForPicture(const char* prompt) {
    m_dlgSelimg.Ask(wxString::FromUTF8(prompt));
    ShowOnly(&m_dlgSelimg);
}

void CferrocaskDlg::ShowList(const std::vector<std::string>* names) {
    if (names != nullptr) {
        m_dlgList.ShowNames(*names);
    }
    ShowOnly(&m_dlgList);
}

void CferrocaskDlg::AskForName() {
    m_dlgPassName.Ask();
    ShowOnly(&m_dlgPassName);
}

std::optional<std::string> CferrocaskDlg::SelectedName() const {
    return m_dlgList.SelectedName();
}

void CferrocaskDlg::Say(const std::string& text) {
    platform::ShowAppMessage(this, text.c_str());
}

void CferrocaskDlg::SayAboutFile(const char* text, const std::string& path) {
    wxString message = wxString::FromUTF8(text);
    message.Replace("%s", wxString(path.c_str(), *wxConvFileName));
    Say(std::string(message.utf8_str()));
}

bool CferrocaskDlg::AskOkCancel(const char* question) {
    return platform::ShowMessageBox(nullptr, wxString::FromUTF8(question),
                                    wxString::FromUTF8(texts::kNoticeCaption),
                                    platform::MessageButtons::OkCancel) == platform::kAnswerOk;
}

void CferrocaskDlg::PutOnClipboard(std::string_view password) {
    // The block is made first: when it cannot be made, the clipboard is not even opened
    // and keeps what it held.
    std::unique_ptr<platform::ClipboardTextBlock> block =
        platform::ClipboardTextBlock::FromGb18030(password);
    if (!block) {
        return;
    }
    platform::ClipboardSession clipboard;
    if (!clipboard.IsOpen()) {
        return;
    }
    clipboard.Empty();
    clipboard.PutText(std::move(block));
    m_dlgList.NoteCopied();
}

void CferrocaskDlg::EndNow() {
    OnOK();
}

void CferrocaskDlg::EndOnceShown() {
    CallAfter([this] { Close(); });
}
