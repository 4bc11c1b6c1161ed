// The log and the store are created once per process; ctest runs every test case in a
// process of its own.
#include "framework/Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/LocalTime.h"
#include "support/TempDir.h"

using Ombrix::Config;
using Ombrix::Log;
using testsupport::ReadFile;
using testsupport::ScopedWorkingDirectory;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Compose(const std::string& path, const std::string& name, const Ombrix::LocalTime& t) {
    return Ombrix::ComposeLogFileName(path, name, t.year, t.month, t.day, t.hour, t.minute,
                                      t.second);
}

class LogTest : public ::testing::Test {
protected:
    // Creates the log with the given configuration file content and returns the path of the
    // file it opened, or "" when none of the names for the creation time exists.
    std::string CreateLog(const std::string& configText, const std::string& path = "",
                          const std::string& name = "ombrix") {
        WriteFile(dir.File("config.txt"), configText);
        Config::SetFileName("config.txt");
        if (Config::Instance().GetValue("/config/system/log").empty()) {
            Config::Instance().SetValue("/config/system/log", "true");
        }
        const Ombrix::LocalTime before = Ombrix::CurrentLocalTime();
        Log::Instance();
        const Ombrix::LocalTime after = Ombrix::CurrentLocalTime();
        for (const std::string& candidate :
             {Compose(path, name, before), Compose(path, name, after)}) {
            if (testsupport::FileExists(candidate)) {
                return candidate;
            }
        }
        return "";
    }

    std::vector<std::string> Lines(const std::string& file) {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(file));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
};

const std::regex kLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   error:(.*))");

TEST(LogFileNameTest, FollowsTheFixedFormat) {
    EXPECT_EQ(Ombrix::ComposeLogFileName("", "ombrix", 2013, 5, 30, 23, 18, 43),
              "log_ombrix_2013_05_30_23_18_43.txt");
    EXPECT_EQ(Ombrix::ComposeLogFileName("/var/tmp/", "app", 2014, 1, 2, 3, 4, 5),
              "/var/tmp/log_app_2014_01_02_03_04_05.txt");
    const std::string longPath(300, 'p');
    EXPECT_EQ(Ombrix::ComposeLogFileName(longPath, "n", 2014, 1, 2, 3, 4, 5),
              longPath + "log_n_2014_01_02_03_04_05.txt");
}

TEST_F(LogTest, DefaultsToOmbrixInTheWorkingDirectoryAndWritesStampedLines) {
    const std::string file = CreateLog("");
    ASSERT_FALSE(file.empty());
    Log::Instance().Error("acceptor.open fail");
    Log::Instance().Error(nullptr);
    const std::vector<std::string> lines = Lines(file);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLine)) << lines[0];
    EXPECT_EQ(match[1], "acceptor.open fail");
}

TEST_F(LogTest, NameAndOutputPathComeFromTheConfiguration) {
    TempDir out;
    const std::string file =
        CreateLog("/config/system/logname myapp\n/config/system/outputpath " + out.Path() + "/\n",
                  out.Path() + "/", "myapp");
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(testsupport::ListFiles(dir.Path(), "log_").empty());
}

TEST_F(LogTest, OutputPathWithoutSeparatorBecomesAFileNamePrefix) {
    const std::string file = CreateLog("/config/system/outputpath logs\n", "logs");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.compare(0, 7, "logslog"), 0);
}

TEST_F(LogTest, ALongOutputPathIsNeitherCutNorOverrun) {
    const std::string sub(120, 'd');
    std::filesystem::create_directory(dir.File(sub));
    const std::string path = dir.File(sub) + "/";
    const std::string file = CreateLog("/config/system/outputpath " + path + "\n", path);
    ASSERT_FALSE(file.empty());
    Log::Instance().Error("deep");
    EXPECT_EQ(Lines(file).size(), 1u);
}

TEST_F(LogTest, AnyOtherSwitchValueKeepsTheLogSilent) {
    EXPECT_EQ(CreateLog("/config/system/log yes\n"), "");
    Log::Instance().Error("nothing");
    Log::Instance().SetLevel(1);
    EXPECT_TRUE(testsupport::ListFiles(dir.Path(), "log_").empty());
}

TEST_F(LogTest, AFileThatCannotBeOpenedIsReportedOnce) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(CreateLog("/config/system/outputpath /nonexistent-dir/\n", "/nonexistent-dir/"), "");
    Log::Instance().Error("lost");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Log::Log(), fopen error!\n");
}

TEST_F(LogTest, LevelsOtherThanZeroAndOneAreIgnoredAndNeverSilenceErrors) {
    const std::string file = CreateLog("");
    ASSERT_FALSE(file.empty());
    Log::Instance().SetLevel(2);
    Log::Instance().SetLevel(-1);
    Log::Instance().Error("still written");
    Log::Instance().SetLevel(1);
    Log::Instance().Error("and again");
    EXPECT_EQ(Lines(file).size(), 2u);
}

TEST_F(LogTest, ConcurrentWritersProduceWholeLines) {
    const std::string file = CreateLog("");
    ASSERT_FALSE(file.empty());
    const std::string a(200, 'a'), b(200, 'b');
    auto writer = [](const std::string& text) {
        for (int i = 0; i < 300; ++i) {
            Log::Instance().Error(text.c_str());
        }
    };
    std::thread first(writer, a), second(writer, b);
    first.join();
    second.join();
    const std::vector<std::string> lines = Lines(file);
    ASSERT_EQ(lines.size(), 600u);
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kLine)) << line;
        ASSERT_TRUE(match[1] == a || match[1] == b) << line;
    }
}

}  // namespace
