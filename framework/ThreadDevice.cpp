#include "framework/ThreadDevice.h"

#include <algorithm>
#include <iterator>

namespace Ombrix {

ThreadDevice::ThreadDevice() {
    Thread::JoinAbandoned();
    m_pool.reserve(kInitialWorkers);
    for (int i = 0; i < kInitialWorkers; ++i) {
        auto worker = std::make_unique<Thread>();
        if (worker->Started()) {
            m_pool.push_back(std::move(worker));
        }
    }
}

ThreadDevice::~ThreadDevice() {
    // Wake them all first, so they wind down together, then join them first to last.
    for (auto& worker : m_pool) {
        if (worker->IsCurrentThread()) {
            worker.release()->AbandonFromWithin();
        } else {
            worker->RequestStop();
        }
    }
    for (auto& worker : m_pool) {
        worker.reset();
    }
    Thread::JoinAbandoned();
}

std::unique_ptr<CircuitInterface> ThreadDevice::CreateCircuit(std::string, int, int* error,
                                                              const ACE_Time_Value*) {
    Lockable::Lock guard(*this);
    if (error != nullptr) {
        *error = kOk;
    }
    // A job may give its circuit back and borrow again while it still runs, or run after its
    // circuit was given back (one finished job of the worker is enough for that): its own
    // worker can then be in the pool. Lent to the job, every job written to it would queue
    // behind the job that waits for them, so the job's own worker is passed over.
    std::unique_ptr<Thread> worker;
    const auto lendable = std::find_if(m_pool.rbegin(), m_pool.rend(),
                                       [](const auto& idle) { return !idle->IsCurrentThread(); });
    if (lendable != m_pool.rend()) {
        worker = std::move(*lendable);
        m_pool.erase(std::next(lendable).base());
    } else {
        worker = std::make_unique<Thread>();
        if (!worker->Started()) {
            if (error != nullptr) {
                *error = kRefused;
            }
            return nullptr;
        }
    }
    return std::make_unique<ThreadCircuit>(this, std::move(worker));
}

int ThreadDevice::Release(Thread* worker) {
    if (worker == nullptr) {
        return kOk;
    }
    std::unique_ptr<Thread> owned(worker);
    // The wait happens outside the device lock: the job being waited for may itself ask
    // this device for a circuit or give one back.
    owned->WaitUntilReusable();
    Lockable::Lock guard(*this);
    m_pool.push_back(std::move(owned));
    return kOk;
}

std::size_t ThreadDevice::IdleWorkers() {
    Lockable::Lock guard(*this);
    return m_pool.size();
}

ThreadCircuit::ThreadCircuit(ThreadDevice* device, std::unique_ptr<Thread> worker)
    : m_pDevice(device), m_share(device), m_pThread(worker.release()) {}

ThreadCircuit::~ThreadCircuit() {
    if (m_pDevice != nullptr && m_pThread != nullptr) {
        m_pDevice->Release(m_pThread);
    } else {
        delete m_pThread;
    }
}

int ThreadCircuit::Write(void* buffer, int length, const ACE_Time_Value*) {
    if (m_pThread == nullptr || buffer == nullptr || length < static_cast<int>(sizeof(ThreadJob))) {
        return kRefused;
    }
    auto* request = static_cast<ThreadJob*>(buffer);
    std::unique_ptr<Job> job(request->m_pJob);
    request->m_pJob = nullptr;
    m_pThread->Post(std::move(job));
    m_pThread->SetPriority(request->m_nPriority);
    return kOk;
}

}  // namespace Ombrix
