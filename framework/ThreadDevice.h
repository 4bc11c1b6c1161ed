// The thread device lends worker threads: a circuit on it is bound to one idle worker and
// runs the jobs written to it on that worker; destroying the circuit gives the worker back.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "framework/Device.h"
#include "framework/Thread.h"

namespace Ombrix {

class ThreadDevice : public PlainBase,
                     public DevInterface,
                     private Loki::ObjectLevelLockable<ThreadDevice, Loki::Mutex> {
    using Lockable = Loki::ObjectLevelLockable<ThreadDevice, Loki::Mutex>;

public:
    // Started at once so that work handed to the device never waits for a thread to be made,
    // as the framework's callers expect; this program hands them none, and idle they cost
    // only their stacks.
    static constexpr int kInitialWorkers = 8;

    // Starts kInitialWorkers workers at once, so lending one later costs no thread start.
    ThreadDevice();

    // Stops and joins every worker. Every circuit holds a share of the device, so by now
    // all lent workers are back in the pool and nothing uses them any more.
    ~ThreadDevice() override;

    // A circuit bound to the most recently returned idle worker, or to a new worker when
    // none is idle. A job never gets the worker it runs on. Address, mode and time limit are not
    // used. Null with *error = 1 only when a new worker's thread could not be started.
    std::unique_ptr<CircuitInterface> CreateCircuit(std::string address, int mode, int* error,
                                                    const ACE_Time_Value* timeout) override;

    // Takes a lent worker back once it may be reused (see Thread::WaitUntilReusable).
    // Other circuits may be created and given back meanwhile.
    int Release(Thread* worker);

    // Number of workers waiting in the pool.
    std::size_t IdleWorkers();

private:
    std::vector<std::unique_ptr<Thread>> m_pool;  // used as a stack: lent from the end
};

class ThreadCircuit : public PlainBase, public CircuitInterface {
public:
    ThreadCircuit(ThreadDevice* device, std::unique_ptr<Thread> worker);

    // Gives the worker back to the device.
    ~ThreadCircuit() override;

    // buffer holds a ThreadJob: its job is handed to the worker (m_pJob becomes null) and
    // the worker's priority is set to m_nPriority; what the system makes of the priority
    // does not change the result. 1 (nothing done) for a circuit without a worker, a null
    // buffer or a length smaller than a ThreadJob; else 0.
    int Write(void* buffer, int length, const ACE_Time_Value* timeout) override;

private:
    ThreadDevice* m_pDevice;
    DeviceShare m_share;  // the device outlives this circuit
    Thread* m_pThread;    // lent by the device, which takes it back
};

}  // namespace Ombrix
