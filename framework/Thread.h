// One worker of the thread device: an operating-system thread that runs the jobs of its own
// queue one after another, in the order they were posted.
#pragma once

#include <atomic>
#include <memory>

#include <ace/Event.h>
#include <ace/Thread.h>
#include <loki/Functor.h>

#include "framework/Base.h"
#include "framework/Queue.h"

namespace Ombrix {

// A job: a callable without arguments or result. Deleting it deletes the callable.
using Job = Loki::Functor<void, Loki::NullType, Loki::ClassLevelLockable>;

// What a thread circuit's Write takes: the job, handed over to the worker (the field is
// cleared), and the scheduling priority to give the worker's thread.
struct ThreadJob {
    Job* m_pJob = nullptr;
    // 0 is the normal priority. Worker threads run under the ordinary time-sharing policy,
    // which has no other levels: any other value is refused by the system and the thread
    // keeps its priority.
    int m_nPriority = 0;
};

class Thread : public PlainBase, private Loki::ObjectLevelLockable<Thread, Loki::Mutex> {
    using Lockable = Loki::ObjectLevelLockable<Thread, Loki::Mutex>;

public:
    // Starts the operating-system thread at once.
    Thread();

    // Stops the thread: raises the stop flag, wakes the thread if it waits for work and
    // joins it, so nothing touches this worker after it is freed. Jobs still queued are
    // deleted unrun; a job that is running is allowed to finish.
    ~Thread() override;

    // Raises the stop flag and wakes the thread if it waits for work; the destructor then
    // only has to join it. Lets an owner stop many workers at once.
    void RequestStop();

    // For an owner that is being destroyed on this worker's own thread (a job that let go
    // of the last share of its device): the worker cannot join itself, so it stops after
    // the running job and frees itself, and its thread is joined later by JoinAbandoned.
    // The owner must forget the pointer.
    void AbandonFromWithin();

    // Joins the threads of abandoned workers (except the calling thread's own).
    static void JoinAbandoned();

    // Whether the operating-system thread could be started; a worker without one never
    // runs anything and is not lent out.
    bool Started() const { return m_bStarted; }

    // Queues job behind the jobs already posted. A null job is dropped. Always 0.
    int Post(std::unique_ptr<Job> job);

    // Asks the system for this scheduling priority of the worker's thread. Returns the
    // system's answer (0 accepted, -1 refused).
    int SetPriority(int priority);

    // Blocks until this worker may be lent to somebody else: a job has finished since the
    // last call, or nothing that was posted is still outstanding, or the worker has ended.
    // Called on the worker's own thread (a job giving back its own circuit) it returns at
    // once, since waiting for the running job would never end.
    void WaitUntilReusable();

    // True on the worker's own thread.
    bool IsCurrentThread() const;

private:
    static ACE_THR_FUNC_RETURN Entry(void* self);
    void Run();
    void RunOne(Job& job);
    void JobFinished();
    void Ended();

    std::atomic<bool> m_bRun{true};
    bool m_bStarted = false;
    bool m_bAbandoned = false;  // only touched by the worker's own thread
    ACE_hthread_t m_hThread{};
    ACE_thread_t m_threadId{};
    Queue<Job> m_jobs;
    // Signalled when a job has finished (and when the worker ends or drops a job, so that
    // a waiting WaitUntilReusable looks again).
    ACE_Event m_idle{0, 0, USYNC_THREAD};
    int m_nOutstanding = 0;  // posted and not yet finished or dropped; under the lock
    bool m_bEnded = false;   // the loop has returned; under the lock
};

}  // namespace Ombrix
