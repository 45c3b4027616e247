#include "workflows/wifi_presence_notice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>

#include "device/wifi/wifi_server.h"
#include "support/eventually.h"
#include "support/websocket_fixture.h"
#include "support/wifi_test_board.h"

namespace brisel::workflows {
namespace {

using device::WifiListenScope;
using device::WifiMode;
using device::WifiServer;
using device::WifiServerSettings;

using namespace std::chrono_literals;
using test_support::eventually;

constexpr std::string_view kPresentNotice =
    R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"check_device_connection",)"
    R"("status":"DONE","data":{"wifi":"true"}}})";
constexpr std::string_view kAbsentNotice =
    R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"check_device_connection",)"
    R"("status":"DONE","data":{"wifi":"false"}}})";

TEST(WifiPresenceReplyTest, EncodesTheNoticeText) {
    EXPECT_EQ(frame::encodeReply(wifiPresenceReply(true)).value(), kPresentNotice);
    EXPECT_EQ(frame::encodeReply(wifiPresenceReply(false)).value(), kAbsentNotice);
}

class WifiPresenceNoticeTest : public test_support::WebSocketServerFixture {
  protected:
    void startWifi() {
        WifiServerSettings settings;
        settings.port = 0;
        settings.scope = WifiListenScope::loopbackOnly;
        settings.notifyPresence = makeWifiPresenceNotifier([this] {
            ++noticesDecided;
            return server->getWS();
        });
        wifi = std::make_unique<WifiServer>(settings);
        ASSERT_TRUE(wifi->start());
    }

    void TearDown() override {
        wifi.reset();
        WebSocketServerFixture::TearDown();
    }

    std::unique_ptr<WifiServer> wifi;
    std::atomic<int> noticesDecided{0};  // notices whose browser connection has been looked up
};

// The board stays until the browser has heard of it, as a board does (one that comes and goes within
// a notice interval is told as the presence that holds at its end).
TEST_F(WifiPresenceNoticeTest, BrowserHearsABoardComeAndGo) {
    startWifi();
    auto browser = connect();
    ASSERT_TRUE(waitForConnections(1));

    auto board = test::WifiTestBoard::connect(wifi->port());
    ASSERT_TRUE(board);
    std::vector<std::string> notices;
    auto hear = [&] {
        const auto message = browser.receive(test_support::kReplyWait);
        ASSERT_TRUE(message);
        notices.push_back(message->payload);
    };
    hear();
    ASSERT_TRUE(board->send("VLK_STLE\x01\x02"));
    ASSERT_TRUE(eventually([&] {
        const auto held = wifi->getConnection();
        return held && held->modeDetected() == WifiMode::datacollect;
    }));
    board->close();
    hear();
    EXPECT_EQ(notices, (std::vector<std::string>{std::string(kPresentNotice), std::string(kAbsentNotice)}));
    EXPECT_FALSE(browser.receive(kWifiPresenceNoticeInterval + 100ms)) << "nothing more";
}

// Presence that changes faster than the browser should hear it reaches the browser as a few notices a
// second, the last of them the presence that holds at the end.
TEST_F(WifiPresenceNoticeTest, AFloodOfChangesIsFoldedIntoAFewNoticesEndingWithTheLast) {
    auto browser = connect();
    ASSERT_TRUE(waitForConnections(1));
    const auto notify = makeWifiPresenceNotifier([this] { return server->getWS(); });
    const auto start = std::chrono::steady_clock::now();
    for (int change = 0; change < 20000; ++change) {
        notify(change % 2 == 0);
    }
    const auto flooded = std::chrono::steady_clock::now() - start;
    std::vector<std::string> notices;
    while (const auto message = browser.receive(kWifiPresenceNoticeInterval + 500ms)) {
        notices.push_back(message->payload);
    }
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), kAbsentNotice);
    EXPECT_LE(notices.size(), 2 + static_cast<std::size_t>(flooded / kWifiPresenceNoticeInterval));
}

TEST_F(WifiPresenceNoticeTest, WithoutABrowserNoticesAreDropped) {
    startWifi();
    auto board = test::WifiTestBoard::connect(wifi->port());
    ASSERT_TRUE(board);
    ASSERT_TRUE(board->send("PRED: 1"));
    ASSERT_TRUE(eventually([&] {
        const auto held = wifi->getConnection();
        return held && held->modeDetected() == WifiMode::classify;
    }));
    board->close();
    ASSERT_TRUE(eventually([&] { return noticesDecided.load() == 3; }));

    auto browser = connect();
    EXPECT_FALSE(browser.receive(200ms));
}

}  // namespace
}  // namespace brisel::workflows
