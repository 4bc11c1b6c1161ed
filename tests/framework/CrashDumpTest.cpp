// Each case runs the helper program crash_child in a scratch folder, lets it die, and looks at
// how it died and at what it left.
#include "framework/CrashDump.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

using namespace testsupport;

namespace {

// Every way of dying leaves one report, dump_<name>_<time>.dmp, with the signal, the process id,
// a backtrace and the memory map; a name too long for a file goes to standard error instead.
TEST(CrashDumpTest, BadAccessesAbortsUncaughtExceptionsAndStackOverflowsAreReported) {
    // Under a sanitizer, let the program's own handlers see the faults.
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        ::setenv(name,
                 "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
                 "allow_user_segv_handler=1:detect_leaks=0",
                 1);
    }
    const struct {
        std::vector<std::string> args;  // crash_child, how, the report's name, the output path
        int signal;
        std::string part;  // a part of the report
    } cases[] = {
        {{CRASH_CHILD, "null-write", "probe"}, SIGSEGV, "fault address: 0x0\n"},
        {{CRASH_CHILD, "abort", "ombrix", "out/"}, SIGABRT, "crash_child\n"},
        {{CRASH_CHILD, "throw", "ex"}, SIGABRT, "std::runtime_error: nobody catches this\n"},
        {{CRASH_CHILD, "overflow", "deep"}, SIGSEGV, "(CrashChildRecurse+"},
        {{CRASH_CHILD, "abort", "long", std::string(5000, 'p')}, SIGABRT, "Ombrix crash report\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2]);
        TempDir dir;
        ScopedWorkingDirectory inside(dir.Path());
        const bool toStderr = c.args[2] == "long";
        const std::string folder = dir.File(c.args.size() > 3 && !toStderr ? c.args[3] : "");
        ::mkdir(folder.c_str(), 0700);
        ChildProcess child(c.args, dir.File("stderr.txt"));
        const int status = child.Wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        const std::string errors = ReadFile(dir.File("stderr.txt"));
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
        const std::vector<std::string> dumps = ListFiles(folder, "dump_" + c.args[2] + "_");
        ASSERT_EQ(dumps.size(), toStderr ? 0u : 1u) << errors;
        const std::string report = toStderr ? errors : ReadFile(folder + dumps[0]);
        for (const std::string& part : std::vector<std::string>{
                 c.part, "signal: " + std::to_string(c.signal) + " (SIG", "\nbacktrace:\n",
                 "process id: " + std::to_string(child.Pid()) + "\n", "\nmemory map:\n"}) {
            EXPECT_NE(report.find(part), std::string::npos) << part << " missing in\n" << report;
        }
    }
}

}  // namespace
