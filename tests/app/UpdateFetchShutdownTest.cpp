// The update check asks the network device on a thread of its own, and the program may end
// at any moment of it: the framework then stops and destroys its registry and devices while
// the check looks up its circuit, connects or waits for the reply. Nothing may race (this
// test also runs under the thread sanitizer) or crash.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "app/UpdateFetch.h"
#include "framework/AppFramework.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

TEST(UpdateFetchShutdownTest, TheFrameworkMayStopAtAnyMomentOfTheCheck) {
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
    Ombrix::AppFramework framework;
    // From before the circuit is asked for, through the connect, into the wait for a reply
    // that never comes: every 50 µs for 3 ms, then a few later moments.
    std::vector<int> moments{10000, 30000, 60000};
    for (int us = 0; us <= 3000; us += 50) {
        moments.push_back(us);
    }
    for (const int us : moments) {
        SCOPED_TRACE(us);
        testsupport::LoopbackServer server;  // nobody answers
        ASSERT_EQ(framework.Init(), 0);
        std::string reply = "untouched";
        std::thread check(
            [&] { reply = FetchUpdateReply(server.Address(), std::chrono::milliseconds(100)); });
        std::this_thread::sleep_for(std::chrono::microseconds(us));
        ASSERT_EQ(framework.Fini(), 0);
        check.join();
        EXPECT_EQ(reply, "");
    }
}
