// The real program as a user starts it: its executable copied into a program folder of its
// own, started with that folder as working directory, no input on stdin, no arguments.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace testsupport {

class ProgramRun {
public:
    // Copies the executable into folder under the name "ferrocask".
    static void Install(const std::string& executable, const std::string& folder);
    // Starts folder/ferrocask in folder; with ownNetwork in a network of its own with
    // nothing in it, where whatever it tries to reach fails at once. Killed at the end.
    explicit ProgramRun(const std::string& folder, bool ownNetwork = false);

    pid_t Pid() const { return m_process->Pid(); }
    bool Running() { return m_process->Running(); }
    bool WaitForEnd(int timeoutMs);             // whether it ended within the time
    int Status() { return m_process->Wait(); }  // its wait status, once it ended
    // What it wrote to stdout and stderr.
    std::string Output() const { return ReadFile(m_outputDir.File("output.txt")); }

private:
    TempDir m_outputDir;
    std::unique_ptr<ChildProcess> m_process;
};

}  // namespace testsupport
