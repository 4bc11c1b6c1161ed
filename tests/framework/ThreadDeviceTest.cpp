#include "framework/ThreadDevice.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/Log.h"
#include "framework/Queue.h"
#include "support/ProcessThreads.h"
#include "support/TempDir.h"

using namespace Ombrix;
using Circuit = std::unique_ptr<CircuitInterface>;
using Clock = std::chrono::steady_clock;

namespace {

// The queue that carries every worker's jobs.
TEST(QueueTest, KeepsOrderWaitsOnlyWhenEmptyAndDeletesLeftovers) {
    std::vector<int> gone;
    struct Item {
        int id;
        std::vector<int>* gone;
        ~Item() { gone->push_back(id); }
    };
    {
        Queue<Item> queue;
        EXPECT_EQ(queue.Pop(nullptr), nullptr);
        EXPECT_EQ(queue.Push(nullptr), 3);
        for (int id : {1, 2, 3}) {
            EXPECT_EQ(queue.Push(std::unique_ptr<Item>(new Item{id, &gone})), 0);
        }
        const ACE_Time_Value longWait(60), shortWait(0, 150000);
        auto start = Clock::now();
        for (int id : {1, 2, 3}) {
            EXPECT_EQ(queue.Pop(&longWait)->id, id);  // no waiting while items remain
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        start = Clock::now();
        EXPECT_EQ(queue.Pop(&shortWait), nullptr);  // empty: waits out its limit
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(120));
        queue.Push(std::unique_ptr<Item>(new Item{4, &gone}));
    }
    EXPECT_EQ(gone, (std::vector<int>{1, 2, 3, 4}));
}

int Post(CircuitInterface& circuit, std::function<void()> work) {
    ThreadJob request;
    request.m_pJob = new Job(std::move(work));
    const int result = circuit.Write(&request, sizeof request, nullptr);
    delete request.m_pJob;  // still here only when the write was refused
    return result;
}

// Runs a job on the circuit's worker, waits for it and returns the worker's thread id.
std::thread::id WorkerOf(CircuitInterface& circuit) {
    std::promise<std::thread::id> where;
    Post(circuit, [&where] { where.set_value(std::this_thread::get_id()); });
    return where.get_future().get();
}

class ThreadDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { AddDevice(); }
    void TearDown() override { DeviceManager::DestroyInstance(); }

    void AddDevice() {
        auto made = std::make_unique<ThreadDevice>();
        device = made.get();
        DeviceManager::Instance().Add("/device/system/thread", std::move(made));
    }
    Circuit Lend(int* error = nullptr) {
        return DeviceManager::Instance().GetCircuit("/device/system/thread", "", 0, error, nullptr);
    }

    ThreadDevice* device = nullptr;
};

TEST_F(ThreadDeviceTest, LendsFromAPoolOfEightGrowsOnDemandAndRunsJobsInOrderOneAtATime) {
    EXPECT_EQ(device->IdleWorkers(), 8u);
    std::vector<Circuit> circuits;
    std::vector<std::thread::id> workers;
    for (int i = 0; i < 9; ++i) {
        int error = -1;
        circuits.push_back(Lend(&error));
        ASSERT_EQ(error, 0);
        workers.push_back(WorkerOf(*circuits.back()));
    }
    EXPECT_EQ(std::set<std::thread::id>(workers.begin(), workers.end()).size(), 9u);
    EXPECT_EQ(device->IdleWorkers(), 0u);
    circuits.clear();
    EXPECT_EQ(device->IdleWorkers(), 9u);
    auto circuit = Lend();
    EXPECT_EQ(WorkerOf(*circuit), workers.back());  // the last one given back

    std::vector<int> runs;  // unguarded: the thread sanitizer would see jobs that overlap
    for (int i = 1; i <= 3; ++i) {
        Post(*circuit, [&runs, i] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            runs.push_back(i);
        });
    }
    EXPECT_EQ(WorkerOf(*circuit), workers.back());
    EXPECT_EQ(runs, (std::vector<int>{1, 2, 3}));
}

