#include "vault/ProgramDirectory.h"

#include <unistd.h>

#include <vector>

std::string ProgramDirectory() {
    // The link's length is not known in advance; grow the buffer until the target fits.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return "";
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            return slash == std::string::npos ? "" : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}
