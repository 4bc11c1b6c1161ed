// The system clipboard as the vault dialogue uses it: one text at a time, put there on
// request and emptied again on request and at exit.
//
// Everything the program puts on the clipboard goes through here. Only the CLIPBOARD
// selection is offered (never PRIMARY, which any selection of text would overwrite or
// expose), the text carries the "x-kde-passwordManagerHint" = "secret" marker so that
// clipboard managers keep no history of it, and nothing asks a clipboard manager to keep
// the text once the program ends. The program remembers only a salted hash of the last text
// it put there, never the text itself, so that clearing can leave alone whatever the user
// copied elsewhere in the meantime.
#pragma once

#include <memory>
#include <string_view>

class wxDataObject;

namespace platform {

// A text ready to be put on the clipboard. The text is a secret: the block keeps it in a
// buffer that is wiped when the clipboard lets go of it.
class ClipboardTextBlock {
public:
    ~ClipboardTextBlock();
    ClipboardTextBlock(ClipboardTextBlock&&) noexcept;
    ClipboardTextBlock& operator=(ClipboardTextBlock&&) noexcept;

    // The block for GB18030 text; nothing when the text cannot be converted for the
    // clipboard (it is not valid GB18030).
    static std::unique_ptr<ClipboardTextBlock> FromGb18030(std::string_view text);

private:
    friend class ClipboardSession;
    ClipboardTextBlock();
    std::unique_ptr<wxDataObject> m_data;
};

// One opening of the clipboard, closed when the object goes.
class ClipboardSession {
public:
    ClipboardSession();  // tries to open the clipboard
    ~ClipboardSession();
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;

    // False when the clipboard could not be opened; nothing else then does anything.
    bool IsOpen() const { return m_open; }

    // Removes whatever the clipboard holds when this program serves it; a text another
    // program serves is not touched.
    void Empty();

    // Hands the block to the clipboard; true when the clipboard took it. The clipboard's
    // text is then this program's until it changes.
    bool PutText(std::unique_ptr<ClipboardTextBlock> block);

    // Removes the clipboard's content only when it is still the text this program put there
    // last, whichever program serves it now (a clipboard manager may have taken it over);
    // anything else is left alone. True when the content was removed.
    bool EmptyIfOurs();

private:
    bool m_open = false;
};

// The MIME type and value that mark the program's clipboard text as a secret.
inline constexpr const char* kPasswordHintFormat = "x-kde-passwordManagerHint";
inline constexpr const char* kPasswordHintValue = "secret";

}  // namespace platform
