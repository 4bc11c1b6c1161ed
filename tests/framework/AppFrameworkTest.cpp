// The framework's start and stop, its log and its device registry. The configuration and the
// log are made once per process; ctest runs every case in a process of its own.
#include "framework/AppFramework.h"

#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/Log.h"
#include "framework/ThreadDevice.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;
using namespace testsupport;

namespace {

std::unique_ptr<CircuitInterface> Circuit(const std::string& device, const std::string& at = "") {
    return DeviceManager::Instance().GetCircuit(device, at, 0, nullptr, nullptr);
}

TEST(AppFrameworkTest, StartsAndStopsManyTimesWithTheStandardDevicesAndNoThreadLeft) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());  // the log goes there
    AppFramework framework;
    const int before = BaselineThreadCount();
    for (int round = 0; round < 40; ++round) {
        ASSERT_EQ(framework.Init(), 0);
        // Used devices: a worker lent and given back, a database, a listener on a port.
        EXPECT_NE(Circuit("/device/system/thread"), nullptr);
        EXPECT_NE(Circuit("/device/system/db", dir.File("a.db")), nullptr);
        EXPECT_EQ(Circuit("/device/system/net", "0"), nullptr);  // nobody connected
        EXPECT_GE(CountProcessThreads(), before + ThreadDevice::kInitialWorkers);
        EXPECT_EQ(framework.Fini(), 0);
        ASSERT_EQ(CountProcessThreads(), before) << "round " << round;
        EXPECT_EQ(Circuit("/device/system/thread"), nullptr);  // the registry is empty
    }
}

// The two writers make the first calls to the log themselves, at once: under the thread
// sanitizer a creation that is not synchronised with every later look is reported.
TEST(AppFrameworkTest, ConcurrentLogWritersCreateOneLogAndWriteWholeStampedLines) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
    Config::Instance().SetValue("/config/system/log", "true");
    std::promise<void> start;
    std::shared_future<void> started = start.get_future().share();
    Log* seen[2] = {};
    auto writer = [&](char letter) {
        started.wait();
        seen[letter - 'a'] = &Log::Instance();
        for (int i = 0; i < 300; ++i) {
            Log::Instance().Error(std::string(200, letter).c_str());
        }
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    start.set_value();
    first.join();
    second.join();
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0], &Log::Instance());
    std::istringstream log(ReadFile(dir.File(ListFiles(dir.Path(), "log_ombrix_").at(0))));
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   error:(a{200}|b{200}))");
    int lines[2] = {};
    for (std::string line; std::getline(log, line); ++lines[line.back() == 'b']) {
        ASSERT_TRUE(std::regex_match(line, stamped)) << line;
    }
    EXPECT_TRUE(lines[0] == 300 && lines[1] == 300) << lines[0] << " " << lines[1];
}

// A device whose CreateCircuit waits until it is let on; `destroyed` counts its destruction.
struct GatedDevice : PlainBase, DevInterface {
    ~GatedDevice() override { ++destroyed; }
    std::unique_ptr<CircuitInterface> CreateCircuit(std::string, int, int*,
                                                    const ACE_Time_Value*) override {
        entered.set_value();
        letOn.get_future().wait();
        return nullptr;
    }
    static inline std::atomic<int> destroyed{0};
    static inline std::promise<void> entered, letOn;
};

TEST(AppFrameworkTest, ADeviceRemovedDuringCreateCircuitOutlivesTheCallAndTheRegistry) {
    DeviceManager::Instance().Add("/device/slow", std::make_unique<GatedDevice>());
    std::thread caller([] { Circuit("/device/slow"); });
    GatedDevice::entered.get_future().wait();
    DeviceManager::Instance().Remove("/device/slow");
    DeviceManager::DestroyInstance();
    EXPECT_EQ(GatedDevice::destroyed, 0);
    GatedDevice::letOn.set_value();
    caller.join();
    EXPECT_EQ(GatedDevice::destroyed, 1);
}

}  // namespace
