// What the vault dialogue asks of the window that shows it. Every "show" call leaves that
// one panel shown and the others hidden. Texts are UTF-8; names and passwords GB18030 bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class VaultDialogueView {
public:
    // The password panel, asking with prompt; what was typed on it before is forgotten.
    virtual void AskForPassword(const char* prompt) = 0;
    // Only the password panel's prompt changes; the panel is otherwise left as it is.
    virtual void PromptAgain(const char* prompt) = 0;
    // The picture check with its prompt and the picture (pixels null: nothing to draw).
    virtual void ShowPictureCheck(const char* prompt, const unsigned char* pixels, int width,
                                  int height) = 0;
    // The picture selection, with its prompt and no picture chosen.
    virtual void AskForPicture(const char* prompt) = 0;
    // The list; with names it first lists them in their order with the first one selected,
    // without it keeps what it lists.
    virtual void ShowList(const std::vector<std::string>* names) = 0;
    // The name panel, its box empty.
    virtual void AskForName() = 0;

    // The name selected in the list, or none.
    virtual std::optional<std::string> SelectedName() const = 0;
    // A message box with an OK button.
    virtual void Say(const std::string& text) = 0;
    // The same, with "%s" in text standing for the file at path, named as the file system
    // names it (its bytes need not be UTF-8).
    virtual void SayAboutFile(const char* text, const std::string& path) = 0;
    // A question with OK and Cancel; true for OK.
    virtual bool AskOkCancel(const char* question) = 0;
    virtual void PutOnClipboard(std::string_view password) = 0;

    // The window ends now (the exit button), or as soon as it is up (nothing it could
    // show would be of use).
    virtual void EndNow() = 0;
    virtual void EndOnceShown() = 0;

protected:
    ~VaultDialogueView() = default;
};
