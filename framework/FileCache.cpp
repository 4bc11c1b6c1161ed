#include "framework/FileCache.h"

#include <fcntl.h>
#include <unistd.h>

namespace Ombrix {

void RecachePagesFrom(const std::string& path, off_t from) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // A length of 0 reaches to the end of the file.
    ::posix_fadvise(fd, from, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

}  // namespace Ombrix
