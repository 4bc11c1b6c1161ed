#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/UpdateCheck.h"
#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "framework/NetDevice.h"
#include "support/GuiTest.h"
#include "support/ScriptedServer.h"

using testsupport::ScriptedServer;
using testsupport::ServerScript;

namespace {

using namespace std::chrono_literals;

constexpr char kMarker[] = "<flag>ferrocask.exe1.0.1.0</flag>";
constexpr char kDownloadPage[] = "https://download.test/new/";
constexpr char kRequest[] = "GET /software/update.xml HTTP/1.1\r\n\r\n";

std::string Page(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<update>" + body + "</update>";
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        Ombrix::DeviceManager::Instance().Add("/device/system/net",
                                              std::make_unique<Ombrix::NetDevice>());
    }
    void TearDown() override { Ombrix::DeviceManager::DestroyInstance(); }

    // Runs one whole check against server on a thread of its own, with no delay and the
    // given limit, turning the event loop meanwhile so that a handed-over box comes up.
    // Returns whether the check handed a box over; the boxes shown are in `boxes`.
    bool Check(const std::string& server, std::chrono::milliseconds limit = 5000ms) {
        UpdateCheckSettings settings{server, 0ms, limit, kDownloadPage};
        std::atomic<bool> done{false};
        bool handedOver = false;
        std::thread check([&] {
            handedOver = RunUpdateCheck(settings);
            done = true;
        });
        const bool finished = guitest::PumpUntil([&] { return done.load(); },
                                                 static_cast<int>(limit.count()) * 2 + 10000);
        check.join();
        EXPECT_TRUE(finished);
        guitest::PumpUntil([&] { return !boxes.Shown().empty(); }, handedOver ? 3000 : 200);
        return handedOver;
    }

    bool CheckAgainst(const ServerScript& script, std::string* request = nullptr) {
        ScriptedServer server(script);
        const bool handedOver = Check(server.Address());
        if (request != nullptr) {
            *request = server.Request();
        }
        return handedOver;
    }

    void ExpectMessage() {
        ASSERT_EQ(boxes.Shown().size(), 1u);
        const platform::MessageBoxRequest& box = boxes.Shown()[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.buttons, platform::MessageButtons::Ok);
        EXPECT_EQ(std::string(box.caption.utf8_str()), "墨岩保险柜");
        EXPECT_EQ(std::string(box.text.utf8_str()),
                  "有新的版本，请到官网https://download.test/new/"
                  "下载，解压覆盖即可\r\n覆盖之前，请先备份密码文件ferrocask.db");
        boxes.Clear();
    }

    guitest::MessageBoxes boxes;
};

TEST(UpdateSettingsTest, ConfigurationPointsTheCheckElsewhereOrSwitchesItOff) {
    Ombrix::Config& config = Ombrix::Config::Instance();
    const UpdateCheckSettings built = DefaultUpdateCheckSettings();
    EXPECT_FALSE(built.server.empty());
    EXPECT_EQ(built.delay, 1000ms);
    EXPECT_EQ(built.limit, 16000ms);
    EXPECT_FALSE(built.downloadPage.empty());

    config.SetValue("/config/update/server", "updates.test:8080");
    EXPECT_EQ(DefaultUpdateCheckSettings().server, "updates.test:8080");
    config.SetValue("/config/update/server", "off");
    EXPECT_EQ(DefaultUpdateCheckSettings().server, "");
    // A switched-off check asks nobody and says nothing.
    EXPECT_FALSE(RunUpdateCheck({"", 0ms, 100ms, kDownloadPage}));
}

TEST_F(UpdateCheckTest, ReplyWithTheMarkerOrNoReplyIsSilent) {
    std::string request;
    EXPECT_FALSE(
        CheckAgainst({{Page(std::string("<version>1.0.1.0</version>") + kMarker)}}, &request));
    // The request is the one line and the blank line, nothing else.
    EXPECT_EQ(request, kRequest);
    // A reply whose first byte is zero counts as empty.
    EXPECT_FALSE(CheckAgainst({{std::string(1, '\0') + "HTTP/1.1 200 OK\r\n\r\nnew version"}}));
    // The server closes without a word.
    EXPECT_FALSE(CheckAgainst({{}}));
    // Nobody listens.
    EXPECT_FALSE(Check("127.0.0.1:" + std::to_string(testsupport::UnusedPort())));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UpdateCheckTest, AnyOtherAnswerShowsTheMessage) {
    EXPECT_TRUE(CheckAgainst({{Page("<flag>ferrocask.exe1.0.2.0</flag>")}}));
    ExpectMessage();
    EXPECT_TRUE(CheckAgainst({{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}}));
    ExpectMessage();
    // The marker comes only after the first 4,096 bytes.
    EXPECT_TRUE(CheckAgainst({{Page(std::string(4096, 'x') + kMarker)}}));
    ExpectMessage();
    // One read only: a second packet, well after the first, is never looked at.
    EXPECT_TRUE(CheckAgainst({{Page("<version>"), kMarker}, 1500}));
    ExpectMessage();
}

TEST_F(UpdateCheckTest, ServerThatNeverAnswersIsGivenUpSilently) {
    ScriptedServer server({{}, 0, false});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Check(server.Address(), 700ms));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(server.Request(), kRequest);
    EXPECT_GE(took, 600ms);
    EXPECT_LT(took, 10s);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UpdateCheckTest, NothingIsHandedOverOnceTheProgramShutsDown) {
    // Once the framework stops, the check asks nobody: its registry is gone.
    Ombrix::g_running = false;
    ScriptedServer server({{Page("new")}});
    EXPECT_FALSE(Check(server.Address()));
    Ombrix::g_running = true;
    EXPECT_FALSE(server.Connected());
    EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
