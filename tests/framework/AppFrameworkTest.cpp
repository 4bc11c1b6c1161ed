#include "framework/AppFramework.h"

#include <gtest/gtest.h>

#include <iostream>
#include <iterator>
#include <sstream>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/ThreadDevice.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;

namespace {

class AppFrameworkTest : public ::testing::Test {
protected:
    std::unique_ptr<CircuitInterface> Circuit(const char* device, const std::string& address,
                                              int* error) {
        return DeviceManager::Instance().GetCircuit(device, address, 0, error, nullptr);
    }

    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
};

TEST_F(AppFrameworkTest, StartsAndStopsManyTimesWithTheStandardDevicesAndNoThreadLeft) {
    AppFramework framework;
    const int before = testsupport::BaselineThreadCount();
    for (int round = 0; round < 40; ++round) {
        EXPECT_EQ(framework.Init(), 0);
        EXPECT_TRUE(g_running);
        // Busy devices: a worker that ran a job, a database, a listener waiting for clients.
        int error = -1;
        auto worker = Circuit("/device/system/thread", "", &error);
        ASSERT_EQ(error, 0);
        ThreadJob job;
        job.m_pJob = new Job([] {});
        worker->Write(&job, sizeof job, nullptr);
        worker.reset();
        EXPECT_NE(Circuit("/device/system/db", dir.File("a.db"), &error), nullptr);
        EXPECT_EQ(Circuit("/device/system/net", "0", &error), nullptr);
        EXPECT_EQ(error, 1);  // the net device's own answer: nobody connected
        EXPECT_GE(testsupport::CountProcessThreads(), before + ThreadDevice::kInitialWorkers);

        EXPECT_EQ(framework.Fini(), 0);
        EXPECT_FALSE(g_running);
        ASSERT_EQ(testsupport::CountProcessThreads(), before) << "round " << round;
        for (const char* name :
             {"/device/system/thread", "/device/system/db", "/device/system/net"}) {
            EXPECT_EQ(Circuit(name, "", &error), nullptr);
            EXPECT_EQ(error, 1) << name;
        }
    }
    EXPECT_EQ(Config::Instance().GetValue("/config/system/log"), "true");  // the default
}

TEST_F(AppFrameworkTest, MyFrameworkReadsConfigTxtAndRunEndsAtQuitOrTheEndOfInput) {
    testsupport::WriteFile(dir.File("config.txt"), "/config/system/log off\n");
    EXPECT_EQ(MyFramework::Instance().Init(), 0);
    EXPECT_EQ(&MyFramework::Instance(), &MyFrameworkHolder::Instance());
    EXPECT_EQ(Config::Instance().GetValue("/config/system/log"), "off");  // kept, not defaulted
    EXPECT_TRUE(testsupport::ListFiles(dir.Path(), "log_").empty());

    std::streambuf* const keyboard = std::cin.rdbuf();
    const std::pair<const char*, const char*> cases[] = {{"a b Quit QUIT quit c", " c"},
                                                         {"a b\nquitting\n", ""}};
    for (const auto& [text, rest] : cases) {
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

}  // namespace
