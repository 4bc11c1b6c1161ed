// Each case runs the helper program crash_child in a scratch folder, lets it die, and looks at
// how it died and at what it left.
#include "framework/CrashDump.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/LocalTime.h"
#include "framework/ProcessGuard.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

using namespace testsupport;

namespace {

struct Death {
    int signal = 0;  // the signal that ended the child
    int pid = 0;
    std::string errors;  // its standard error
};

// Runs crash_child with args in folder until it ends.
Death RunChild(const std::string& folder, const std::vector<std::string>& args) {
    // Under a sanitizer, let the program's own handlers see the faults.
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        ::setenv(name,
                 "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
                 "allow_user_segv_handler=1:detect_leaks=0",
                 1);
    }
    ScopedWorkingDirectory inside(folder);
    std::vector<std::string> argv{CRASH_CHILD};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, folder + "/stderr.txt");
    const int status = child.Wait();
    return {WIFSIGNALED(status) ? WTERMSIG(status) : 0, child.Pid(),
            ReadFile(folder + "/stderr.txt")};
}

// Every way of dying leaves one report, named after the local time of the crash, with the
// signal, the process id, a backtrace and the memory map, and nothing a sanitizer would
// complain about; core dumps being off does not stop it.
TEST(CrashDumpTest, BadAccessesAbortsUncaughtExceptionsAndStackOverflowsAreReported) {
    const std::string uncaught =
        "reason: uncaught exception of type std::runtime_error: nobody catches this\n";
    const struct {
        std::vector<std::string> args;
        std::string signal, name;  // the signal as reported, the report's name
        std::vector<std::string> parts;
    } cases[] = {
        {{"null-write", "probe"},
         "11 (SIGSEGV)",
         "probe",
         {"fault address: 0x0\n", "(CrashChildNullWrite+"}},
        {{"abort", "", "out/"}, "6 (SIGABRT)", "ombrix", {}},  // under the output path
        {{"throw", "ex"}, "6 (SIGABRT)", "ex", {uncaught}},
        {{"thread-throw", "ex"}, "6 (SIGABRT)", "ex", {uncaught}},
        {{"overflow", "deep"}, "11 (SIGSEGV)", "deep", {"(CrashChildRecurse+"}},
        {{"framework"}, "11 (SIGSEGV)", "fromconfig", {}},  // the name configured
        {{"undumpable-null-write", "guarded"}, "11 (SIGSEGV)", "guarded", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        TempDir dir;
        ::mkdir(dir.File("out").c_str(), 0700);
        WriteFile(dir.File("config.txt"),
                  "/config/system/log false\n/config/system/dumpname fromconfig");
        const std::string folder = dir.File(c.args.size() > 2 ? c.args[2] : "");
        const Ombrix::LocalTime t0 = Ombrix::CurrentLocalTime();
        const Death death = RunChild(dir.Path(), c.args);
        const Ombrix::LocalTime t1 = Ombrix::CurrentLocalTime();
        EXPECT_EQ(death.signal, std::stoi(c.signal)) << death.errors;
        const std::vector<std::string> dumps = ListFiles(folder, "dump_");
        ASSERT_EQ(dumps.size(), 1u) << death.errors;
        EXPECT_EQ(ListFiles(dir.Path(), "dump_").size(), c.args.size() > 2 ? 0u : 1u);
        auto name = [&](const Ombrix::LocalTime& t) {
            return Ombrix::ComposeDumpFileName("", c.name, t.year, t.month, t.day, t.hour, t.minute,
                                               t.second);
        };
        EXPECT_TRUE(dumps[0] == name(t0) || dumps[0] == name(t1)) << dumps[0];
        const std::string report = ReadFile(folder + dumps[0]);
        std::vector<std::string> parts = c.parts;
        parts.insert(parts.end(),
                     {"signal: " + c.signal + "\n", "\nbacktrace:\n", "\nmemory map:\n",
                      "process id: " + std::to_string(death.pid) + "\n", "crash_child\n"});
        for (const std::string& part : parts) {
            EXPECT_NE(report.find(part), std::string::npos) << part << " missing in\n" << report;
        }
        EXPECT_EQ(report.find("reason:") != std::string::npos, c.name == "ex");
        EXPECT_NE(death.errors.find("crash report written to "), std::string::npos);
        EXPECT_EQ(death.errors.find("Sanitizer"), std::string::npos) << death.errors;
    }
}

TEST(CrashDumpTest, ANameTooLongForAFileGoesToStandardErrorInstead) {
    TempDir dir;
    const Death death = RunChild(dir.Path(), {"abort", "long", dir.File(std::string(5000, 'p'))});
    EXPECT_EQ(death.signal, SIGABRT);
    EXPECT_EQ(ListFiles(dir.Path()), std::vector<std::string>{"stderr.txt"});
    EXPECT_NE(death.errors.find("Ombrix crash report\n"), std::string::npos) << death.errors;
    EXPECT_NE(death.errors.find("signal: 6 (SIGABRT)\n"), std::string::npos);
}

// Core dumps off: seen from inside the process and from another process.
TEST(ProcessGuardTest, TheProcessTurnsItselfUndumpableForGoodAndLocksItsProcessFilesAway) {
    const ForkResult result = RunForked([] {
        std::string report = Ombrix::CoreDumpsDisabled() ? "before:off " : "before:on ";
        report += Ombrix::DisableCoreDumps() ? "disabled " : "failed ";
        report += Ombrix::CoreDumpsDisabled() ? "after:off " : "after:on ";
        rlimit limit{};
        ::getrlimit(RLIMIT_CORE, &limit);
        return report + std::to_string(limit.rlim_cur) + "/" + std::to_string(limit.rlim_max);
    });
    ASSERT_TRUE(WIFEXITED(result.status));
    EXPECT_EQ(result.report, "before:on disabled after:off 0/0");

    // An undumpable process's /proc entries belong to root, so that other programs of the
    // same user cannot read its memory there. Only visible to a test that does not run as root.
    ChildProcess child({CRASH_CHILD, "undumpable-wait"});
    std::string line;
    ASSERT_TRUE(child.ReadLine(line, 10000));
    ASSERT_EQ(line, "ready");
    const std::string memory = "/proc/" + std::to_string(child.Pid()) + "/mem";
    struct stat info {};
    ASSERT_EQ(::stat(memory.c_str(), &info), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(::open(memory.c_str(), O_RDONLY), -1);
    }
}

}  // namespace
