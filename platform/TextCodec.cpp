#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "framework/WipingAllocator.h"

namespace platform {

namespace {

using WipedBytes = std::vector<char, Ombrix::WipingAllocator<char>>;

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

    // Converts input into out. With lossy set, each byte that starts no valid sequence is
    // replaced by replacement; otherwise such a byte fails the conversion.
    bool Run(std::string_view input, WipedBytes& out, bool lossy, std::string_view replacement) {
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
            if ((error == EILSEQ || error == EINVAL) && lossy) {
                out.insert(out.end(), replacement.begin(), replacement.end());
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

}  // namespace

std::optional<std::string> DisplayToGb18030(const wxString& text) {
    if (text.empty()) {
        return std::string();
    }
    const wxScopedCharBuffer utf8 = text.utf8_str();
    Converter converter("GB18030", "UTF-8");
    WipedBytes out;
    if (!converter.Run(std::string_view(utf8.data(), utf8.length()), out, false, {}) ||
        out.empty()) {
        return std::nullopt;
    }
    return std::string(out.begin(), out.end());
}

wxString Gb18030ToDisplay(std::string_view bytes) {
    if (bytes.empty()) {
        return wxString();
    }
    Converter converter("UTF-8", "GB18030");
    WipedBytes out;
    if (!converter.Run(bytes, out, true, kUtf8Replacement)) {
        return wxString();
    }
    return wxString::FromUTF8(out.data(), out.size());
}

bool Gb18030ToUtf8Secret(std::string_view bytes, Ombrix::SecretString& out) {
    out.clear();
    Converter converter("UTF-8", "GB18030");
    WipedBytes converted;
    if (!converter.Run(bytes, converted, false, {})) {
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
