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
    int signal = 0;  // the signal that ended the child, 0 if it exited
    int pid = 0;
    std::string errors;  // what it wrote to standard error
};

// Runs crash_child with the arguments in folder and waits for it.
Outcome RunChild(const std::string& folder, const std::vector<std::string>& args) {
    const std::string errorFile = folder + "/child-stderr.txt";
    std::vector<char*> argv;
    std::string program = CRASH_CHILD;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(120);
        }
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, STDERR_FILENO);
        // The sanitizers would report these faults themselves instead of letting the
        // program's own handlers run.
        const char* handlers =
            "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
            "allow_user_segv_handler=1:detect_leaks=0";
        ::setenv("ASAN_OPTIONS", handlers, 1);
        ::setenv("TSAN_OPTIONS", handlers, 1);
        ::setenv("UBSAN_OPTIONS", handlers, 1);
        ::execv(argv[0], argv.data());
        ::_exit(121);
    }
    Outcome outcome;
    outcome.pid = child;
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    } else {
        ADD_FAILURE() << "crash_child exited with " << WEXITSTATUS(status);
    }
    outcome.errors = ReadFile(errorFile);
    return outcome;
}

std::string Stamp(const Ombrix::LocalTime& t) {
    return Ombrix::ComposeDumpFileName("", "", t.year, t.month, t.day, t.hour, t.minute,
                                       t.second)
        .substr(6);  // drop "dump__"
}

class CrashDumpTest : public ::testing::Test {
protected:
    // Crashes the child and returns the text of the one report it wrote, named after the
    // dump name and a local time within the child's life.
    // The child runs in runIn; the report is looked for in folder (default: runIn).
    std::string CrashAndReadReport(const std::vector<std::string>& args, int expectedSignal,
                                   const std::string& dumpName, const std::string& folder = "",
                                   const TempDir* runIn = nullptr) {
        const std::string run = runIn != nullptr ? runIn->Path() : dir.Path();
        const std::string where = folder.empty() ? run : folder;
        const Ombrix::LocalTime before = Ombrix::CurrentLocalTime();
        outcome = RunChild(run, args);
        const Ombrix::LocalTime after = Ombrix::CurrentLocalTime();
        EXPECT_EQ(outcome.signal, expectedSignal) << outcome.errors;

        const std::vector<std::string> dumps = ListFiles(where, "dump_");
        if (dumps.size() != 1) {
            ADD_FAILURE() << dumps.size() << " dump files; stderr: " << outcome.errors;
            return "";
        }
        const std::regex pattern("dump_" + dumpName + R"(_\d{4}_\d\d_\d\d_\d\d_\d\d_\d\d\.dmp)");
        EXPECT_TRUE(std::regex_match(dumps[0], pattern)) << dumps[0];
        const std::string stamp = dumps[0].substr(dumps[0].size() - 23);
        EXPECT_TRUE(stamp == Stamp(before) || stamp == Stamp(after))
            << stamp << " is not the local time of the crash";
        const std::string report = ReadFile(where + "/" + dumps[0]);
        EXPECT_NE(report.find("process id: " + std::to_string(outcome.pid) + "\n"),
                  std::string::npos);
        EXPECT_NE(report.find("\nbacktrace:\n"), std::string::npos);
        EXPECT_NE(report.find("\nmemory map:\n"), std::string::npos);
        // A sanitizer would complain here about anything unsafe inside the handler.
        EXPECT_EQ(outcome.errors.find("Sanitizer"), std::string::npos) << outcome.errors;
        return report;
    }

    TempDir dir;
    Outcome outcome;
};

TEST(CrashDumpFileNameTest, JoinsPathNameAndLocalTime) {
    EXPECT_EQ(Ombrix::ComposeDumpFileName("", "ombrix", 2014, 1, 2, 3, 4, 5),
              "dump_ombrix_2014_01_02_03_04_05.dmp");
    EXPECT_EQ(Ombrix::ComposeDumpFileName("out/", "app", 2014, 12, 31, 23, 59, 58),
              "out/dump_app_2014_12_31_23_59_58.dmp");
    EXPECT_EQ(Ombrix::ComposeDumpFileName("out", "app", 2014, 12, 31, 23, 59, 58),
              "outdump_app_2014_12_31_23_59_58.dmp");
}

TEST_F(CrashDumpTest, ABadMemoryAccessIsReportedWithItsAddressAndBacktrace) {
    const std::string report = CrashAndReadReport({"null-write", "probe"}, SIGSEGV, "probe");
    EXPECT_NE(report.find("signal: 11 (SIGSEGV)\n"), std::string::npos) << report;
    EXPECT_NE(report.find("fault address: 0x0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("CrashChildNullWrite"), std::string::npos) << report;
    EXPECT_NE(report.find("crash_child\n"), std::string::npos) << "no mapping of the program";
    EXPECT_NE(outcome.errors.find("crash report written to dump_probe_"), std::string::npos);
}

TEST_F(CrashDumpTest, AnAbortIsReportedAndTheDefaultNameIsOmbrix) {
    const std::string report = CrashAndReadReport({"abort"}, SIGABRT, "ombrix");
    EXPECT_NE(report.find("signal: 6 (SIGABRT)\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("reason:"), std::string::npos);
}

TEST_F(CrashDumpTest, AnUncaughtExceptionIsReportedWithItsTypeAndMessage) {
    for (const char* how : {"throw", "thread-throw"}) {
        TempDir fresh;
        const std::string report = CrashAndReadReport({how, "ex"}, SIGABRT, "ex", "", &fresh);
        EXPECT_NE(report.find("reason: uncaught exception of type std::runtime_error: nobody "
                              "catches this\n"),
                  std::string::npos)
            << how << "\n"
            << report;
    }
}

TEST_F(CrashDumpTest, AStackOverflowIsReportedToo) {
    const std::string report = CrashAndReadReport({"overflow", "deep"}, SIGSEGV, "deep");
    EXPECT_NE(report.find("signal: 11 (SIGSEGV)\n"), std::string::npos) << report;
}

TEST_F(CrashDumpTest, TheOutputPathPrefixesTheFileName) {
    TempDir out;
    CrashAndReadReport({"abort", "pre", out.Path() + "/"}, SIGABRT, "pre", out.Path());
    EXPECT_TRUE(ListFiles(dir.Path(), "dump_").empty());
}

TEST_F(CrashDumpTest, ANameTooLongForAFileGoesToStandardErrorInstead) {
    const std::string longPath = dir.Path() + "/" + std::string(5000, 'p') + "/";
    outcome = RunChild(dir.Path(), {"abort", "long", longPath});
    EXPECT_EQ(outcome.signal, SIGABRT);
    EXPECT_TRUE(ListFiles(dir.Path(), "dump_").empty());
    EXPECT_NE(outcome.errors.find("Ombrix crash report\n"), std::string::npos) << outcome.errors;
    EXPECT_NE(outcome.errors.find("signal: 6 (SIGABRT)\n"), std::string::npos);
}

TEST_F(CrashDumpTest, TheFrameworkInstallsTheWriterWithItsConfiguredName) {
    testsupport::WriteFile(dir.File("config.txt"),
                           "/config/system/log false\n/config/system/dumpname fromconfig\n");
    const std::string report = CrashAndReadReport({"framework"}, SIGSEGV, "fromconfig");
    EXPECT_NE(report.find("CrashChildNullWrite"), std::string::npos) << report;
}

}  // namespace
