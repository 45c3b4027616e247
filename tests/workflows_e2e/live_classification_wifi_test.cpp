// Live classification over WiFi, end to end: simulated WiFi boards send prediction texts to the real
// service's board server, which answers the browser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classification_e2e.h"
#include "device/wifi_settings.h"
#include "support/board_scenarios.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Waits until the board has begun its second burst: the first one, which tells the service its mode,
// has been received.
bool waitForModeKnown(const WifiBoardSimulator& board) {
    return board.waitUntil([](const WifiBoardSnapshot& state) { return state.bursts >= 2; }, kReplyWait);
}

json wifiPrediction(json message) {
    return classifyPayload("classify_wifi", "CONNECTED", std::move(message));
}

TEST_F(WorkflowEndToEnd, WifiPredictionsOfOneTextAreSentOnceEachAndAStopAnswersTheLastOne) {
    cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_IOT")));
    startService();
    auto& board = simulator->addWifiBoard(device::kWifiServerPort,
                                          printing({"PRED:1,0.2,0.8\nSCORE: 0.9\nPRED:0,0.6,0.4\n"}, 150ms));
    ASSERT_TRUE(waitForModeKnown(board));
    auto client = browser();
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));

    const json last = {{"class", "0"}, {"score", 0.9}, {"0", "0.6"}, {"1", "0.4"}};
    EXPECT_EQ(nextFeature(client),
              wifiPrediction({{"class", "1"}, {"score", 0}, {"0", "0.2"}, {"1", "0.8"}}));
    EXPECT_EQ(nextFeature(client), wifiPrediction(last));
    ASSERT_TRUE(client.sendText(kStop));
    // Later texts carry the score they follow; the stop answers with the last message.
    std::size_t predictions = 2;
    json reply;
    for (;;) {
        reply = nextFeature(client);
        if (reply.is_null() || reply.value("command", "") != "classify_wifi") {
            break;
        }
        ++predictions;
    }
    EXPECT_EQ(reply, prediction(last));
    // Each text received is treated once: two predictions per text at most, the first text not counted.
    EXPECT_LE(predictions, 2 * (board.snapshot().bursts - 1));
    EXPECT_EQ(predictions % 2, 0U);
}

TEST_F(WorkflowEndToEnd, WifiStartIsRefusedOutsideClassificationAndFailsWithoutABoard) {
    startService();
    auto client = browser();
    // No board at all.
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client), classifyError("Wifi connection not available"));

    // A board that records data: refused at once, without asking the cloud.
    auto& board = simulator->addWifiBoard(device::kWifiServerPort,
                                          findScenario("data-collection-wifi")->wifiBoards[0].firmware);
    ASSERT_TRUE(waitForModeKnown(board));
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client),
              classifyPayload("classify_wifi", "ERROR",
                              "Classification library not detected, please flash model again."));
    EXPECT_TRUE(cloud->requests().empty());
}

TEST_F(WorkflowEndToEnd, WifiBoardThatDisconnectsEndsTheRunAndAnOverlongTextIsHarmless) {
    cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_IOT")));
    startService();
    // Prediction texts around a 200 KB line without a line end; after three bursts the board goes away.
    FirmwarePersonality firmware =
        printing({"PRED:1,0.2,0.8\n", std::string(200 * 1024, 'A'), "PRED:0,0.6,0.4\n"}, 300ms);
    firmware.fault = BoardFault::unplugMidPacket;
    WifiBoardOptions options;
    options.reconnect = false;
    auto& board = simulator->addWifiBoard(device::kWifiServerPort, firmware, options);
    ASSERT_TRUE(waitForModeKnown(board));
    auto client = browser();
    ASSERT_TRUE(client.sendText(wifiStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client),
              wifiPrediction({{"class", "0"}, {"score", 0}, {"0", "0.6"}, {"1", "0.4"}}));
    EXPECT_EQ(nextFeature(client), classifyError("Classification ended with error noDataError"));
}

}  // namespace
}  // namespace brisel::test
