#include "support/ProgramRun.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

void ProgramRun::Install(const std::string& executable, const std::string& folder) {
    const std::filesystem::path target = std::filesystem::path(folder) / "ferrocask";
    std::filesystem::copy_file(executable, target,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all);
}

ProgramRun::ProgramRun(const std::string& folder, bool ownNetwork) {
    // Everything the child needs is made before the fork: after it, only system calls.
    std::string program = folder + "/ferrocask";
    const std::string output = m_outputDir.File("output.txt");
    // In the sanitizer build the program checks for leaks as it ends. fontconfig keeps its
    // caches for the life of the process, and GTK a few strings of its own (from GLib's
    // allocator, whose frames the leak checker cannot unwind past): only allocations made
    // inside those libraries are waived, a leak of the program's own code still fails.
    const std::string suppressions = m_outputDir.File("leaks.supp");
    WriteFile(suppressions, "leak:libfontconfig.so\nleak:libglib-2.0.so\n");
    const char* leakOptions = std::getenv("LSAN_OPTIONS");
    // No settings daemon and no accessibility bus run under the test display.
    std::vector<std::string> environment{
        "GSETTINGS_BACKEND=memory", "NO_AT_BRIDGE=1",
        "LSAN_OPTIONS=" + std::string(leakOptions ? leakOptions + std::string(":") : "") +
            "suppressions=" + suppressions};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text = *variable;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (name != "LSAN_OPTIONS=" && name != "GSETTINGS_BACKEND=" && name != "NO_AT_BRIDGE=") {
            environment.push_back(text);
        }
    }
    std::vector<char*> envp;
    for (std::string& text : environment) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    char* argv[] = {program.data(), nullptr};

    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        if (ownNetwork && ::unshare(CLONE_NEWNET) != 0) {
            ::_exit(120);
        }
        const int input = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (input >= 0 && out >= 0 && ::chdir(folder.c_str()) == 0) {
            ::dup2(input, STDIN_FILENO);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execve(program.c_str(), argv, envp.data());
        }
        ::_exit(121);
    }
}

ProgramRun::~ProgramRun() {
    if (Running()) {
        ::kill(m_pid, SIGKILL);
        WaitForEnd(10000);
    }
}

bool ProgramRun::Running() {
    int status = 0;
    if (!m_ended && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_ended = true;
        m_status = status;
    }
    return !m_ended;
}

bool ProgramRun::WaitForEnd(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !Running();
}

}  // namespace testsupport