TEST_F(ThreadDeviceTest, WriteRefusesBadRequestsAndHandsTheJobOverOtherwise) {
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd(dir.Path());
    Config::Instance().SetValue("/config/system/log", "true");
    Log::Instance();
    auto circuit = Lend();
    std::atomic<bool> ran{false};
    ThreadJob request;
    request.m_pJob = new Job([&ran] { ran = true; });
    Job* const job = request.m_pJob;
    for (int length : {0, -4, static_cast<int>(sizeof request) - 1}) {
        EXPECT_EQ(circuit->Write(&request, length, nullptr), 1);
    }
    EXPECT_EQ(circuit->Write(nullptr, sizeof request, nullptr), 1);
    EXPECT_EQ(request.m_pJob, job);
    // Ordinary threads have no priority levels besides 0: the request changes nothing else.
    request.m_nPriority = 5;
    EXPECT_EQ(circuit->Write(&request, sizeof request, nullptr), 0);
    EXPECT_EQ(request.m_pJob, nullptr);
    WorkerOf(*circuit);
    EXPECT_TRUE(ran);

    // A job that throws is logged, and its worker goes on.
    Post(*circuit, [] { throw std::runtime_error("job failed"); });
    Post(*circuit, [] { throw 17; });
    WorkerOf(*circuit);
    const auto files = testsupport::ListFiles(dir.Path(), "log_");
    ASSERT_EQ(files.size(), 1u);
    const std::string text = testsupport::ReadFile(dir.File(files[0]));
    const std::string line = "   error:Thread::Run Exception hannened\n";
    EXPECT_EQ(text.size(), 2 * (19 + line.size())) << text;
    EXPECT_EQ(text.substr(19, line.size()) + text.substr(text.size() - line.size()), line + line);
}

TEST_F(ThreadDeviceTest, GivingBackWaitsForTheRunningJobWhichMayStillBorrowWorkers) {
    auto circuit = Lend();
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<bool> nestedRan{false}, returned{false};
    Post(*circuit, [&] {
        opened.wait();
        // The device is not locked while this job's worker is being given back.
        WorkerOf(*Lend());
        nestedRan = true;
    });
    std::thread giver([&] {
        circuit.reset();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    gate.set_value();
    giver.join();
    EXPECT_TRUE(nestedRan);
    EXPECT_EQ(device->IdleWorkers(), 8u);

    Lend().reset();  // no job written at all: giving back does not hang
    EXPECT_EQ(device->IdleWorkers(), 8u);
    circuit = Lend();
    g_running = false;  // the framework stops: the worker drops the job unrun
    std::atomic<bool> ran{false};
    Post(*circuit, [&ran] { ran = true; });
    circuit.reset();
    EXPECT_FALSE(ran);
    g_running = true;
}

TEST_F(ThreadDeviceTest, RemovingTheDeviceJoinsItsWorkersOnceTheLastCircuitIsGone) {
    DeviceManager::DestroyInstance();
    const int before = testsupport::BaselineThreadCount();
    AddDevice();
    EXPECT_EQ(testsupport::CountProcessThreads(), before + 8);
    auto circuit = Lend();
    DeviceManager::Instance().Remove("/device/system/thread");
    WorkerOf(*circuit);  // still served
    circuit.reset();
    EXPECT_EQ(testsupport::CountProcessThreads(), before);

    // A job may give back its own circuit, even the last of its device.
    AddDevice();
    std::shared_ptr<CircuitInterface> own = Lend();
    CircuitInterface* raw = own.get();
    DeviceManager::Instance().Remove("/device/system/thread");
    std::promise<void> done;
    Post(*raw, [&own, &done] {
        own.reset();
        done.set_value();
    });
    done.get_future().get();
    AddDevice();  // joins the worker that could not join itself
    DeviceManager::DestroyInstance();
    EXPECT_EQ(testsupport::CountProcessThreads(), before);
}

// When the system cannot start another thread, a request that needs a new worker gets no
// circuit and error 1; the device goes on lending once threads can be made again.
TEST_F(ThreadDeviceTest, AWorkerThatCannotBeStartedIsRefusedAndTheDeviceGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need address space of their own for every new thread";
#endif
    std::vector<Circuit> lent;
    for (int i = 0; i < 8; ++i) {
        lent.push_back(Lend());
        // Once it has run a job, a worker has made its own allocation arena: the address
        // space the C library reserves for that is not in flux while the limit is taken.
        WorkerOf(*lent.back());
    }
    // Room for small allocations, none for a new thread's stack.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    ASSERT_GT(pages, 0);
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &original), 0);
    rlimit tight = original;
    tight.rlim_cur = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (1u << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
    int error = -1;
    auto refused = Lend(&error);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &original), 0);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(device->IdleWorkers(), 0u);
    auto later = Lend(&error);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_NE(WorkerOf(*later), WorkerOf(*lent.front()));
    lent.clear();
    later.reset();
    EXPECT_EQ(device->IdleWorkers(), 9u);
}

}  // namespace
