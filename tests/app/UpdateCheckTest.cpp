#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/UpdateCheck.h"
#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/NetDevice.h"
#include "support/GuiTest.h"
#include "support/ScriptedServer.h"

using testsupport::ScriptedServer;
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

    // Runs one whole check against server on a thread of its own, with no delay, turning the
    // event loop meanwhile so that a handed-over box comes up. Whether it handed one over.
    bool Check(const std::string& server, std::chrono::milliseconds limit = 5000ms) {
        std::atomic<bool> done{false};
        bool handedOver = false;
        std::thread check([&] {
            handedOver = RunUpdateCheck({server, 0ms, limit, "https://download.test/new/"});
            done = true;
        });
        EXPECT_TRUE(guitest::PumpUntil([&] { return done.load(); },
                                       static_cast<int>(limit.count()) * 2 + 10000));
        check.join();
        guitest::PumpUntil([&] { return !boxes.Shown().empty(); }, handedOver ? 3000 : 200);
        return handedOver;
    }

    guitest::MessageBoxes boxes;
};

TEST(UpdateSettingsTest, ConfigurationPointsTheCheckElsewhereOrSwitchesItOff) {
    EXPECT_FALSE(DefaultUpdateCheckSettings().server.empty());
    Ombrix::Config::Instance().SetValue("/config/update/server", "updates.test:8080");
    EXPECT_EQ(DefaultUpdateCheckSettings().server, "updates.test:8080");
    Ombrix::Config::Instance().SetValue("/config/update/server", "off");
    EXPECT_EQ(DefaultUpdateCheckSettings().server, "");
    // A switched-off check asks nobody and says nothing.
    EXPECT_FALSE(RunUpdateCheck({"", 0ms, 100ms, "https://download.test/new/"}));
}

TEST_F(UpdateCheckTest, OnlyAnAnswerWithoutTheMarkerShowsTheMessage) {
    const struct {
        testsupport::ServerScript script;
        bool message;
    } cases[] = {
        {{{kPage + "<version>1.0.1.0</version>" + kMarker}}, false},
        // A reply whose first byte is zero counts as empty.
        {{{std::string(1, '\0') + "HTTP/1.1 200 OK\r\n\r\nnew version"}}, false},
        {{{}}, false},            // the server closes without a word
        {{{}, 0, false}, false},  // or keeps silent; the check gives up after its limit
        {{{kPage + "<flag>ferrocask.exe1.0.2.0</flag>"}}, true},
        {{{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}}, true},
        // Only the first 4,096 bytes count, up to a zero byte; case matters.
        {{{kPage + std::string(4096 - kPage.size() - kMarker.size(), 'x') + kMarker}}, false},
        {{{kPage + std::string(4096 - kPage.size() - 10, 'x') + kMarker}}, true},
        {{{kPage + std::string(1, '\0') + kMarker}}, true},
        {{{kPage + "<FLAG>ferrocask.exe1.0.1.0</FLAG>"}}, true},
        // One read only: a second packet, well after the first, is never looked at.
        {{{kPage + "<version>", kMarker}, 1500}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);  // the row
        ScriptedServer server(c.script);
        EXPECT_EQ(Check(server.Address(), 700ms), c.message);
        // The one line and the blank line, nothing else.
        EXPECT_EQ(server.Request(), "GET /software/update.xml HTTP/1.1\r\n\r\n");
        ASSERT_EQ(boxes.Shown().size(), c.message ? 1u : 0u);
        if (c.message) {
            const platform::MessageBoxRequest& box = boxes.Shown()[0];
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.buttons, platform::MessageButtons::Ok);
            EXPECT_EQ(std::string(box.caption.utf8_str()), "墨岩保险柜");
            EXPECT_EQ(std::string(box.text.utf8_str()),
                      "有新的版本，请到官网https://download.test/new/"
                      "下载，解压覆盖即可\r\n覆盖之前，请先备份密码文件ferrocask.db");
            boxes.Clear();
        }
    }
    // Nobody listens.
    EXPECT_FALSE(Check("127.0.0.1:" + std::to_string(testsupport::UnusedPort())));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UpdateCheckTest, NothingIsHandedOverOnceTheProgramShutsDown) {
    // Once the framework stops, the check asks nobody: its registry is gone.
    Ombrix::g_running = false;
    ScriptedServer server({{kPage + "new"}});
    EXPECT_FALSE(Check(server.Address()));
    Ombrix::g_running = true;
    EXPECT_FALSE(server.Connected());
    EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
