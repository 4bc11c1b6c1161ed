// The system clipboard as the vault dialogue uses it: one text at a time, put there on
// request and emptied again on request and at exit.
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

    // Removes whatever the clipboard holds.
    void Empty();

    // Hands the block to the clipboard; true when the clipboard took it.
    bool PutText(std::unique_ptr<ClipboardTextBlock> block);

private:
    bool m_open = false;
};

}  // namespace platform
