// Core dumps off: seen from inside the process, from another process, and with the
// program's own crash report still written.
#include "framework/ProcessGuard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

using testsupport::ChildProcess;
using testsupport::CoreFileLimits;
using testsupport::ListFiles;
using testsupport::ReadFile;
using testsupport::RunForked;
using testsupport::TempDir;

namespace {}  // namespace

TEST(ProcessGuardTest, TheProcessTurnsItselfUndumpableAndCannotGetCoreFilesBack) {
    const testsupport::ForkResult result = RunForked([] {
        std::string report;
        report += Ombrix::CoreDumpsDisabled() ? "before:off " : "before:on ";
        report += Ombrix::DisableCoreDumps() ? "disabled " : "failed ";
        report += Ombrix::CoreDumpsDisabled() ? "after:off " : "after:on ";
        rlimit limit{};
        ::getrlimit(RLIMIT_CORE, &limit);
        report += std::to_string(limit.rlim_cur) + "/" + std::to_string(limit.rlim_max);
        return report;
    });
    ASSERT_TRUE(WIFEXITED(result.status));
    EXPECT_EQ(result.report, "before:on disabled after:off 0/0");
}

TEST(ProcessGuardTest, AnotherProcessSeesNoCoreFileAllowedAndTheProcessFilesLockedAway) {
    TempDir dir;
    ChildProcess child({CRASH_CHILD, "undumpable-wait"});
    std::string line;
    ASSERT_TRUE(child.ReadLine(line, 10000));
    ASSERT_EQ(line, "ready");
    EXPECT_EQ(CoreFileLimits(child.Pid()), "0 0");
    EXPECT_NE(CoreFileLimits(::getpid()), "0 0");  // the reading works on a normal process

    // An undumpable process's /proc entries belong to root, so that other programs of the
    // same user cannot read its memory or its environment there. Only visible to a test
    // that does not itself run as root.
    struct stat info {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(child.Pid()) + "/mem").c_str(), &info), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(::open(("/proc/" + std::to_string(child.Pid()) + "/mem").c_str(), O_RDONLY), -1);
    }
    child.Kill(SIGKILL);
    child.Wait();
}

TEST(ProcessGuardTest, TheCrashReportIsStillWrittenWithCoreDumpsOff) {
    TempDir dir;
    const std::string errors = dir.File("stderr.txt");
    int status = 0;
    {
        testsupport::ScopedWorkingDirectory inside(dir.Path());
        // Under a sanitizer, let the program's own handler see the fault.
        ::setenv("ASAN_OPTIONS", "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0", 1);
        ::setenv("UBSAN_OPTIONS", "handle_segv=0", 1);
        ChildProcess child({CRASH_CHILD, "undumpable-null-write", "guarded"}, errors);
        status = child.Wait();
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << ReadFile(errors);
    EXPECT_FALSE(WCOREDUMP(status));
    const auto dumps = ListFiles(dir.Path(), "dump_guarded_");
    ASSERT_EQ(dumps.size(), 1u) << ReadFile(errors);
    const std::string report = ReadFile(dir.File(dumps[0]));
    EXPECT_NE(report.find("signal: 11 (SIGSEGV)"), std::string::npos) << report;
    EXPECT_NE(report.find("\nmemory map:\n"), std::string::npos) << report;
    EXPECT_EQ(ListFiles(dir.Path(), "core").size(), 0u);
}
