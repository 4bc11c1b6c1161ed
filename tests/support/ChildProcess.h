// Other processes for tests: a program started with its standard output on a pipe, and a
// function run in a forked copy of the test process that sends back a text.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A running program whose standard output the test reads line by line; killed (SIGKILL)
// and reaped at the end if it still runs.
class ChildProcess {
public:
    // Starts argv[0] with the arguments that follow, stderr into stderrFile if one is given.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& stderrFile = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The next line of output without its line end; false when none came within timeoutMs
    // or the output ended.
    bool ReadLine(std::string& line, int timeoutMs);
    std::vector<std::string> RemainingLines();  // every complete line; after the end only
    void Kill(int signal);
    int Wait();      // waits for the end; the wait status
    bool Running();  // reaps the program once it ended
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

// Runs body in a forked child (which exits 0 once body returned) and returns what it
// returned. Only for bodies that need no other thread of this process.
ForkResult RunForked(const std::function<std::string()>& body);
// Runs a command found on PATH (no shell); its exit code (-1 when it did not exit normally),
// its output in *output. What it writes to stderr is dropped.
int RunCommand(const std::vector<std::string>& argv, std::string* output = nullptr);
// The soft and hard core file size limits of process pid as /proc/<pid>/limits shows them
// ("0 0" when core files are off); "" when they cannot be read.
std::string CoreFileLimits(pid_t pid);

}  // namespace testsupport
