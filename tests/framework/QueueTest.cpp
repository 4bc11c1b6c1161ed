#include "framework/Queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Ombrix;
using Clock = std::chrono::steady_clock;

namespace {

// Counts its own destruction, to see which items a queue deletes.
struct Tracked {
    Tracked(int value, int* deaths) : value(value), deaths(deaths) {}
    ~Tracked() { ++*deaths; }
    int value;
    int* deaths;
};

using TrackedQueue = Queue<Tracked>;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(QueueTest, PollsWithoutATimeLimitAndRefusesNullItems) {
    TrackedQueue queue;
    const auto start = Clock::now();
    EXPECT_EQ(queue.Pop(nullptr), nullptr);
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(queue.Push(nullptr), 3);

    int deaths = 0;
    EXPECT_EQ(queue.Push(std::make_unique<Tracked>(7, &deaths)), 0);
    auto item = queue.Pop(nullptr);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->value, 7);
    EXPECT_EQ(deaths, 0);  // ownership went to the caller
}

TEST(QueueTest, StaysSignalledWhileItemsRemainAndResetsWhenEmpty) {
    TrackedQueue queue;
    int deaths = 0;
    queue.Push(std::make_unique<Tracked>(1, &deaths));
    queue.Push(std::make_unique<Tracked>(2, &deaths));
    const ACE_Time_Value longWait(60);
    EXPECT_EQ(queue.Pop(&longWait)->value, 1);

    // The second item is still announced: no waiting for it.
    auto start = Clock::now();
    EXPECT_EQ(queue.Pop(&longWait)->value, 2);
    EXPECT_LT(SecondsSince(start), 10.0);

    // Now the queue is empty and the event reset: a third Pop waits out its limit.
    const ACE_Time_Value shortWait(0, 150000);
    start = Clock::now();
    EXPECT_EQ(queue.Pop(&shortWait), nullptr);
    EXPECT_GE(SecondsSince(start), 0.12);
}

TEST(QueueTest, AWaitingPopTakesAnItemPushedByAnotherThread) {
    TrackedQueue queue;
    int deaths = 0;
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.Push(std::make_unique<Tracked>(42, &deaths));
    });
    const ACE_Time_Value longWait(60);
    const auto start = Clock::now();
    auto item = queue.Pop(&longWait);
    producer.join();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->value, 42);
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST(QueueTest, WakeEndsAWaitingPopWithoutAnItem) {
    TrackedQueue queue;
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.Wake();
    });
    const ACE_Time_Value longWait(60);
    const auto start = Clock::now();
    EXPECT_EQ(queue.Pop(&longWait), nullptr);
    waker.join();
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST(QueueTest, ItemsComeOutInOrderAndLeftoversAreDeletedWithTheQueue) {
    int deaths = 0;
    {
        TrackedQueue queue;
        for (int i = 0; i < 5; ++i) {
            queue.Push(std::make_unique<Tracked>(i, &deaths));
        }
        EXPECT_EQ(queue.Pop(nullptr)->value, 0);
        EXPECT_EQ(queue.Pop(nullptr)->value, 1);
        EXPECT_EQ(deaths, 2);
    }
    EXPECT_EQ(deaths, 5);
}

}  // namespace
