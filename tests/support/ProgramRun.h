// The real program as a user starts it: its executable copied into a program folder of its
// own, started with that folder as working directory, no input on stdin, no arguments.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/TempDir.h"

namespace testsupport {

class ProgramRun {
public:
    // Copies the executable into folder under the name "ferrocask".
    static void Install(const std::string& executable, const std::string& folder);

    // Starts folder/ferrocask in folder. With ownNetwork the process gets a network of its
    // own with nothing in it: whatever it tries to reach fails at once and no packet leaves
    // the machine (the child exits 120 when it cannot have one).
    explicit ProgramRun(const std::string& folder, bool ownNetwork = false);
    // Kills the program if it still runs.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    pid_t Pid() const { return m_pid; }
    bool Running();
    // Waits up to timeoutMs for the program to end; true when it did.
    bool WaitForEnd(int timeoutMs);
    // The wait status once the program has ended.
    int Status() const { return m_status; }
    // What the program wrote to stdout and stderr.
    std::string Output() const { return ReadFile(m_outputDir.File("output.txt")); }

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = 0;
    TempDir m_outputDir;
};

}  // namespace testsupport
