// The store is read once per process; ctest runs every test case in a process of its own.
#include "framework/Config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/TempDir.h"

using Ombrix::Config;
using testsupport::ScopedWorkingDirectory;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ConfigTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
};

TEST_F(ConfigTest, PairsKeysWithValuesAcrossAnyWhiteSpace) {
    WriteFile(dir.File("settings.txt"),
              "/config/system/log   off\n"
              "/config/system/logname\r\n\t\v\f myname\n"
              "/dup first /dup second\n"
              "/odd/key");
    Config::SetFileName("settings.txt");
    Config& config = Config::Instance();
    EXPECT_EQ(config.GetValue("/config/system/log"), "off");
    EXPECT_EQ(config.GetValue("/config/system/logname"), "myname");
    EXPECT_EQ(config.GetValue("/dup"), "second");
    EXPECT_EQ(config.GetValue("/odd/key"), "");
    EXPECT_EQ(config.GetValue("/config/system/outputpath"), "");
    EXPECT_EQ(config.GetValue("/CONFIG/system/log"), "") << "keys are case-sensitive";
}

TEST_F(ConfigTest, ThreeTokensMapTheFirstToTheSecondAndDropTheThird) {
    WriteFile(dir.File("config_ombrix.txt"), "a b c");
    Config& config = Config::Instance();  // the default file name
    EXPECT_EQ(config.GetValue("a"), "b");
    EXPECT_EQ(config.GetValue("b"), "");
    EXPECT_EQ(config.GetValue("c"), "");
}

TEST_F(ConfigTest, MissingFileSaysSoOnceAndLeavesTheStoreEmpty) {
    Config::SetFileName("config.txt");
    testing::internal::CaptureStdout();
    Config& config = Config::Instance();
    Config::Instance();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Config::Config(), fopen error!\n");
    EXPECT_EQ(config.GetValue("/config/system/log"), "");
    config.SetValue("/config/system/log", "true");
    EXPECT_EQ(config.GetValue("/config/system/log"), "true");
}

TEST_F(ConfigTest, TheFileIsReadOnlyOnce) {
    WriteFile(dir.File("config.txt"), "k one");
    Config::SetFileName("config.txt");
    Config& config = Config::Instance();
    WriteFile(dir.File("config.txt"), "k two");
    Config::SetFileName("other.txt");
    EXPECT_EQ(&Config::Instance(), &config);
    EXPECT_EQ(config.GetValue("k"), "one");
}

TEST_F(ConfigTest, SetValueReplacesAndReadersSeeWholeValues) {
    Config& config = Config::Instance();
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
}

void AskForTheStoreAtExit() {
    try {
        Config::Instance();
    } catch (const std::logic_error& error) {
        if (std::string(error.what()) == "Dead Reference Detected") {
            std::_Exit(42);
        }
    }
    std::_Exit(1);
}

TEST_F(ConfigTest, UseAfterDestructionIsADeadReference) {
    EXPECT_EXIT(
        {
            // Registered before the store exists, so it runs after the store is destroyed.
            std::atexit(AskForTheStoreAtExit);
            Config::Instance();
            std::exit(0);
        },
        testing::ExitedWithCode(42), "");
}

}  // namespace
