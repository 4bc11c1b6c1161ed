#include "framework/FileCache.h"

#include <fcntl.h>
#include <unistd.h>

namespace Ombrix {

void DropCachedPagesFrom(const std::string& path, off_t from) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // A length of 0 reaches to the end of the file. The pages are not asked for ahead of use:
    // read ahead on request, the kernel brings them back a page at a time, no better than
    // they were; a read of the file brings them back in large pieces.
    ::posix_fadvise(fd, from, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

}  // namespace Ombrix
