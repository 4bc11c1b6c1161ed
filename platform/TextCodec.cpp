#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "framework/WipingAllocator.h"

namespace platform {

namespace {

using WipedBytes = std::vector<char, Ombrix::WipingAllocator<char>>;
using InvalidByteHandler = bool (*)(char byte, WipedBytes& out);

// One conversion descriptor for the life of a call.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~Converter() {
        if (Ok()) {
            ::iconv_close(m_cd);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts input into out. Where iconv stops at a byte that starts no valid sequence (or
    // one cut short by the end), onInvalid is given that byte: it appends what stands for it
    // and the conversion goes on after it, or it returns false and the conversion fails. No
    // handler fails the conversion at the first such byte.
    bool Run(std::string_view input, WipedBytes& out, InvalidByteHandler onInvalid = nullptr) {
        out.clear();
        if (!Ok()) {
            return false;
        }
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char chunk[256];
        while (inLeft > 0) {
            char* dst = chunk;
            size_t dstLeft = sizeof chunk;
            const size_t result = ::iconv(m_cd, &in, &inLeft, &dst, &dstLeft);
            const int error = errno;
            out.insert(out.end(), chunk, dst);
            if (result != static_cast<size_t>(-1)) {
                continue;
            }
            if (error == E2BIG) {
                continue;
            }
            if ((error == EILSEQ || error == EINVAL) && onInvalid != nullptr &&
                onInvalid(*in, out)) {
                ++in;
                --inLeft;
                ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
                continue;
            }
            Ombrix::SecureWipe(chunk, sizeof chunk);
            return false;
        }
        char* dst = chunk;
        size_t dstLeft = sizeof chunk;
        ::iconv(m_cd, nullptr, nullptr, &dst, &dstLeft);  // flush any shift state
        out.insert(out.end(), chunk, dst);
        Ombrix::SecureWipe(chunk, sizeof chunk);
        return true;
    }

private:
    iconv_t m_cd;
};

constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";

// Windows builds store names in code page 936, which writes the euro sign as the single byte
// 0x80 (a byte that starts no GB18030 character) instead of GB18030's 0xA2 0xE3. Names store
// it the Windows way so that they read the same in both kinds of build.
constexpr char kWindowsEuroByte = '\x80';
constexpr std::string_view kUtf8Euro = "\xE2\x82\xAC";

// For display: a lone 0x80 is the Windows euro sign, any other invalid byte U+FFFD. iconv
// stops only where a character starts, so a 0x80 seen here is never the second byte of a
// two-byte character.
bool ShowInvalidByte(char byte, WipedBytes& out) {
    const std::string_view shown = byte == kWindowsEuroByte ? kUtf8Euro : kUtf8Replacement;
    out.insert(out.end(), shown.begin(), shown.end());
    return true;
}

}  // namespace

std::optional<std::string> DisplayToGb18030(const wxString& text) {
    if (text.empty()) {
        return std::string();
    }
    const wxScopedCharBuffer utf8 = text.utf8_str();
    std::string_view rest(utf8.data(), utf8.length());
    Converter converter("GB18030", "UTF-8");
    std::string bytes;
    WipedBytes out;
    // GB18030 has no state between characters, so the text between euro signs converts on
    // its own. In UTF-8 the euro's three bytes can only be that character.
    for (;;) {
        const size_t euro = rest.find(kUtf8Euro);
        if (!converter.Run(rest.substr(0, euro), out)) {
            return std::nullopt;
        }
        bytes.append(out.begin(), out.end());
        if (euro == std::string_view::npos) {
            break;
        }
        bytes += kWindowsEuroByte;
        rest.remove_prefix(euro + kUtf8Euro.size());
    }
    if (bytes.empty()) {
        return std::nullopt;
    }
    return bytes;
}

wxString Gb18030ToDisplay(std::string_view bytes) {
    if (bytes.empty()) {
        return wxString();
    }
    Converter converter("UTF-8", "GB18030");
    WipedBytes out;
    if (!converter.Run(bytes, out, ShowInvalidByte)) {
        return wxString();
    }
    return wxString::FromUTF8(out.data(), out.size());
}

bool Gb18030ToUtf8Secret(std::string_view bytes, Ombrix::SecretString& out) {
    out.clear();
    Converter converter("UTF-8", "GB18030");
    WipedBytes converted;
    if (!converter.Run(bytes, converted)) {
        return false;
    }
    out.assign(std::string_view(converted.data(), converted.size()));
    return true;
}

void WipeText(wxString& text) {
    for (wxString::iterator it = text.begin(); it != text.end(); ++it) {
        *it = wxUniChar(' ');
    }
    text.clear();
}

}  // namespace platform
