// The contamination threshold, end to end: the real service takes the board from a running serial
// classification and writes the model's threshold from the fake cloud to a simulated board.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classification_e2e.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using common::DeviceKind;
using nlohmann::json;

json thresholdReply(const std::string& status) {
    return {{"command", "contamination_threshold"}, {"status", status}};
}

TEST_F(WorkflowEndToEnd, ThresholdRequestEndsARunningClassificationThenWritesTheThreshold) {
    cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_BLE")));
    cloud->reply("GET", "/api/model/3/contamination_threshold",
                 ScriptedReply::json(200, R"({"contamination_threshold": 0.7})"));
    const BoardId board = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                                                printing({"PRED: 1, 0.5\r\n"}, 200ms));
    // The hand-over wait (0.5 s here) is longer than any read of the classification.
    startService(0.5);
    auto client = browser();
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    const json last = {{"class", "1"}, {"score", 0}, {"startTimer", false}, {"0", "0.5"}};
    ASSERT_EQ(nextFeature(client), prediction(last));

    ASSERT_TRUE(client.sendText(thresholdRequest(7, 3)));
    // The run's last reply (after any prediction still on its way), then the threshold's.
    json reply = nextFeature(client);
    int predictions = 0;
    for (; reply == prediction(last); reply = nextFeature(client)) {
        ++predictions;
    }
    EXPECT_GE(predictions, 1);
    EXPECT_EQ(reply, thresholdReply("DONE"));
    ASSERT_TRUE(simulator->usb().waitUntil(
        [&](const std::vector<UsbBoardSnapshot>& all) { return all[board].speeds.size() == 2; }, kReplyWait));
    const auto seen = simulator->usb().board(board);
    EXPECT_EQ(seen->thresholds, std::vector<std::string>{"0.7"});
    EXPECT_EQ(seen->speeds, (std::vector<std::uint32_t>{115200, 115200}));
}

TEST_F(WorkflowEndToEnd, ThresholdRequestAnswersEachOutcomeOnce) {
    struct Row {
        std::string name;
        int runId;
        int modelId;
        std::string status;
    };
    const std::vector<Row> rows = {
        {"no threshold stored: nothing written", 41, 4, "DONE"},
        {"no board of the kind", 42, 4, "FAILED"},
        {"board kind not obtained", 43, 4, "ERROR"},
        {"threshold not obtained", 41, 5, "FAILED"},
    };
    cloud->reply("GET", "/api/run/41/device_kind",
                 ScriptedReply::json(200, deviceKindBody("HALDEN_FLAMENCO")));
    cloud->reply("GET", "/api/run/42/device_kind",
                 ScriptedReply::json(200, deviceKindBody("NICLA_SENSE_ME")));
    cloud->reply("GET", "/api/run/43/device_kind", ScriptedReply::json(404, R"({"detail": "no run"})"));
    cloud->reply("GET", "/api/model/4/contamination_threshold",
                 ScriptedReply::json(200, R"({"contamination_threshold": null})"));
    cloud->reply("GET", "/api/model/5/contamination_threshold",
                 ScriptedReply::json(500, R"({"detail": "x"})"));
    FirmwarePersonality silent = printing({});
    silent.fault = BoardFault::silence;
    const BoardId board =
        simulator->usb().plug(DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application, silent);
    startService();
    auto client = browser();
    // The threshold request uses the cloud that an earlier request set.
    cloud->reply("GET", "/api/run/40/device_kind",
                 ScriptedReply::json(200, deviceKindBody("NICLA_SENSE_ME")));
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 40)));
    ASSERT_EQ(nextFeature(client), classifyError("Device NICLA_SENSE_ME not connected"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(client.sendText(thresholdRequest(row.runId, row.modelId)));
        EXPECT_EQ(nextFeature(client), thresholdReply(row.status));
    }
    const auto seen = simulator->usb().board(board);
    EXPECT_TRUE(seen->thresholds.empty());
    // A HALDEN_FLAMENCO board is opened at 115200 baud for the threshold (twice: the stored and the
    // failing threshold).
    ASSERT_TRUE(simulator->usb().waitUntil(
        [&](const std::vector<UsbBoardSnapshot>& all) { return all[board].speeds.size() == 2; }, kReplyWait));
    EXPECT_EQ(simulator->usb().board(board)->speeds, (std::vector<std::uint32_t>{115200, 115200}));
}

}  // namespace
}  // namespace brisel::test
