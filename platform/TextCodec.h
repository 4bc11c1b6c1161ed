// Conversion between the vault's 8-bit texts (GB18030, a superset of the GBK code page the
// names were always written in) and the text the widgets show (Unicode). Only the user
// interface converts; the vault keeps and compares bytes.
//
// Names follow Windows builds, which write code page 936, where it differs from GB18030 in a
// way that matters for names: the euro sign is the single byte 0x80 (GB18030 has no
// character starting with 0x80). It is stored so and read so; 0xA2 0xE3, GB18030's euro from
// vaults written before, still reads as the euro sign. Characters code page 936 cannot hold
// keep their GB18030 four-byte form, so no text is lost.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <wx/string.h>

#include "framework/SecretString.h"

namespace platform {

// The GB18030 bytes of text, the euro sign as 0x80; nothing when the text cannot be encoded.
std::optional<std::string> DisplayToGb18030(const wxString& text);

// The text of GB18030 bytes, 0x80 where a character starts as the euro sign. Other bytes
// that are not valid GB18030 show as U+FFFD, one for each byte, so that every stored name
// can be shown.
wxString Gb18030ToDisplay(std::string_view bytes);

// The UTF-8 form of GB18030 bytes, for secrets: written into out, with every intermediate
// buffer wiped. False, out emptied, when the bytes are not valid GB18030; a secret is taken
// as strict GB18030, so a byte 0x80 fails it too.
bool Gb18030ToUtf8Secret(std::string_view bytes, Ombrix::SecretString& out);

// Overwrites the characters of a text that held a secret, then empties it.
void WipeText(wxString& text);

}  // namespace platform
