// The update check asks the network device on a thread of its own, and the program may end
// at any moment of it: the framework then stops and destroys its registry and devices while
// the check looks up its circuit, connects or waits for the reply. Nothing may race (this
// test also runs under the thread sanitizer) or crash.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/UpdateFetch.h"
#include "framework/AppFramework.h"
#include "framework/DeviceManager.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

TEST(UpdateFetchShutdownTest, TheFrameworkMayStopAtAnyMomentOfTheCheck) {
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd{dir.Path()};
    Ombrix::AppFramework framework;
    // From before the circuit is asked for, through the connect, into the wait for a reply
    // that never comes.
    std::vector<std::chrono::microseconds> moments;
    for (int us = 0; us <= 3000; us += 50) {
        moments.emplace_back(us);
    }
    for (int ms : {10, 30, 60}) {
        moments.emplace_back(std::chrono::milliseconds(ms));
    }
    for (const std::chrono::microseconds moment : moments) {
        SCOPED_TRACE(moment.count());
        testsupport::ScriptedServer server({{}, 0, false});  // takes the request, says nothing
        ASSERT_EQ(framework.Init(), 0);
        std::string reply = "untouched";
        std::thread check([&] { reply = FetchUpdateReply(server.Address(), 100ms); });
        std::this_thread::sleep_for(moment);
        ASSERT_EQ(framework.Fini(), 0);
        check.join();
        EXPECT_EQ(reply, "");
    }
}
