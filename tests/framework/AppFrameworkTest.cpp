#include "framework/AppFramework.h"

#include <gtest/gtest.h>

#include <future>
#include <iostream>
#include <sstream>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/ThreadDevice.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;

namespace {

// Runs every case in a scratch folder, so the log and any database stay there.
class AppFrameworkTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
};

// Feeds std::cin from a string for the lifetime of the object.
class FakeInput {
public:
    explicit FakeInput(const std::string& text) : m_text(text) {
        m_previous = std::cin.rdbuf(m_text.rdbuf());
    }
    ~FakeInput() { std::cin.rdbuf(m_previous); }
    std::string Rest() {
        std::string rest;
        std::getline(m_text, rest, '\0');
        return rest;
    }

private:
    std::istringstream m_text;
    std::streambuf* m_previous;
};

TEST_F(AppFrameworkTest, InitRegistersTheStandardDevicesAndFiniTakesThemAway) {
    AppFramework framework;
    EXPECT_EQ(framework.Init(), 0);
    EXPECT_TRUE(g_running);
    EXPECT_EQ(Config::Instance().GetValue("/config/system/log"), "true");

    DeviceManager& devices = DeviceManager::Instance();
    int error = -1;
    auto worker = devices.GetCircuit("/device/system/thread", "", 0, &error, nullptr);
    EXPECT_NE(worker, nullptr);
    EXPECT_EQ(error, 0);
    worker.reset();
    auto db = devices.GetCircuit("/device/system/db", dir.File("a.db"), 0, &error, nullptr);
    EXPECT_NE(db, nullptr);
    EXPECT_EQ(error, 0);
    db.reset();
    auto net = devices.GetCircuit("/device/system/net", "127.0.0.1:65535", 1, &error, nullptr);
    EXPECT_EQ(net, nullptr);
    EXPECT_EQ(error, 3);

    EXPECT_EQ(framework.Fini(), 0);
    EXPECT_FALSE(g_running);
    for (const char* name : {"/device/system/thread", "/device/system/db", "/device/system/net"}) {
        error = 0;
        EXPECT_EQ(DeviceManager::Instance().GetCircuit(name, "", 0, &error, nullptr), nullptr);
        EXPECT_EQ(error, 1) << name;
    }
}

TEST_F(AppFrameworkTest, StartAndStopManyTimesLeaveNoThreadBehind) {
    Config::Instance().SetValue("/config/system/log", "false");
    AppFramework framework;
    framework.Init();
    framework.Fini();
    const int before = testsupport::BaselineThreadCount();
    for (int round = 0; round < 40; ++round) {
        framework.Init();
        // Busy devices: a lent worker with a job, and a listener waiting for clients.
        auto worker =
            DeviceManager::Instance().GetCircuit("/device/system/thread", "", 0, nullptr, nullptr);
        ThreadJob job;
        job.m_pJob = new Job([] {});
        worker->Write(&job, sizeof job, nullptr);
        worker.reset();
        DeviceManager::Instance().GetCircuit("/device/system/net", "0", 0, nullptr, nullptr);
        EXPECT_GE(testsupport::CountProcessThreads(), before + ThreadDevice::kInitialWorkers);
        framework.Fini();
        ASSERT_EQ(testsupport::CountProcessThreads(), before) << "round " << round;
    }
}

TEST_F(AppFrameworkTest, MyFrameworkReadsConfigTxtAndKeepsAConfiguredLogSwitch) {
    testsupport::WriteFile(dir.File("config.txt"),
                           "/config/system/log off\n/config/system/loglevel 1\n");
    EXPECT_EQ(MyFramework::Instance().Init(), 0);
    EXPECT_EQ(&MyFramework::Instance(), &MyFrameworkHolder::Instance());
    EXPECT_EQ(Config::FileName(), "config.txt");
    EXPECT_EQ(Config::Instance().GetValue("/config/system/log"), "off");
    EXPECT_TRUE(testsupport::ListFiles(dir.Path(), "log_").empty());
    EXPECT_EQ(MyFramework::Instance().Fini(), 0);
}

TEST_F(AppFrameworkTest, RunEndsAtQuitExactlyOrAtTheEndOfInput) {
    AppFramework framework;
    {
        FakeInput input("a b Quit QUIT quit c d");
        testing::internal::CaptureStdout();
        EXPECT_EQ(framework.Run(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "quit to exit\n");
        EXPECT_EQ(input.Rest(), " c d");
    }
    {
        FakeInput input("a b\nquitting\n");
        testing::internal::CaptureStdout();
        EXPECT_EQ(framework.Run(), 0);
        testing::internal::GetCapturedStdout();
    }
}

}  // namespace
