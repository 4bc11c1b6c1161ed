// Message boxes, with a hook through which tests answer and record every box instead of a
// user.
#pragma once

#include <functional>

#include <wx/string.h>

class wxWindow;

namespace platform {

enum class MessageButtons { Ok, OkCancel };

// The answers.
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;

struct MessageBoxRequest {
    wxWindow* owner;  // may be null
    wxString text;
    wxString caption;
    MessageButtons buttons;
};

// Answers boxes in place of the user while installed; an empty hook restores real boxes.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxHook(MessageBoxHook hook);
bool MessageBoxHookInstalled();

// Shows a modal box and returns kAnswerOk or kAnswerCancel. Text with "\r\n" line breaks is
// shown with plain line breaks.
int ShowMessageBox(wxWindow* owner, const wxString& text, const wxString& caption,
                   MessageButtons buttons);

// The application's own boxes: caption "ferrocask", one OK button.
int ShowAppMessage(wxWindow* owner, const char* utf8Text);

}  // namespace platform
