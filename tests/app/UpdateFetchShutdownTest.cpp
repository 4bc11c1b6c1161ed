// The program may end at any moment of the update check's thread: the framework then stops
// and destroys its registry and devices while the check looks up its circuit, connects or
// waits for the reply. Nothing may race (also under the thread sanitizer) or crash.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/UpdateFetch.h"
#include "framework/AppFramework.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

TEST(UpdateFetchShutdownTest, TheFrameworkMayStopAtAnyMomentOfTheCheck) {
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
    Ombrix::AppFramework framework;
    // From before the circuit is asked for, through the connect, into the wait for a reply
    // that never comes: every 50 µs for 3 ms, then every 15 ms.
    for (int us = 0; us <= 60000; us += us < 3000 ? 50 : 15000) {
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
