#include "support/ChildProcess.h"

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
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

void MakePipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

// Spawns argv with its standard output on a new pipe, whose read end goes to *output.
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
bool ReadSome(int fd, std::string& text) {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    text.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    return got > 0;
}

std::string ReadAll(int fd) {
    std::string text;
    while (ReadSome(fd, text)) {
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

bool TakeLine(std::string& pending, std::string& line) {
    const std::size_t end = pending.find('\n');
    if (end == std::string::npos) {
        return false;
    }
    line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return true;
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
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (!TakeLine(m_pending, line)) {
        pollfd ready{m_output, POLLIN, 0};
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) <= 0 ||
            !ReadSome(m_output, m_pending)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> ChildProcess::RemainingLines() {
    m_pending += ReadAll(m_output);
    std::vector<std::string> lines;
    for (std::string line; TakeLine(m_pending, line);) {
        lines.push_back(line);
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
    if (!m_reaped && (m_status = WaitFor(m_pid, WNOHANG)) != -1) {
        m_reaped = true;
    }
    return !m_reaped;
}

ForkResult RunForked(const std::function<std::string()>& body) {
    int ends[2];
    MakePipe(ends);
    std::fflush(nullptr);  // else both processes would write what is still buffered
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
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
    ForkResult result{0, ReadAll(ends[0])};
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
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string word, soft, hard; limits >> word;) {
        if (word == "core" && limits >> word >> word >> soft >> hard) {
            return soft + " " + hard;
        }
    }
    return "";
}

}  // namespace testsupport
