#include "framework/ThreadDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/Log.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;

namespace {

const char* const kThreadDevice = "/device/system/thread";

// A one-shot latch: jobs wait on it until the test opens it.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

int Post(CircuitInterface& circuit, std::function<void()> work, int priority = 0) {
    ThreadJob request;
    request.m_pJob = new Job(std::move(work));
    request.m_nPriority = priority;
    const int result = circuit.Write(&request, sizeof request, nullptr);
    delete request.m_pJob;  // only left here when the write was refused
    return result;
}

// Runs a job on the circuit's worker and returns that worker's thread id.
std::thread::id WorkerOf(CircuitInterface& circuit) {
    std::promise<std::thread::id> where;
    auto answer = where.get_future();
    Post(circuit, [&where] { where.set_value(std::this_thread::get_id()); });
    return answer.get();
}

class ThreadDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto made = std::make_unique<ThreadDevice>();
        device = made.get();
        DeviceManager::Instance().Add(kThreadDevice, std::move(made));
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }

    std::unique_ptr<CircuitInterface> Lend() {
        int error = -1;
        auto circuit = DeviceManager::Instance().GetCircuit(kThreadDevice, "", 0, &error, nullptr);
        EXPECT_EQ(error, 0);
        return circuit;
    }

    ThreadDevice* device = nullptr;
};

TEST_F(ThreadDeviceTest, LendsFromAPoolOfEightGrowsOnDemandAndReusesTheLastReturned) {
    EXPECT_EQ(device->IdleWorkers(), 8u);
    std::vector<std::unique_ptr<CircuitInterface>> circuits;
    std::vector<std::thread::id> workers;
    for (int i = 0; i < 9; ++i) {
        circuits.push_back(Lend());
        ASSERT_NE(circuits.back(), nullptr);
        workers.push_back(WorkerOf(*circuits.back()));
    }
    EXPECT_EQ(device->IdleWorkers(), 0u);
    for (std::size_t i = 0; i < workers.size(); ++i) {
        for (std::size_t j = i + 1; j < workers.size(); ++j) {
            EXPECT_NE(workers[i], workers[j]) << "circuits " << i << " and " << j;
        }
    }
    for (auto& circuit : circuits) {
        circuit.reset();
    }
    EXPECT_EQ(device->IdleWorkers(), 9u);

    auto next = Lend();
    EXPECT_EQ(WorkerOf(*next), workers.back());
}

TEST_F(ThreadDeviceTest, JobsOfOneCircuitRunInWritingOrderOnOneThreadOneAtATime) {
    auto circuit = Lend();
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(Post(*circuit,
                       [&, i] {
                           if (++running > 1) {
                               ++overlaps;
                           }
                           std::this_thread::sleep_for(std::chrono::milliseconds(20));
                           {
                               std::lock_guard<std::mutex> lock(mutex);
                               order.push_back(i);
                               threads.push_back(std::this_thread::get_id());
                           }
                           --running;
                       }),
                  0);
    }
    WorkerOf(*circuit);  // queued behind the three
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(threads.size(), 3u);
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_EQ(threads[1], threads[2]);
    EXPECT_EQ(overlaps, 0);
}

TEST_F(ThreadDeviceTest, WriteRefusesBadRequestsAndHandsTheJobOverOtherwise) {
    auto circuit = Lend();
    bool ran = false;
    ThreadJob request;
    request.m_pJob = new Job([&ran] { ran = true; });
    Job* const job = request.m_pJob;
    EXPECT_EQ(circuit->Write(&request, 0, nullptr), 1);
    EXPECT_EQ(circuit->Write(&request, -4, nullptr), 1);
    EXPECT_EQ(circuit->Write(&request, sizeof request - 1, nullptr), 1);
    EXPECT_EQ(circuit->Write(nullptr, sizeof request, nullptr), 1);
    EXPECT_EQ(request.m_pJob, job);

    // A priority the system does not offer to ordinary threads changes nothing else.
    request.m_nPriority = 5;
    EXPECT_EQ(circuit->Write(&request, sizeof request, nullptr), 0);
    EXPECT_EQ(request.m_pJob, nullptr);
    EXPECT_EQ(Post(
                  *circuit, [] {}, 0),
              0);
    circuit.reset();  // waits for a finished job
    WorkerOf(*Lend());
    EXPECT_TRUE(ran);
}

TEST_F(ThreadDeviceTest, AThrowingJobIsLoggedAndTheWorkerGoesOn) {
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd(dir.Path());
    Config::Instance().SetValue("/config/system/log", "true");
    Log::Instance();

    auto circuit = Lend();
    Post(*circuit, [] { throw std::runtime_error("job failed"); });
    Post(*circuit, [] { throw 17; });
    bool next = false;
    Post(*circuit, [&next] { next = true; });
    WorkerOf(*circuit);
    EXPECT_TRUE(next);

    const auto files = testsupport::ListFiles(dir.Path(), "log_");
    ASSERT_EQ(files.size(), 1u);
    const std::string text = testsupport::ReadFile(dir.File(files[0]));
    const std::regex line(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   error:Thread::Run Exception hannened\n)");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(text.begin(), text.end(), line), std::sregex_iterator()),
        2)
        << text;
}

