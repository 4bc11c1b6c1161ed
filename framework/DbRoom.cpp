#include "framework/DbRoom.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

namespace Ombrix {

namespace {

// The bytes of an overflow page that hold no value: its header.
constexpr std::uint64_t kPageHeader = 26;

}  // namespace

bool DbMakeRoomFor(Db* db, u_int32_t valueBytes) {
    int fd = -1;
    u_int32_t pageSize = 0;
    struct stat file {};
    if (db == nullptr || db->fd(&fd) != 0 || db->get_pagesize(&pageSize) != 0 ||
        pageSize <= kPageHeader || ::fstat(fd, &file) != 0) {
        return false;
    }
    // The pages of the value, stored apart from the tree, and one for the tree itself.
    const std::uint64_t pages =
        (valueBytes + pageSize - kPageHeader - 1) / (pageSize - kPageHeader);
    const std::uint64_t room = (pages + 1) * pageSize;
    const std::uint64_t size = static_cast<std::uint64_t>(file.st_size);

    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size + room > limit.rlim_cur) {
        return false;
    }
    int result = 0;
    do {
        result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(size),
                             static_cast<off_t>(room));
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
}

}  // namespace Ombrix
