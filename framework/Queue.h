// An unbounded first-in first-out queue of owned items with a blocking Pop. It carries the
// jobs of every worker thread and the connections an accept thread has taken in.
#pragma once

#include <list>
#include <memory>

#include <ace/Event.h>
#include <ace/Time_Value.h>

#include "framework/Base.h"

namespace Ombrix {

// The waiting part of a queue: an auto-reset event that is signalled while the queue is
// believed to hold items, so that a waiter sleeps instead of polling.
class WaitPolicy {
protected:
    WaitPolicy() : m_event(0 /* auto-reset */, 0 /* not signalled */, USYNC_THREAD) {
        m_event.reset();
    }

    // Waits at most *timeout (relative) for the event; the outcome is not reported, the
    // caller looks at the queue afterwards.
    void WaitFor(const ACE_Time_Value& timeout) { m_event.wait(&timeout, 0); }
    void Signal() { m_event.signal(); }
    void Reset() { m_event.reset(); }

private:
    ACE_Event m_event;
};

template <class Item, class Waiting = WaitPolicy,
          template <class, class> class ThreadingModel = Loki::ObjectLevelLockable>
class Queue : public PlainBase,
              public ThreadingModel<Queue<Item, Waiting, ThreadingModel>, Loki::Mutex>,
              public Waiting {
    using Lockable = ThreadingModel<Queue<Item, Waiting, ThreadingModel>, Loki::Mutex>;
    using QueueLock = typename Lockable::Lock;

public:
    Queue() = default;

    // Remaining items are deleted front to back, unprocessed.
    ~Queue() override {
        for (Item* item : m_list) {
            delete item;
        }
    }

    // Appends item and wakes a waiting Pop. 3 for a null item, else 0.
    int Push(std::unique_ptr<Item> item) {
        if (!item) {
            return kNullItem;
        }
        QueueLock guard(*this);
        m_list.push_back(item.get());
        item.release();
        this->Signal();
        return kOk;
    }

    // The oldest item, or null. With a time limit, first waits at most that long (relative)
    // for an item to arrive; with none it only looks. While items remain the event stays
    // signalled, so the next Pop does not wait.
    std::unique_ptr<Item> Pop(const ACE_Time_Value* timeout) {
        if (timeout != nullptr) {
            this->WaitFor(*timeout);
        }
        QueueLock guard(*this);
        std::unique_ptr<Item> result;
        if (!m_list.empty()) {
            result.reset(m_list.front());
            m_list.pop_front();
        }
        if (m_list.empty()) {
            this->Reset();
        } else {
            this->Signal();
        }
        return result;
    }

    // Ends a waiting Pop at once (it returns null when nothing is queued). Owners call it
    // after raising their stop flag, so that a consumer sleeping on an empty queue looks
    // at the flag now instead of when its time limit runs out.
    void Wake() {
        QueueLock guard(*this);
        this->Signal();
    }

private:
    std::list<Item*> m_list;
};

}  // namespace Ombrix
