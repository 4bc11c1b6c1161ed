#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

void MakePipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

// Spawns argv with its standard output on a new pipe; the read end is returned in *output.
pid_t Spawn(std::vector<std::string> argv, const std::string& stderrFile, int* output) {
    int ends[2];
    MakePipe(ends);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    *output = ends[0];
    return pid;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno != EINTR) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got < 0 ? 0 : got));
    }
    return text;
}

int WaitFor(pid_t pid, int options = 0) {
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(pid, &status, options)) < 0 && errno == EINTR) {
    }
    return got == pid ? status : -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stderrFile) {
    m_pid = Spawn(argv, stderrFile, &m_output);
}

ChildProcess::~ChildProcess() {
    Kill(SIGKILL);
    Wait();
    ::close(m_output);
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::size_t end; (end = m_pending.find('\n')) == std::string::npos;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd ready{m_output, POLLIN, 0};
        char buffer[4096];
        ssize_t got = 0;
        if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) <= 0 ||
            (got = ::read(m_output, buffer, sizeof buffer)) <= 0) {
            return false;
        }
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t end = m_pending.find('\n');
    line = m_pending.substr(0, end);
    m_pending.erase(0, end + 1);
    return true;
}

std::vector<std::string> ChildProcess::RemainingLines() {
    m_pending += ReadAll(m_output);
    std::vector<std::string> lines;
    for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
        lines.push_back(m_pending.substr(0, end));
        m_pending.erase(0, end + 1);
    }
    return lines;
}

void ChildProcess::Kill(int signal) {
    if (!m_reaped) {
        ::kill(m_pid, signal);
    }
}

int ChildProcess::Wait() {
    if (!m_reaped) {
        m_status = WaitFor(m_pid);
        m_reaped = true;
    }
    return m_status;
}

bool ChildProcess::Running() {
    if (!m_reaped) {
        const int status = WaitFor(m_pid, WNOHANG);
        if (status != -1) {
            m_status = status;
            m_reaped = true;
        }
    }
    return !m_reaped;
}

ForkResult RunForked(const std::function<std::string()>& body) {
    int ends[2];
    MakePipe(ends);
    // Output still buffered would otherwise be written by both processes.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::close(ends[0]);
        const std::string report = body();
        for (std::size_t sent = 0; sent < report.size();) {
            const ssize_t n = ::write(ends[1], report.data() + sent, report.size() - sent);
            if (n <= 0) {
                std::_Exit(4);
            }
            sent += static_cast<std::size_t>(n);
        }
        // No exit handlers: they belong to the test process and must not run twice.
        std::_Exit(0);
    }
    ::close(ends[1]);
    ForkResult result;
    result.report = ReadAll(ends[0]);
    ::close(ends[0]);
    result.status = WaitFor(pid);
    return result;
}

int RunCommand(const std::vector<std::string>& argv, std::string* output) {
    int out = -1;
    const pid_t pid = Spawn(argv, "/dev/null", &out);
    std::string text = ReadAll(out);
    ::close(out);
    const int status = WaitFor(pid);
    if (output != nullptr) {
        *output = std::move(text);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CoreFileLimits(pid_t pid) {
    static const std::string kField = "Max core file size";
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind(kField, 0) == 0) {
            std::istringstream words(line.substr(kField.size()));
            std::string soft, hard;
            words >> soft >> hard;
            return soft + " " + hard;
        }
    }
    return "";
}

}  // namespace testsupport
