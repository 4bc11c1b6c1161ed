#include "support/ProgramRun.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

// Exit codes of the child when it could not become the program.
constexpr int kNoNetworkOfItsOwn = 120;
constexpr int kCannotStart = 121;

}  // namespace

void ProgramRun::Install(const std::string& executable, const std::string& folder) {
    const std::filesystem::path target = std::filesystem::path(folder) / "ferrocask";
    std::filesystem::copy_file(executable, target,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all);
}

ProgramRun::ProgramRun(const std::string& folder, bool ownNetwork) {
    // Everything the child needs is made before the fork: after it, only system calls.
    const std::string program = folder + "/ferrocask";
    const std::string output = m_outputDir.File("output.txt");
    // In the sanitizer build the program checks for leaks as it ends. fontconfig keeps its
    // caches for the life of the process and never frees them, and GTK keeps a few strings
    // of its own (from GLib's allocator, whose frames the leak checker cannot unwind past)
    // the same way: only allocations made inside those libraries are waived, a leak of the
    // program's own code still fails.
    const std::string suppressions = m_outputDir.File("leaks.supp");
    WriteFile(suppressions, "leak:libfontconfig.so\nleak:libglib-2.0.so\n");
    std::string leakOptions = "suppressions=" + suppressions;
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text = *variable;
        if (text.rfind("LSAN_OPTIONS=", 0) == 0) {
            leakOptions = text.substr(13) + ":" + leakOptions;
        } else if (text.rfind("GSETTINGS_BACKEND=", 0) != 0 &&
                   text.rfind("NO_AT_BRIDGE=", 0) != 0) {
            environment.push_back(text);
        }
    }
    // No settings daemon and no accessibility bus run under the test display.
    environment.push_back("GSETTINGS_BACKEND=memory");
    environment.push_back("NO_AT_BRIDGE=1");
    environment.push_back("LSAN_OPTIONS=" + leakOptions);
    std::vector<char*> envp;
    for (std::string& text : environment) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::string argument0 = program;
    char* argv[] = {argument0.data(), nullptr};

    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        if (ownNetwork && ::unshare(CLONE_NEWNET) != 0) {
            ::_exit(kNoNetworkOfItsOwn);
        }
        const int input = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (input < 0 || out < 0 || ::chdir(folder.c_str()) != 0) {
            ::_exit(kCannotStart);
        }
        ::dup2(input, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execve(program.c_str(), argv, envp.data());
        ::_exit(kCannotStart);
    }
}

ProgramRun::~ProgramRun() {
    if (!m_ended) {
        ::kill(m_pid, SIGKILL);
        WaitForEnd(10000);
    }
}

bool ProgramRun::Running() {
    if (m_ended) {
        return false;
    }
    int status = 0;
    const pid_t got = ::waitpid(m_pid, &status, WNOHANG);
    if (got == m_pid) {
        m_ended = true;
        m_status = status;
    }
    return !m_ended;
}

bool ProgramRun::WaitForEnd(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ProgramRun::Output() const {
    return FileExists(m_outputDir.File("output.txt")) ? ReadFile(m_outputDir.File("output.txt"))
                                                      : std::string();
}

}  // namespace testsupport
