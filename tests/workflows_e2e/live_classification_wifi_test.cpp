// Live classification over WiFi, end to end: simulated WiFi boards send prediction texts to the real
// service's board server, which answers the browser.
#include <gtest/gtest.h>

#include <string>

#include "classification_e2e.h"
#include "device/wifi/wifi_settings.h"
#include "support/board_scenarios.h"
#include "support/eventually.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;

class WifiClassification : public WorkflowEndToEnd {
  protected:
    // Starts a board and waits until its first burst, which tells the service its mode, is sent and
    // the service has taken the mode from it.
    WifiBoardSimulator& connect(FirmwarePersonality firmware, WifiBoardOptions options = {}) {
        auto& board = simulator->addWifiBoard(device::kWifiServerPort, std::move(firmware), options);
        EXPECT_TRUE(
            board.waitUntil([](const WifiBoardSnapshot& state) { return state.bursts >= 2; }, kReplyWait));
        EXPECT_TRUE(test_support::eventuallyContains([this] { return service->output(); },
                                                     "WIFI: device mode:", kReplyWait));
        return board;
    }
};

json wifiPrediction(json message) {
    return classifyPayload("classify_wifi", "CONNECTED", std::move(message));
}

TEST_F(WifiClassification, EachTextIsTreatedOnceAndAStopAnswersTheLastPrediction) {
    runsOn(*cloud, 7, "NANO_33_IOT");
    startService();
    auto& board = connect(printing({"PRED:1,0.2,0.8\nSCORE: 0.9\nPRED:0,0.6,0.4\n"}, 150ms));
    auto client = browser();
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    const json last = {{"class", "0"}, {"score", 0.9}, {"0", "0.6"}, {"1", "0.4"}};
    EXPECT_EQ(nextFeature(client),
              wifiPrediction({{"class", "1"}, {"score", 0}, {"0", "0.2"}, {"1", "0.8"}}));
    EXPECT_EQ(nextFeature(client), wifiPrediction(last));
    ASSERT_TRUE(client.sendText(kStop));
    std::size_t predictions = 2;
    json reply = nextFeature(client);
    for (; reply.value("command", "") == "classify_wifi"; reply = nextFeature(client)) {
        ++predictions;  // later texts carry the score before them
    }
    EXPECT_EQ(reply, prediction(last));
    // Two predictions per text taken, never more than the board sent after its first.
    EXPECT_LE(predictions, 2 * (board.snapshot().bursts - 1));
    EXPECT_EQ(predictions % 2, 0U);
}

TEST_F(WifiClassification, StartIsRefusedOutsideClassificationAndFailsWithoutABoard) {
    startService();
    auto client = browser();
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client), classifyError("Wifi connection not available"));

    connect(findScenario("data-collection-wifi")->wifiBoards[0].firmware);
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client),
              classifyPayload("classify_wifi", "ERROR",
                              "Classification library not detected, please flash model again."));
    EXPECT_TRUE(cloud->requests().empty());
}

TEST_F(WifiClassification, BoardThatDisconnectsEndsTheRunAndAnOverlongTextIsHarmless) {
    runsOn(*cloud, 7, "NANO_33_IOT");
    startService();
    // A 200 KB text without a line end, a prediction, then half a prediction and the board goes away.
    FirmwarePersonality firmware =
        printing({"PRED:1,0.2,0.8\n", std::string(200 * 1024, 'A'), "PRED:0,0.6,0.4\n"}, 300ms);
    firmware.fault = BoardFault::unplugMidPacket;
    // The board keeps its half prediction until the run has begun, however long the start takes.
    auto& board = connect(firmware, WifiBoardOptions{.reconnect = false, .holdAfterBursts = 3});
    ASSERT_TRUE(
        board.waitUntil([](const WifiBoardSnapshot& state) { return state.bursts == 3; }, kReplyWait));
    auto client = browser();
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client),
              wifiPrediction({{"class", "0"}, {"score", 0}, {"0", "0.6"}, {"1", "0.4"}}));
    board.release();
    EXPECT_EQ(nextFeature(client), classifyError("Classification ended with error noDataError"));
}

}  // namespace
}  // namespace brisel::test
