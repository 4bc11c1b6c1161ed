#include "framework/Thread.h"

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

}  // namespace

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
    if (m_bStarted) {
        ACE_Thread::join(m_hThread);
    }
}

void Thread::RequestStop() {
    m_bRun = false;
    m_jobs.Wake();
}

ACE_THR_FUNC_RETURN Thread::Entry(void* self) {
    // A job that overflows its stack is still reported by the crash writer.
    AlternateSignalStack signalStack;
    static_cast<Thread*>(self)->Run();
    return 0;
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
