#include "platform/MessageBox.h"

#include <utility>

#include <wx/msgdlg.h>

namespace platform {

namespace {

constexpr char kOkLabel[] = "确定";
constexpr char kCancelLabel[] = "取消";

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}

bool MessageBoxHookInstalled() {
    return static_cast<bool>(Hook());
}

int ShowMessageBox(wxWindow* owner, const wxString& text, const wxString& caption,
                   MessageButtons buttons) {
    if (Hook()) {
        return Hook()(MessageBoxRequest{owner, text, caption, buttons});
    }
    wxString shown = text;
    shown.Replace("\r\n", "\n");
    const long style = buttons == MessageButtons::OkCancel ? (wxOK | wxCANCEL) : wxOK;
    wxMessageDialog box(owner, shown, caption, style);
    // The program speaks Chinese whatever the system's language, so its buttons do too.
    if (buttons == MessageButtons::OkCancel) {
        box.SetOKCancelLabels(wxString::FromUTF8(kOkLabel), wxString::FromUTF8(kCancelLabel));
    } else {
        box.SetOKLabel(wxString::FromUTF8(kOkLabel));
    }
    return box.ShowModal() == wxID_OK ? kAnswerOk : kAnswerCancel;
}

int ShowAppMessage(wxWindow* owner, const char* utf8Text) {
    return ShowMessageBox(owner, wxString::FromUTF8(utf8Text), "ferrocask", MessageButtons::Ok);
}

}  // namespace platform
