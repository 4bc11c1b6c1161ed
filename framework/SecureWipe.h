// Zeroing that the compiler may not drop as a dead store: used for every buffer that held
// a password, a key or decrypted vault content before it is freed or reused.
#pragma once

#include <string.h>
#include <cstddef>

namespace Ombrix {

inline void SecureWipe(void* data, std::size_t size) {
    if (data != nullptr && size > 0) {
        ::explicit_bzero(data, size);
    }
}

}  // namespace Ombrix