TEST_F(ThreadDeviceTest, GivingBackWaitsForTheRunningJob) {
    auto circuit = Lend();
    Gate gate;
    std::atomic<bool> finished{false};
    Post(*circuit, [&] {
        gate.Wait();
        finished = true;
    });
    std::atomic<bool> returned{false};
    std::thread giver([&] {
        circuit.reset();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    gate.Open();
    giver.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(device->IdleWorkers(), 8u);
}

TEST_F(ThreadDeviceTest, AJobMayBorrowAWorkerWhileItsOwnIsBeingGivenBack) {
    auto circuit = Lend();
    Gate gate;
    std::atomic<bool> nestedRan{false};
    Post(*circuit, [&] {
        gate.Wait();
        auto nested = DeviceManager::Instance().GetCircuit(kThreadDevice, "", 0, nullptr, nullptr);
        WorkerOf(*nested);
        nestedRan = true;
    });
    std::thread giver([&] { circuit.reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the give-back start
    gate.Open();
    giver.join();
    EXPECT_TRUE(nestedRan);
    EXPECT_EQ(device->IdleWorkers(), 8u);
}

TEST_F(ThreadDeviceTest, GivingBackNeverHangsWhenNoJobFinished) {
    // No job written at all.
    Lend().reset();
    EXPECT_EQ(device->IdleWorkers(), 8u);

    // The framework stopped: the worker drops the job instead of running it.
    auto circuit = Lend();
    g_running = false;
    bool ran = false;
    Post(*circuit, [&ran] { ran = true; });
    circuit.reset();
    EXPECT_FALSE(ran);
    g_running = true;
}

TEST_F(ThreadDeviceTest, AJobMayGiveBackItsOwnCircuit) {
    std::shared_ptr<CircuitInterface> circuit = Lend();
    CircuitInterface* raw = circuit.get();
    std::promise<void> done;
    Post(*raw, [&circuit, &done] {
        circuit.reset();
        done.set_value();
    });
    done.get_future().get();
    EXPECT_EQ(device->IdleWorkers(), 8u);
    auto again = Lend();
    WorkerOf(*again);
}

TEST_F(ThreadDeviceTest, RemovingTheDeviceStopsAndJoinsEveryWorker) {
    DeviceManager::DestroyInstance();
    const int before = testsupport::BaselineThreadCount();
    DeviceManager::Instance().Add(kThreadDevice, std::make_unique<ThreadDevice>());
    EXPECT_EQ(testsupport::CountProcessThreads(), before + 8);

    // A lent worker that has work keeps the device alive until its circuit is gone.
    auto circuit = Lend();
    WorkerOf(*circuit);
    DeviceManager::Instance().Remove(kThreadDevice);
    EXPECT_EQ(testsupport::CountProcessThreads(), before + 8);
    WorkerOf(*circuit);
    circuit.reset();
    EXPECT_EQ(testsupport::CountProcessThreads(), before);
}

TEST_F(ThreadDeviceTest, AJobMayLetGoOfTheLastShareOfItsDevice) {
    DeviceManager::DestroyInstance();
    const int before = testsupport::BaselineThreadCount();
    DeviceManager::Instance().Add(kThreadDevice, std::make_unique<ThreadDevice>());
    std::shared_ptr<CircuitInterface> circuit = Lend();
    CircuitInterface* raw = circuit.get();
    DeviceManager::Instance().Remove(kThreadDevice);
    std::promise<void> done;
    // The device goes with its last circuit, on the worker that runs this job.
    Post(*raw, [&circuit, &done] {
        circuit.reset();
        done.set_value();
    });
    done.get_future().get();
    // The worker could not join itself; the next device does it.
    DeviceManager::Instance().Add(kThreadDevice, std::make_unique<ThreadDevice>());
    DeviceManager::Instance().Remove(kThreadDevice);
    EXPECT_EQ(testsupport::CountProcessThreads(), before);
}

TEST(ThreadTest, StoppingAWorkerDropsItsQueuedJobsUnrun) {
    auto worker = std::make_unique<Thread>();
    ASSERT_TRUE(worker->Started());
    Gate entered, gate;
    worker->Post(std::make_unique<Job>([&] {
        entered.Open();
        gate.Wait();
    }));
    std::atomic<bool> laterRan{false};
    worker->Post(std::make_unique<Job>([&laterRan] { laterRan = true; }));
    entered.Wait();
    worker->RequestStop();
    gate.Open();
    worker.reset();
    EXPECT_FALSE(laterRan);
}

}  // namespace
