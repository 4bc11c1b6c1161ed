// Cost of bringing the framework up and down (8 worker threads started and joined, the
// three devices registered and removed) and of running a job on a lent worker.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "framework/AppFramework.h"
#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/ThreadDevice.h"

namespace {

using namespace Ombrix;

// No log file from the benchmarks.
void QuietFramework() {
    Config::Instance().SetValue("/config/system/log", "false");
}

void BM_InitFini(benchmark::State& state) {
    QuietFramework();
    AppFramework framework;
    for (auto _ : state) {
        framework.Init();
        framework.Fini();
    }
}
BENCHMARK(BM_InitFini)->Unit(benchmark::kMillisecond);

// Counts finished jobs and lets the benchmark wait for a given count.
class Finished {
public:
    void Add() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        m_changed.notify_one();
    }
    void WaitFor(long count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_count >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    long m_count = 0;
};

void Post(CircuitInterface& circuit, Finished& finished) {
    ThreadJob job;
    job.m_pJob = new Job([&finished] { finished.Add(); });
    circuit.Write(&job, sizeof job, nullptr);
}

// One job at a time: from Write to the job having run, as seen by the writer.
void BM_ThreadJobLatency(benchmark::State& state) {
    QuietFramework();
    AppFramework framework;
    framework.Init();
    {
        auto circuit =
            DeviceManager::Instance().GetCircuit("/device/system/thread", "", 0, nullptr, nullptr);
        Finished finished;
        long posted = 0;
        for (auto _ : state) {
            Post(*circuit, finished);
            finished.WaitFor(++posted);
        }
    }
    framework.Fini();
}
BENCHMARK(BM_ThreadJobLatency)->Unit(benchmark::kMicrosecond);

// Many jobs written back to back through one circuit.
void BM_ThreadJobThroughput(benchmark::State& state) {
    QuietFramework();
    AppFramework framework;
    framework.Init();
    {
        auto circuit =
            DeviceManager::Instance().GetCircuit("/device/system/thread", "", 0, nullptr, nullptr);
        Finished finished;
        long posted = 0;
        const long batch = state.range(0);
        for (auto _ : state) {
            for (long i = 0; i < batch; ++i) {
                Post(*circuit, finished);
            }
            posted += batch;
            finished.WaitFor(posted);
        }
        state.SetItemsProcessed(posted);
    }
    framework.Fini();
}
BENCHMARK(BM_ThreadJobThroughput)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
