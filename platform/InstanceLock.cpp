#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

InstanceLock::InstanceLock(const std::string& folder) {
    const std::string path = folder.empty() ? std::string(".") : folder;
    m_fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        return;
    }
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_state = State::kHeld;
        return;
    }
    m_state = errno == EWOULDBLOCK ? State::kHeldElsewhere : State::kUnavailable;
    ::close(m_fd);
    m_fd = -1;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the only descriptor of the open folder drops the lock
    }
}

}  // namespace platform
