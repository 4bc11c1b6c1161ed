#include "platform/Clipboard.h"

#include <cstring>

#include <wx/clipbrd.h>
#include <wx/dataobj.h>

#include "framework/SecretString.h"
#include "platform/TextCodec.h"

namespace platform {

namespace {

// Plain text (UTF-8) in every text format the other programs ask for, served from a wiped
// buffer; the widget library deletes the object when the clipboard is emptied or replaced.
class SecretTextDataObject : public wxDataObject {
public:
    explicit SecretTextDataObject(Ombrix::SecretString text) : m_text(std::move(text)) {
        m_formats[0] = wxDataFormat(wxDF_UNICODETEXT);
        m_formats[1] = wxDataFormat(wxDF_TEXT);
        m_formats[2] = wxDataFormat("text/plain;charset=utf-8");
    }

    wxDataFormat GetPreferredFormat(Direction) const override { return m_formats[0]; }

    size_t GetFormatCount(Direction dir) const override { return dir == Get ? kFormats : 0; }

    void GetAllFormats(wxDataFormat* formats, Direction dir) const override {
        if (dir == Get) {
            for (size_t i = 0; i < kFormats; ++i) {
                formats[i] = m_formats[i];
            }
        }
    }

    size_t GetDataSize(const wxDataFormat& format) const override {
        return IsSupportedFormat(format) ? m_text.size() : 0;
    }

    bool GetDataHere(const wxDataFormat& format, void* buffer) const override {
        if (!IsSupportedFormat(format) || buffer == nullptr) {
            return false;
        }
        std::memcpy(buffer, m_text.data(), m_text.size());
        return true;
    }

    bool SetData(const wxDataFormat&, size_t, const void*) override { return false; }

private:
    static constexpr size_t kFormats = 3;
    Ombrix::SecretString m_text;
    wxDataFormat m_formats[kFormats];
};

}  // namespace

ClipboardTextBlock::ClipboardTextBlock() = default;
ClipboardTextBlock::~ClipboardTextBlock() = default;
ClipboardTextBlock::ClipboardTextBlock(ClipboardTextBlock&&) noexcept = default;
ClipboardTextBlock& ClipboardTextBlock::operator=(ClipboardTextBlock&&) noexcept = default;

std::unique_ptr<ClipboardTextBlock> ClipboardTextBlock::FromGb18030(std::string_view text) {
    Ombrix::SecretString utf8;
    if (!Gb18030ToUtf8Secret(text, utf8)) {
        return nullptr;
    }
    std::unique_ptr<ClipboardTextBlock> block(new ClipboardTextBlock);
    block->m_data = std::make_unique<SecretTextDataObject>(std::move(utf8));
    return block;
}

ClipboardSession::ClipboardSession() {
    if (wxTheClipboard != nullptr && !wxTheClipboard->IsOpened()) {
        m_open = wxTheClipboard->Open();
    }
}

ClipboardSession::~ClipboardSession() {
    if (m_open) {
        wxTheClipboard->Close();
    }
}

void ClipboardSession::Empty() {
    if (m_open) {
        wxTheClipboard->Clear();
    }
}

bool ClipboardSession::PutText(std::unique_ptr<ClipboardTextBlock> block) {
    if (!m_open || !block || !block->m_data) {
        return false;
    }
    return wxTheClipboard->SetData(block->m_data.release());
}

}  // namespace platform
