#include "framework/Thread.h"

#include <mutex>
#include <vector>

#include <ace/OS_NS_Thread.h>

#include "framework/CrashDump.h"
#include "framework/Device.h"
#include "framework/Log.h"

namespace Ombrix {

namespace {

// An idle worker wakes this often to look at its flags, even if nobody wakes it.
const ACE_Time_Value kIdleWakeUp(3600, 1000000);

void LogJobFailure() {
    try {
        Log::Instance().Error("Thread::Run Exception hannened");
    } catch (...) {
        // The log is gone (process exit): there is nowhere left to report to.
    }
}

// Threads of workers that were abandoned (see AbandonFromWithin), waiting to be joined by
// some other thread: the next thread device made or destroyed. One left at process exit has
// long finished its job (or never will): it is not waited for.
class AbandonedThreads {
public:
    void Add(ACE_hthread_t thread) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_threads.push_back(thread);
    }

    void JoinAll() {
        std::vector<ACE_hthread_t> threads;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            threads.swap(m_threads);
        }
        ACE_hthread_t self;
        ACE_Thread::self(self);
        for (ACE_hthread_t thread : threads) {
            if (ACE_OS::thr_equal(thread, self)) {
                Add(thread);  // a thread cannot join itself; somebody else will
            } else {
                ACE_Thread::join(thread);
            }
        }
    }

private:
    std::mutex m_mutex;
    std::vector<ACE_hthread_t> m_threads;
};

AbandonedThreads& Abandoned() {
    static AbandonedThreads* threads = new AbandonedThreads;  // lives until the process ends
    return *threads;
}

}  // namespace

void Thread::JoinAbandoned() {
    Abandoned().JoinAll();
}

Thread::Thread() {
    m_idle.reset();
    m_bStarted = ACE_Thread::spawn(&Thread::Entry, this, 0, &m_threadId, &m_hThread, 0) == 0;
    if (!m_bStarted) {
        Lockable::Lock guard(*this);
        m_bEnded = true;
    }
}

Thread::~Thread() {
    RequestStop();
    // An abandoned worker frees itself on its own thread, which is joined by somebody else.
    if (m_bStarted && !m_bAbandoned) {
        ACE_Thread::join(m_hThread);
    }
}

void Thread::RequestStop() {
    m_bRun = false;
    m_jobs.Wake();
}

ACE_THR_FUNC_RETURN Thread::Entry(void* self) {
    // A job that overflows its stack is still reported by the crash writer.
    Thread* worker = static_cast<Thread*>(self);
    {
        AlternateSignalStack signalStack;
        worker->Run();
    }
    if (worker->m_bAbandoned) {
        delete worker;
    }
    return 0;
}

void Thread::AbandonFromWithin() {
    m_bAbandoned = true;
    m_bRun = false;
    Abandoned().Add(m_hThread);
}

void Thread::Run() {
    for (;;) {
        if (!m_bRun || !g_running) {
            break;
        }
        std::unique_ptr<Job> job = m_jobs.Pop(&kIdleWakeUp);
        if (!job) {
            continue;
        }
        if (!m_bRun || !g_running) {
            break;  // the worker or the framework is stopping: the job is dropped unrun
        }
        RunOne(*job);
        if (!g_running) {
            break;
        }
        // The job is destroyed before the worker reports itself idle, so whoever waits for
        // it may free what the job refers to.
        job.reset();
        JobFinished();
    }
    Ended();
}

void Thread::RunOne(Job& job) {
    {
        Lockable::Lock guard(*this);
        m_idle.reset();
    }
    try {
        job();
    } catch (...) {
        LogJobFailure();
    }
}

void Thread::JobFinished() {
    Lockable::Lock guard(*this);
    --m_nOutstanding;
    m_idle.signal();
}

void Thread::Ended() {
    Lockable::Lock guard(*this);
    m_bEnded = true;
    m_idle.signal();
}

int Thread::Post(std::unique_ptr<Job> job) {
    if (!job) {
        return kOk;
    }
    {
        Lockable::Lock guard(*this);
        ++m_nOutstanding;
    }
    m_jobs.Push(std::move(job));
    return kOk;
}

int Thread::SetPriority(int priority) {
    if (!m_bStarted) {
        return -1;
    }
    return ACE_Thread::setprio(m_hThread, priority, -1);
}

bool Thread::IsCurrentThread() const {
    return m_bStarted && ACE_OS::thr_equal(ACE_OS::thr_self(), m_threadId);
}

void Thread::WaitUntilReusable() {
    if (IsCurrentThread()) {
        return;
    }
    {
        Lockable::Lock guard(*this);
        if (m_nOutstanding == 0 || m_bEnded) {
            m_idle.reset();
            return;
        }
    }
    // One finished job is enough: jobs still queued run before any job of the next
    // borrower, since the queue keeps their order.
    m_idle.wait();
    Lockable::Lock guard(*this);
    m_idle.reset();
}

}  // namespace Ombrix
