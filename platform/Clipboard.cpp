#include "platform/Clipboard.h"

#include <sys/random.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "framework/SecretString.h"
#include "platform/TextCodec.h"
#include "vault/Sha256.h"

namespace platform {

namespace {

using Digest = Sha256::Digest;

// What the program remembers of the last text it put on the clipboard: a hash of the text
// with a salt drawn once per run, so that the hash cannot be looked up in a table of
// common passwords.
class ClipboardMemory {
public:
    static ClipboardMemory& Instance() {
        static ClipboardMemory memory;
        return memory;
    }

    Digest Hash(const void* text, size_t size) const {
        Sha256 sha;
        sha.Update(m_salt.data(), m_salt.size());
        sha.Update(text, size);
        return sha.Final();
    }

    void Remember(const Digest& digest) { m_last = digest; }
    void Forget() { m_last.reset(); }
    bool Matches(const Digest& digest) const { return m_last && *m_last == digest; }

private:
    // The salt from the kernel's random source. Should it fail (it does not block once the
    // system has started), the digests are unsalted: they still only serve to recognise
    // the program's own text.
    ClipboardMemory() {
        size_t filled = 0;
        while (filled < m_salt.size()) {
            const ssize_t got = getrandom(m_salt.data() + filled, m_salt.size() - filled, 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            filled += static_cast<size_t>(got);
        }
    }

    std::array<unsigned char, 32> m_salt{};
    std::optional<Digest> m_last;
};

// Plain text (UTF-8) in every text format the other programs ask for, served from a wiped
// buffer, and beside it the marker that tells clipboard managers to keep no copy. The
// widget library deletes the object when the clipboard is emptied or replaced.
class SecretTextDataObject : public wxDataObject {
public:
    explicit SecretTextDataObject(Ombrix::SecretString text) : m_text(std::move(text)) {
        m_formats[0] = wxDataFormat(wxDF_UNICODETEXT);
        m_formats[1] = wxDataFormat(wxDF_TEXT);
        m_formats[2] = wxDataFormat("text/plain;charset=utf-8");
        m_formats[3] = wxDataFormat(kPasswordHintFormat);
    }

    const Ombrix::SecretString& Text() const { return m_text; }

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
        if (format == m_formats[3]) {
            return std::strlen(kPasswordHintValue);
        }
        return IsSupportedFormat(format) ? m_text.size() : 0;
    }

    bool GetDataHere(const wxDataFormat& format, void* buffer) const override {
        if (!IsSupportedFormat(format) || buffer == nullptr) {
            return false;
        }
        if (format == m_formats[3]) {
            std::memcpy(buffer, kPasswordHintValue, std::strlen(kPasswordHintValue));
        } else {
            std::memcpy(buffer, m_text.data(), m_text.size());
        }
        return true;
    }

    bool SetData(const wxDataFormat&, size_t, const void*) override { return false; }

private:
    static constexpr size_t kFormats = 4;
    Ombrix::SecretString m_text;
    wxDataFormat m_formats[kFormats];
};

// Receives the clipboard's text and keeps only its hash: the text itself may be a password
// (ours, or one the user copied from elsewhere) and is not copied anywhere.
class HashingReceiver : public wxDataObjectSimple {
public:
    HashingReceiver() : wxDataObjectSimple(wxDataFormat(wxDF_UNICODETEXT)) {}

    bool SetData(size_t size, const void* data) override {
        const char* bytes = static_cast<const char*>(data);
        // Some programs send the text with its terminating zero.
        while (size > 0 && bytes[size - 1] == '\0') {
            --size;
        }
        m_digest = ClipboardMemory::Instance().Hash(bytes, size);
        return true;
    }

    const std::optional<Digest>& Received() const { return m_digest; }

private:
    std::optional<Digest> m_digest;
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
        // Text is only ever offered to explicit pastes, never as the selection that any
        // middle click pastes.
        wxTheClipboard->UsePrimarySelection(false);
        m_open = wxTheClipboard->Open();
    }
}

ClipboardSession::~ClipboardSession() {
    if (m_open) {
        // Close only: Flush() would ask a clipboard manager to keep the text after exit.
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
    const auto& text = static_cast<const SecretTextDataObject&>(*block->m_data).Text();
    const Digest digest = ClipboardMemory::Instance().Hash(text.data(), text.size());
    if (!wxTheClipboard->SetData(block->m_data.release())) {
        return false;
    }
    ClipboardMemory::Instance().Remember(digest);
    return true;
}

bool ClipboardSession::EmptyIfOurs() {
    if (!m_open) {
        return false;
    }
    ClipboardMemory& memory = ClipboardMemory::Instance();
    HashingReceiver receiver;
    if (!wxTheClipboard->IsSupported(receiver.GetFormat()) || !wxTheClipboard->GetData(receiver) ||
        !receiver.Received() || !memory.Matches(*receiver.Received())) {
        return false;
    }
    // Whoever serves the text now, this program takes the clipboard over with nothing and
    // lets go of it: the clipboard is then empty.
    wxTheClipboard->SetData(new wxTextDataObject(wxString()));
    wxTheClipboard->Clear();
    memory.Forget();
    return true;
}

}  // namespace platform
