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

std::vector<char*> ArgumentPointers(std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Spawns argv with its standard output on a new pipe; the read end is returned in *output.
pid_t Spawn(std::vector<std::string> argv, const std::string& stderrFile, int* output) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    std::vector<char*> args = ArgumentPointers(argv);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (failed != 0) {
        ::close(pipeEnds[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    *output = pipeEnds[0];
    return pid;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stderrFile) {
    m_pid = Spawn(argv, stderrFile, &m_output);
}

ChildProcess::~ChildProcess() {
    if (!m_reaped) {
        ::kill(m_pid, SIGKILL);
        Wait();
    }
    ::close(m_output);
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd ready{m_output, POLLIN, 0};
        if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_output, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
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

ForkResult RunForked(const std::function<std::string()>& body) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // Output still buffered would otherwise be written by both processes.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::close(pipeEnds[0]);
        const std::string report = body();
        std::size_t sent = 0;
        while (sent < report.size()) {
            const ssize_t n = ::write(pipeEnds[1], report.data() + sent, report.size() - sent);
            if (n <= 0) {
                std::_Exit(4);
            }
            sent += static_cast<std::size_t>(n);
        }
        // No exit handlers: they belong to the test process and must not run twice.
        std::_Exit(0);
    }
    ::close(pipeEnds[1]);
    ForkResult result;
    result.report = ReadAll(pipeEnds[0]);
    ::close(pipeEnds[0]);
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
    std::string line;
    while (std::getline(limits, line)) {
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
