#include "framework/Queue.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace Ombrix;
using Clock = std::chrono::steady_clock;

namespace {

struct Tracked {
    Tracked(int value, int* deaths) : value(value), deaths(deaths) {}
    ~Tracked() { ++*deaths; }
    int value;
    int* deaths;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(QueueTest, KeepsOrderPollsRefusesNullAndDeletesLeftovers) {
    int deaths = 0;
    {
        Queue<Tracked> queue;
        EXPECT_EQ(queue.Pop(nullptr), nullptr);
        EXPECT_EQ(queue.Push(nullptr), 3);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(queue.Push(std::make_unique<Tracked>(i, &deaths)), 0);
        }
        EXPECT_EQ(queue.Pop(nullptr)->value, 0);
        EXPECT_EQ(queue.Pop(nullptr)->value, 1);
        EXPECT_EQ(deaths, 2);
    }
    EXPECT_EQ(deaths, 4);
}

TEST(QueueTest, StaysSignalledWhileItemsRemainAndResetsWhenEmpty) {
    Queue<Tracked> queue;
    int deaths = 0;
    queue.Push(std::make_unique<Tracked>(1, &deaths));
    queue.Push(std::make_unique<Tracked>(2, &deaths));
    const ACE_Time_Value longWait(60);
    EXPECT_EQ(queue.Pop(&longWait)->value, 1);
    auto start = Clock::now();
    EXPECT_EQ(queue.Pop(&longWait)->value, 2);  // still announced: no waiting
    EXPECT_LT(SecondsSince(start), 10.0);

    const ACE_Time_Value shortWait(0, 150000);
    start = Clock::now();
    EXPECT_EQ(queue.Pop(&shortWait), nullptr);  // reset: waits out its limit
    EXPECT_GE(SecondsSince(start), 0.12);
}

}  // namespace
