// Other processes for tests: a program started with its standard output on a pipe, and a
// function run in a forked copy of the test process that sends back a text.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

namespace detail {

// Spawns argv with its standard output on a new pipe, whose read end goes to *output.
inline pid_t Spawn(std::vector<std::string> argv, const std::string& stderrFile, int* output) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    std::vector<char*> args(argv.size() + 1);
    std::transform(argv.begin(), argv.end(), args.begin(), [](std::string& a) { return a.data(); });
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    *output = ends[0];
    if (failed != 0) {
        ::close(ends[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return pid;
}
// Appends what one read brings; false at the end of the output or on an error.
inline bool ReadSome(int fd, std::string& text) {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    text.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    return got > 0;
}
// Reads fd to its end and closes it.
inline std::string ReadAll(int fd) {
    std::string text;
    while (ReadSome(fd, text)) {
    }
    ::close(fd);
    return text;
}
inline int WaitFor(pid_t pid, int options = 0) {
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(pid, &status, options)) < 0 && errno == EINTR) {
    }
    return got == pid ? status : -1;
}
inline bool TakeLine(std::string& pending, std::string& line) {
    const std::size_t end = pending.find('\n');
    if (end == std::string::npos) {
        return false;
    }
    line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return true;
}

}  // namespace detail

// A running program whose output the test reads by lines; killed (SIGKILL) at the end.
class ChildProcess {
public:
    // Starts argv[0] with the arguments that follow, stderr into stderrFile if one is given.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::string& stderrFile = "") {
        m_pid = detail::Spawn(argv, stderrFile, &m_output);
    }
    ~ChildProcess() {
        Kill(SIGKILL);
        Wait();
        ::close(m_output);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of output without its line end; false when none came in time.
    bool ReadLine(std::string& line, int timeoutMs) {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
        while (!detail::TakeLine(m_pending, line)) {
            pollfd ready{m_output, POLLIN, 0};
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) <= 0 ||
                !detail::ReadSome(m_output, m_pending)) {
                return false;
            }
        }
        return true;
    }
    // Every complete line left in the output; only after the program ended.
    std::vector<std::string> RemainingLines() {
        while (detail::ReadSome(m_output, m_pending)) {
        }
        std::vector<std::string> lines;
        for (std::string line; detail::TakeLine(m_pending, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    void Kill(int signal) {
        if (!m_reaped) {
            ::kill(m_pid, signal);
        }
    }
    // Waits for the end; the wait status.
    int Wait() {
        if (!m_reaped) {
            m_status = detail::WaitFor(m_pid);
            m_reaped = true;
        }
        return m_status;
    }
    // Whether the program still runs; it is reaped once it ended.
    bool Running() {
        if (!m_reaped && (m_status = detail::WaitFor(m_pid, WNOHANG)) != -1) {
            m_reaped = true;
        }
        return !m_reaped;
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_pending;  // read but not yet handed out as lines
    bool m_reaped = false;
    int m_status = 0;
};

struct ForkResult {
    int status = 0;      // wait status of the child
    std::string report;  // the text the function returned
};

// Runs body in a forked child (exit 0 once it returned) for what it returns; for bodies that
// need no other thread of this process.
inline ForkResult RunForked(const std::function<std::string()>& body) {
    int ends[2];
    std::fflush(nullptr);  // else both processes would write what is still buffered
    const pid_t pid = ::pipe2(ends, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (pid < 0) {
        throw std::runtime_error("pipe or fork failed");
    }
    if (pid == 0) {
        const std::string report = body();
        std::size_t sent = 0;
        for (ssize_t n; sent < report.size() &&
                        (n = ::write(ends[1], report.data() + sent, report.size() - sent)) > 0;) {
            sent += static_cast<std::size_t>(n);
        }
        // Not exit(): the exit handlers are the test process's, not to be run twice.
        std::_Exit(sent == report.size() ? 0 : 4);
    }
    ::close(ends[1]);
    ForkResult result{0, detail::ReadAll(ends[0])};
    result.status = detail::WaitFor(pid);
    return result;
}
// Runs a command found on PATH (no shell); its exit code (-1 when it did not exit normally),
// its output in *output. What it writes to stderr is dropped.
inline int RunCommand(const std::vector<std::string>& argv, std::string* output = nullptr) {
    int out;
    const pid_t pid = detail::Spawn(argv, "/dev/null", &out);
    std::string ignored;
    (output != nullptr ? *output : ignored) = detail::ReadAll(out);
    const int status = detail::WaitFor(pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
// The soft and hard core file size limits of process pid ("0 0": off; "": unreadable).
inline std::string CoreFileLimits(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string word, soft, hard; limits >> word;) {
        if (word == "core" && limits >> word >> word >> soft >> hard) {
            return soft + " " + hard;
        }
    }
    return "";
}

}  // namespace testsupport
