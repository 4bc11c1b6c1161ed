#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/UpdateCheck.h"
#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/NetDevice.h"
#include "support/GuiTest.h"
#include "support/LoopbackServer.h"

using namespace std::chrono_literals;

namespace {

const std::string kMarker = "<flag>ferrocask.exe1.0.1.0</flag>";
const std::string kPage = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<update>";

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        Ombrix::DeviceManager::Instance().Add("/device/system/net",
                                              std::make_unique<Ombrix::NetDevice>());
    }
    void TearDown() override { Ombrix::DeviceManager::DestroyInstance(); }

    // Runs one check against server on a thread of its own while serve plays the server here,
    // then turns the event loop for a handed-over box; whether the check handed one over.
    bool Check(
        const std::string& server, const std::function<void()>& serve = [] {}) {
        std::atomic<bool> done{false};
        bool handedOver = false;
        std::thread check([&] {
            handedOver = RunUpdateCheck({server, 0ms, 700ms, "https://download.test/new/"});
            done = true;
        });
        serve();
        EXPECT_TRUE(guitest::PumpUntil([&] { return done.load(); }, 10000));
        check.join();
        guitest::PumpUntil([&] { return !boxes.Shown().empty(); }, handedOver ? 3000 : 200);
        return handedOver;
    }

    guitest::MessageBoxes boxes;
};

TEST(UpdateSettingsTest, ConfigurationSwitchesTheCheckOff) {
    EXPECT_FALSE(DefaultUpdateCheckSettings().server.empty());
    Ombrix::Config::Instance().SetValue("/config/update/server", "off");
    EXPECT_EQ(DefaultUpdateCheckSettings().server, "");
    // A switched-off check asks nobody and says nothing.
    EXPECT_FALSE(RunUpdateCheck({"", 0ms, 100ms, "https://download.test/new/"}));
}

TEST_F(UpdateCheckTest, OnlyAnAnswerWithoutTheMarkerShowsTheMessage) {
    const struct {
        std::vector<std::string> packets;  // sent 1.5 seconds apart
        bool silent;                       // the connection is held open
        bool message;
    } cases[] = {
        {{kPage + "<version>1.0.1.0</version>" + kMarker}, false, false},
        // A reply whose first byte is zero counts as empty.
        {{std::string(1, '\0') + "HTTP/1.1 200 OK\r\n\r\nnew version"}, false, false},
        {{}, false, false},  // the server closes without a word
        {{}, true, false},   // or keeps silent; the check gives up after its limit
        {{kPage + "<flag>ferrocask.exe1.0.2.0</flag>"}, false, true},
        {{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}, false, true},
        // Only the first 4,096 bytes count, up to a zero byte; case matters.
        {{kPage + std::string(4096 - kPage.size() - kMarker.size(), 'x') + kMarker}, false, false},
        {{kPage + std::string(4096 - kPage.size() - 10, 'x') + kMarker}, false, true},
        {{kPage + std::string(1, '\0') + kMarker}, false, true},
        {{kPage + "<FLAG>ferrocask.exe1.0.1.0</FLAG>"}, false, true},
        // One read only: a second packet, well after the first, is never looked at.
        {{kPage + "<version>", kMarker}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);  // the row
        testsupport::LoopbackServer server;
        const auto serve = [&] {
            // The one line and the blank line, nothing else.
            EXPECT_EQ(server.Request(5000), "GET /software/update.xml HTTP/1.1\r\n\r\n");
            for (std::size_t i = 0; i < c.packets.size(); ++i) {
                std::this_thread::sleep_for(i > 0 ? 1500ms : 0ms);
                server.Send(c.packets[i]);
            }
            if (!c.silent) {
                server.Close();
            }
        };
        EXPECT_EQ(Check(server.Address(), serve), c.message);
        ASSERT_EQ(boxes.Shown().size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(std::string(boxes.Shown()[0].text.utf8_str()),
                      "有新的版本，请到官网https://download.test/new/"
                      "下载，解压覆盖即可\r\n覆盖之前，请先备份密码文件ferrocask.db");
            boxes.Clear();
        }
    }
    EXPECT_FALSE(Check(testsupport::UnusedAddress()));  // nobody listens
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UpdateCheckTest, NothingIsHandedOverOnceTheProgramShutsDown) {
    // Once the framework stops, the check asks nobody: its registry is gone.
    Ombrix::g_running = false;
    testsupport::LoopbackServer server;
    EXPECT_FALSE(Check(server.Address()));
    Ombrix::g_running = true;
    EXPECT_FALSE(server.Connected());
    EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
