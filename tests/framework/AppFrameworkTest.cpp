// The framework's start and stop, its configuration store, its log and its device registry.
// The store and the log are made once per process; ctest runs every case in a process of its
// own.
#include "framework/AppFramework.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <iostream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/LocalTime.h"
#include "framework/Log.h"
#include "framework/ThreadDevice.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;
using namespace testsupport;

namespace {

class AppFrameworkTest : public ::testing::Test {
protected:
    void TearDown() override { DeviceManager::DestroyInstance(); }
    std::unique_ptr<CircuitInterface> Circuit(const std::string& device, int* error = nullptr,
                                              const std::string& address = "") {
        return DeviceManager::Instance().GetCircuit(device, address, 0, error, nullptr);
    }
    // Creates the log from these settings, logging on, and returns the file it opened under
    // path and name, or "" when there is none.
    std::string CreateLog(const std::string& settings, const std::string& path = "",
                          const std::string& name = "ombrix") {
        WriteFile(dir.File("config.txt"), settings + "\n/config/system/log true\n");
        Config::SetFileName("config.txt");
        const auto file = [&](const LocalTime& t) {
            return ComposeLogFileName(path, name, t.year, t.month, t.day, t.hour, t.minute,
                                      t.second);
        };
        const std::string before = file(CurrentLocalTime());
        Log::Instance();
        const std::string after = file(CurrentLocalTime());
        return FileExists(before) ? before : FileExists(after) ? after : "";
    }
    // The messages of the file's lines, each checked for its time stamp.
    static std::vector<std::string> Messages(const std::string& file) {
        static const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   error:(.*))");
        std::vector<std::string> messages;
        std::istringstream in(ReadFile(file));
        std::smatch match;
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(std::regex_match(line, match, stamped)) << line;
            messages.push_back(match[1]);
        }
        return messages;
    }

    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
};
using ConfigTest = AppFrameworkTest;
using LogTest = AppFrameworkTest;
using DeviceManagerTest = AppFrameworkTest;

TEST_F(AppFrameworkTest, StartsAndStopsManyTimesWithTheStandardDevicesAndNoThreadLeft) {
    AppFramework framework;
    const int before = BaselineThreadCount();
    for (int round = 0; round < 40; ++round) {
        EXPECT_EQ(framework.Init(), 0);
        EXPECT_TRUE(g_running);
        // Busy devices: a worker that ran a job, a database, a listener waiting for clients.
        int error = -1;
        auto worker = Circuit("/device/system/thread", &error);
        ASSERT_EQ(error, 0);
        ThreadJob job;
        job.m_pJob = new Job([] {});
        worker->Write(&job, sizeof job, nullptr);
        worker.reset();
        EXPECT_NE(Circuit("/device/system/db", &error, dir.File("a.db")), nullptr);
        EXPECT_EQ(Circuit("/device/system/net", &error, "0"), nullptr);
        EXPECT_EQ(error, 1);  // the net device's own answer: nobody connected
        EXPECT_GE(CountProcessThreads(), before + ThreadDevice::kInitialWorkers);

        EXPECT_EQ(framework.Fini(), 0);
        EXPECT_FALSE(g_running);
        ASSERT_EQ(CountProcessThreads(), before) << "round " << round;
        for (const char* name :
             {"/device/system/thread", "/device/system/db", "/device/system/net"}) {
            EXPECT_EQ(Circuit(name, &error), nullptr);
            EXPECT_EQ(error, 1) << name;
        }
    }
    EXPECT_EQ(Config::Instance().GetValue("/config/system/log"), "true");  // the default
}

TEST_F(AppFrameworkTest, MyFrameworkReadsConfigTxtAndRunEndsAtQuitOrTheEndOfInput) {
    WriteFile(dir.File("config.txt"), "/config/system/log off\n");
    EXPECT_EQ(MyFramework::Instance().Init(), 0);
    EXPECT_EQ(Config::Instance().GetValue("/config/system/log"), "off");  // kept
    EXPECT_TRUE(ListFiles(dir.Path(), "log_").empty());  // any value but "true" is off
    std::streambuf* const keyboard = std::cin.rdbuf();
    for (const auto& [text, rest] :
         {std::pair<const char*, const char*>{"a Quit quit c", " c"}, {"a b\nquitting\n", ""}}) {
        std::istringstream input(text);
        std::cin.rdbuf(input.rdbuf());
        testing::internal::CaptureStdout();
        EXPECT_EQ(MyFramework::Instance().Run(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "quit to exit\n");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(input), {}), rest) << text;
    }
    std::cin.rdbuf(keyboard);
    std::cin.clear();
    EXPECT_EQ(MyFramework::Instance().Fini(), 0);
}

TEST_F(ConfigTest, PairsTokensAcrossAnyWhiteSpaceAndReadsItsFileOnce) {
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

TEST_F(ConfigTest, AMissingFileIsReportedOnceAndReadersAlwaysSeeWholeValues) {
    Config::SetFileName("config.txt");
    testing::internal::CaptureStdout();
    Config& config = Config::Instance();
    Config::Instance();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Config::Config(), fopen error!\n");
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

TEST_F(LogTest, ConcurrentWritersProduceWholeLinesInTheDefaultLog) {
    const std::string file = CreateLog("");  // log_ombrix_<time>.txt in the working directory
    ASSERT_NE(file, "");
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
    const std::vector<std::string> messages = Messages(file);
    EXPECT_EQ(messages.size(), 600u);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), a), 300);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), b), 300);
}

