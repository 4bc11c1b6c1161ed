// Conversion between the vault's 8-bit texts (GB18030, a superset of the GBK code page the
// names were always written in) and the text the widgets show (Unicode). Only the user
// interface converts; the vault keeps and compares bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <wx/string.h>

#include "framework/SecretString.h"

namespace platform {

// The GB18030 bytes of text; nothing when the text cannot be encoded.
std::optional<std::string> DisplayToGb18030(const wxString& text);

// The text of GB18030 bytes. Bytes that are not valid GB18030 show as U+FFFD, one for each
// byte, so that every stored name can be shown.
wxString Gb18030ToDisplay(std::string_view bytes);

// The UTF-8 form of GB18030 bytes, for secrets: written into out, with every intermediate
// buffer wiped. False, out emptied, when the bytes are not valid GB18030.
bool Gb18030ToUtf8Secret(std::string_view bytes, Ombrix::SecretString& out);

// Overwrites the characters of a text that held a secret, then empties it.
void WipeText(wxString& text);

}  // namespace platform
