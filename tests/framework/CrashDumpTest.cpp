// Each case runs the helper program crash_child in a scratch folder, lets it crash, and looks
// at how it died and at the report it left.
#include "framework/CrashDump.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "framework/LocalTime.h"
#include "support/TempDir.h"

using testsupport::ListFiles;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

struct Outcome {
    int signal = 0;  // the signal that ended the child
    int pid = 0;
    std::string errors;  // its standard error
};

Outcome RunChild(const std::string& folder, std::vector<std::string> args) {
    const std::string errorFile = folder + "/child-stderr.txt";
    std::string program = CRASH_CHILD;
    std::vector<char*> argv{program.data()};
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::chdir(folder.c_str()) != 0 || ::dup2(err, STDERR_FILENO) < 0) {
            ::_exit(120);
        }
        // Under a sanitizer, let the program's own handlers see the faults.
        const char* options =
            "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
            "allow_user_segv_handler=1:detect_leaks=0";
        for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            ::setenv(name, options, 1);
        }
        ::execv(argv[0], argv.data());
        ::_exit(121);
    }
    Outcome outcome;
    outcome.pid = child;
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.errors = ReadFile(errorFile);
    return outcome;
}

class CrashDumpTest : public ::testing::Test {
protected:
    // Crashes the child in runIn and returns the one report found in folder (default: the
    // same), after checking how the child died and the report's name and common parts.
    std::string CrashAndReadReport(const std::vector<std::string>& args, int expectedSignal,
                                   const std::string& dumpName, const TempDir* runIn = nullptr,
                                   std::string folder = "") {
        const std::string run = (runIn != nullptr ? runIn : &dir)->Path();
        folder = folder.empty() ? run : folder;
        const Ombrix::LocalTime t0 = Ombrix::CurrentLocalTime();
        outcome = RunChild(run, args);
        const Ombrix::LocalTime t1 = Ombrix::CurrentLocalTime();
        EXPECT_EQ(outcome.signal, expectedSignal) << outcome.errors;
        const std::vector<std::string> dumps = ListFiles(folder, "dump_");
        if (dumps.size() != 1) {
            ADD_FAILURE() << dumps.size() << " dump files; stderr: " << outcome.errors;
            return "";
        }
        // Named after the local time of the crash.
        auto name = [&](const Ombrix::LocalTime& t) {
            return Ombrix::ComposeDumpFileName("", dumpName, t.year, t.month, t.day, t.hour,
                                               t.minute, t.second);
        };
        EXPECT_TRUE(dumps[0] == name(t0) || dumps[0] == name(t1)) << dumps[0];
        const std::string report = ReadFile(folder + "/" + dumps[0]);
        for (const std::string& part :
             {"process id: " + std::to_string(outcome.pid) + "\n", std::string("\nbacktrace:\n"),
              std::string("\nmemory map:\n"), std::string("crash_child\n")}) {
            EXPECT_NE(report.find(part), std::string::npos) << part << " missing in\n" << report;
        }
        // A sanitizer would have complained here about anything unsafe in the handler.
        EXPECT_EQ(outcome.errors.find("Sanitizer"), std::string::npos) << outcome.errors;
        return report;
    }

    TempDir dir;
    Outcome outcome;
};

TEST(CrashDumpFileNameTest, JoinsPathNameAndLocalTime) {
    EXPECT_EQ(Ombrix::ComposeDumpFileName("", "ombrix", 2014, 1, 2, 3, 4, 5),
              "dump_ombrix_2014_01_02_03_04_05.dmp");
}

TEST_F(CrashDumpTest, ABadMemoryAccessIsReportedWithItsAddressAndBacktrace) {
    const std::string report = CrashAndReadReport({"null-write", "probe"}, SIGSEGV, "probe");
    EXPECT_NE(report.find("signal: 11 (SIGSEGV)\n"), std::string::npos) << report;
    EXPECT_NE(report.find("fault address: 0x0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("(CrashChildNullWrite+"), std::string::npos) << report;
    EXPECT_NE(outcome.errors.find("crash report written to dump_probe_"), std::string::npos);
}

TEST_F(CrashDumpTest, AnAbortIsReportedUnderTheOutputPathWithTheDefaultName) {
    TempDir out;
    const std::string report =
        CrashAndReadReport({"abort", "", out.Path() + "/"}, SIGABRT, "ombrix", &dir, out.Path());
    EXPECT_NE(report.find("signal: 6 (SIGABRT)\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("reason:"), std::string::npos);
    EXPECT_TRUE(ListFiles(dir.Path(), "dump_").empty());
}

TEST_F(CrashDumpTest, AnUncaughtExceptionIsReportedWithItsTypeAndMessage) {
    for (const char* how : {"throw", "thread-throw"}) {
        TempDir fresh;
        const std::string report = CrashAndReadReport({how, "ex"}, SIGABRT, "ex", &fresh);
        EXPECT_NE(report.find("reason: uncaught exception of type std::runtime_error: nobody "
                              "catches this\n"),
                  std::string::npos)
            << how << "\n"
            << report;
    }
}

TEST_F(CrashDumpTest, AStackOverflowIsReportedToo) {
    const std::string report = CrashAndReadReport({"overflow", "deep"}, SIGSEGV, "deep");
    EXPECT_NE(report.find("(CrashChildRecurse+"), std::string::npos) << report;
}

TEST_F(CrashDumpTest, ANameTooLongForAFileGoesToStandardErrorInstead) {
    outcome = RunChild(dir.Path(), {"abort", "long", dir.Path() + "/" + std::string(5000, 'p')});
    EXPECT_EQ(outcome.signal, SIGABRT);
    EXPECT_TRUE(ListFiles(dir.Path(), "").size() == 1u);  // only the captured stderr
    EXPECT_NE(outcome.errors.find("Ombrix crash report\n"), std::string::npos) << outcome.errors;
    EXPECT_NE(outcome.errors.find("signal: 6 (SIGABRT)\n"), std::string::npos);
}

TEST_F(CrashDumpTest, TheFrameworkInstallsTheWriterWithItsConfiguredName) {
    testsupport::WriteFile(dir.File("config.txt"),
                           "/config/system/log false\n/config/system/dumpname fromconfig\n");
    CrashAndReadReport({"framework"}, SIGSEGV, "fromconfig");
}

}  // namespace
