// The page that the two web link buttons open. The program carries it only in an encoded
// form: hexadecimal digit pairs, each pair's byte combined by exclusive or with a byte of a
// six-letter key chosen by the pair's number.
#pragma once

#include <string>
#include <string_view>

// Decodes hex two digits at a time: a digit '0' to '9' counts its character minus 48, any
// other character its character minus 87 (meant for 'a' to 'f'); the pair's byte
// (first * 16 + second, modulo 256) is combined with key byte (pair number modulo the key's
// length, at most 6) and appended, unless the result is zero. A last odd digit is paired
// with the zero character that ends the text (worth -87 by the rule above). An empty key leaves the
// bytes as they are.
std::string DecodeAddress(std::string_view hex, std::string_view key);

// The address the web link buttons open, decoded from the program's stored form.
std::string WebLinkAddress();
