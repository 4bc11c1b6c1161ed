#include "platform/DesktopOpen.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {

namespace {

// Owns a spawn file-actions object for the length of one spawn.
class FileActions {
public:
    FileActions() { m_ok = ::posix_spawn_file_actions_init(&m_actions) == 0; }
    ~FileActions() {
        if (m_ok) {
            ::posix_spawn_file_actions_destroy(&m_actions);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    posix_spawn_file_actions_t* Get() { return m_ok ? &m_actions : nullptr; }

private:
    posix_spawn_file_actions_t m_actions{};
    bool m_ok = false;
};

// Waits for the handler on a thread of its own, so that the window never waits and no
// finished handler stays behind as a zombie.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

bool OpenWithDesktop(const std::string& target) {
    // The handler reads nothing from the program's input.
    FileActions actions;
    if (actions.Get() != nullptr) {
        ::posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    std::string program = "xdg-open";
    std::string argument = target;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawnp(&pid, program.c_str(), actions.Get(), nullptr, argv, environ) != 0) {
        return false;
    }
    ReapLater(pid);
    return true;
}

}  // namespace platform
