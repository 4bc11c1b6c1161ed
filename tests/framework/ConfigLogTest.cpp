// The configuration store and the log are made once per process; ctest runs every test case
// in a process of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/LocalTime.h"
#include "framework/Log.h"
#include "support/TempDir.h"

using Ombrix::Config;
using Ombrix::Log;
using namespace testsupport;

namespace {

class ConfigLogTest : public ::testing::Test {
protected:
    // Creates the log with this configuration file and returns the lines of the file it opened
    // under the given path and name; false when there is none.
    bool CreateLog(const std::string& configText, const std::string& path = "",
                   const std::string& name = "ombrix") {
        WriteFile(dir.File("config.txt"), configText);
        Config::SetFileName("config.txt");
        if (Config::Instance().GetValue("/config/system/log").empty()) {
            Config::Instance().SetValue("/config/system/log", "true");
        }
        const auto compose = [&](const Ombrix::LocalTime& t) {
            return Ombrix::ComposeLogFileName(path, name, t.year, t.month, t.day, t.hour, t.minute,
                                              t.second);
        };
        const Ombrix::LocalTime before = Ombrix::CurrentLocalTime();
        Log::Instance();
        const Ombrix::LocalTime after = Ombrix::CurrentLocalTime();
        logFile = FileExists(compose(before)) ? compose(before) : compose(after);
        return FileExists(logFile);
    }
    // The messages of the log's lines, each checked for its time stamp.
    std::vector<std::string> Messages() {
        static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   error:(.*))");
        std::vector<std::string> messages;
        std::istringstream in(ReadFile(logFile));
        std::smatch match;
        for (std::string text; std::getline(in, text);) {
            EXPECT_TRUE(std::regex_match(text, match, line)) << text;
            messages.push_back(match[1]);
        }
        return messages;
    }

    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
    std::string logFile;
};

TEST_F(ConfigLogTest, TheStorePairsTokensAcrossAnyWhiteSpaceAndReadsItsFileOnce) {
    WriteFile(dir.File("config_ombrix.txt"),  // the default file name
              "/config/system/log   off\n/config/system/logname\r\n\t\v\f myname\n"
              "/dup first /dup second\n/odd/key");
    Config& config = Config::Instance();
    EXPECT_EQ(config.GetValue("/config/system/log"), "off");
    EXPECT_EQ(config.GetValue("/config/system/logname"), "myname");
    EXPECT_EQ(config.GetValue("/dup"), "second");
    EXPECT_EQ(config.GetValue("/odd/key"), "");
    EXPECT_EQ(config.GetValue("/CONFIG/system/log"), "") << "keys are case-sensitive";
    WriteFile(dir.File("config_ombrix.txt"), "/dup third");
    Config::SetFileName("other.txt");
    EXPECT_EQ(&Config::Instance(), &config);
    EXPECT_EQ(config.GetValue("/dup"), "second");
}

TEST_F(ConfigLogTest, AMissingFileIsReportedOnceAndReadersAlwaysSeeWholeValues) {
    Config::SetFileName("config.txt");
    testing::internal::CaptureStdout();
    Config& config = Config::Instance();
    Config::Instance();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Config::Config(), fopen error!\n");
    EXPECT_EQ(config.GetValue("/config/system/log"), "");

    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const std::string v = config.GetValue("/k");
            ASSERT_TRUE(v.empty() || v == std::string(100, 'x') || v == std::string(50, 'y'));
        }
    });
    for (int i = 0; i < 2000; ++i) {
        config.SetValue("/k", i % 2 ? std::string(100, 'x') : std::string(50, 'y'));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(config.GetValue("/k"), std::string(100, 'x'));
}

void AskForTheStoreAtExit() {
    try {
        Config::Instance();
    } catch (const std::logic_error& error) {
        std::_Exit(std::string(error.what()) == "Dead Reference Detected" ? 42 : 1);
    }
    std::_Exit(1);
}

TEST_F(ConfigLogTest, TheStoreUsedAfterDestructionIsADeadReference) {
    EXPECT_EXIT(
        {
            // Registered before the store exists, so it runs after the store is destroyed.
            std::atexit(AskForTheStoreAtExit);
            Config::Instance();
            std::exit(0);
        },
        testing::ExitedWithCode(42), "");
}

TEST_F(ConfigLogTest, ConcurrentWritersProduceWholeLinesInTheDefaultLog) {
    ASSERT_TRUE(CreateLog(""));  // log_ombrix_<time>.txt in the working directory
    Log::Instance().Error(nullptr);
    Log::Instance().SetLevel(2);  // only 0 and 1 are taken, and no level silences errors
    Log::Instance().SetLevel(-1);
    Log::Instance().SetLevel(1);
    const std::string a(200, 'a'), b(200, 'b');
    auto writer = [](const std::string& text) {
        for (int i = 0; i < 300; ++i) {
            Log::Instance().Error(text.c_str());
        }
    };
    std::thread first(writer, a), second(writer, b);
    first.join();
    second.join();
    const std::vector<std::string> messages = Messages();
    EXPECT_EQ(messages.size(), 600u);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), a), 300);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), b), 300);
}

TEST_F(ConfigLogTest, TheLogTakesItsNameAndFolderFromTheConfiguration) {
    EXPECT_EQ(Ombrix::ComposeLogFileName("logs", "n", 2013, 5, 30, 23, 18, 43),
              "logslog_n_2013_05_30_23_18_43.txt");  // a path without separator is a prefix
    const std::string deep = dir.File(std::string(120, 'd')) + "/";
    std::filesystem::create_directory(deep);
    ASSERT_TRUE(CreateLog("/config/system/logname myapp\n/config/system/outputpath " + deep + "\n",
                          deep, "myapp"));
    Log::Instance().Error("deep");
    EXPECT_EQ(Messages(), std::vector<std::string>{"deep"});
    EXPECT_TRUE(ListFiles(dir.Path(), "log_").empty());
}

TEST_F(ConfigLogTest, ASwitchOtherThanTrueKeepsTheLogSilent) {
    EXPECT_FALSE(CreateLog("/config/system/log yes\n"));
    Log::Instance().Error("nothing");
    EXPECT_TRUE(ListFiles(dir.Path(), "log_").empty());
}

TEST_F(ConfigLogTest, ALogFileThatCannotBeOpenedIsReportedOnce) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CreateLog("/config/system/outputpath /nonexistent-dir/\n", "/nonexistent-dir/"));
    Log::Instance().Error("lost");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Log::Log(), fopen error!\n");
}

}  // namespace
