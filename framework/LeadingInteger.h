// Reads a number the way the C library's atoi does (leading white space, an optional sign,
// then the leading decimal digits; 0 when there are none), but without atoi's undefined
// result for values out of range: those are clamped.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace Ombrix {

inline long LeadingInteger(const std::string& text) {
    const int savedErrno = errno;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    errno = savedErrno;
    return value;
}

// The same, clamped to the range of int.
inline int LeadingInt(const std::string& text) {
    const long value = LeadingInteger(text);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

}  // namespace Ombrix