TEST_F(LogTest, TakesItsNameAndFolderFromTheConfiguration) {
    EXPECT_EQ(ComposeLogFileName("logs", "n", 2013, 5, 30, 23, 18, 43),
              "logslog_n_2013_05_30_23_18_43.txt");  // a path without separator is a prefix
    const std::string deep = dir.File(std::string(120, 'd')) + "/";
    std::filesystem::create_directory(deep);
    const std::string file =
        CreateLog("/config/system/logname myapp\n/config/system/outputpath " + deep, deep, "myapp");
    ASSERT_NE(file, "");
    Log::Instance().Error("deep");
    EXPECT_EQ(Messages(file), std::vector<std::string>{"deep"});
    EXPECT_TRUE(ListFiles(dir.Path(), "log_").empty());
}

TEST_F(LogTest, AFileThatCannotBeOpenedIsReportedOnce) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(CreateLog("/config/system/outputpath /nonexistent-dir/", "/nonexistent-dir/"), "");
    Log::Instance().Error("lost");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Log::Log(), fopen error!\n");
}

// A device that counts its destruction and can hold CreateCircuit at a gate.
struct FakeDevice : PlainBase, DevInterface {
    explicit FakeDevice(std::atomic<int>* destroyed) : destroyed(destroyed) {}
    ~FakeDevice() override { ++*destroyed; }
    struct Circuit : PlainBase, CircuitInterface {
        explicit Circuit(FakeDevice* device) : share(device) {}
        int Write(void*, int, const ACE_Time_Value*) override { return 0; }
        DeviceShare share;
    };
    std::unique_ptr<CircuitInterface> CreateCircuit(std::string address, int mode, int* error,
                                                    const ACE_Time_Value*) override {
        asked = address + " " + std::to_string(mode);
        if (gate) {
            entered.set_value();
            gate->wait();
        }
        if (error != nullptr) {
            *error = 0;
        }
        return std::make_unique<Circuit>(this);
    }
    std::atomic<int>* destroyed;
    std::string asked;
    std::optional<std::shared_future<void>> gate;
    std::promise<void> entered;
};

TEST_F(DeviceManagerTest, DevicesAreAddedReplacedFoundAndRemovedByName) {
    std::atomic<int> destroyed{0};
    DeviceManager& registry = DeviceManager::Instance();
    EXPECT_EQ(registry.Add("/device/x", nullptr), 1);
    EXPECT_EQ(registry.Add("", std::make_unique<FakeDevice>(&destroyed)), 1);
    EXPECT_EQ(destroyed, 1);  // the refused device is deleted
    auto device = std::make_unique<FakeDevice>(&destroyed);
    FakeDevice* raw = device.get();
    ASSERT_EQ(registry.Add("/device/x", std::make_unique<FakeDevice>(&destroyed)), 0);
    ASSERT_EQ(registry.Add("/device/x", std::move(device)), 0);
    EXPECT_EQ(destroyed, 2);  // replaced
    int error = -1;
    auto circuit = DeviceManager::Instance().GetCircuit("/device/x", "/a.db", 1, &error, nullptr);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(raw->asked, "/a.db 1");
    for (const char* name : {"", "/device/none"}) {
        error = -1;
        EXPECT_EQ(Circuit(name, &error), nullptr);
        EXPECT_EQ(error, 1) << name;
    }
    EXPECT_EQ(registry.Remove(""), 1);
    EXPECT_EQ(registry.Remove("/device/x"), 0);
    EXPECT_EQ(registry.Remove("/device/x"), 0);
    EXPECT_EQ(Circuit("/device/x"), nullptr);
    EXPECT_EQ(destroyed, 2);  // its circuit still holds it
    circuit.reset();
    EXPECT_EQ(destroyed, 3);
}

TEST_F(DeviceManagerTest, ADeviceRemovedDuringCreateCircuitOutlivesTheCallAndTheRegistry) {
    std::atomic<int> destroyed{0};
    auto device = std::make_unique<FakeDevice>(&destroyed);
    FakeDevice* raw = device.get();
    std::promise<void> open;
    raw->gate = open.get_future().share();
    DeviceManager::Instance().Add("/device/slow", std::move(device));
    DeviceManager::Instance().Add("/device/other", std::make_unique<FakeDevice>(&destroyed));
    std::unique_ptr<CircuitInterface> circuit;
    std::thread caller([&] { circuit = Circuit("/device/slow"); });
    raw->entered.get_future().wait();
    DeviceManager::Instance().Remove("/device/slow");
    EXPECT_EQ(destroyed, 0);
    open.set_value();
    caller.join();
    ASSERT_NE(circuit, nullptr);
    DeviceManager::DestroyInstance();
    EXPECT_EQ(destroyed, 1);                            // the other one
    EXPECT_EQ(circuit->Write(nullptr, 0, nullptr), 0);  // still safe to use
    circuit.reset();
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(Circuit("/device/other"), nullptr);  // a new registry is empty
}

}  // namespace
