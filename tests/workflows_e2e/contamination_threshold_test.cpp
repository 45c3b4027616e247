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

std::string thresholdRequest(int runId, int modelId) {
    return R"({"contaminationThresholdRequest": true, "host": "localhost", "auth_token": "t", "port": "1", )"
           R"("run_id": )" +
           std::to_string(runId) + R"(, "model_id": )" + std::to_string(modelId) + "}";
}

json thresholdReply(const std::string& status) {
    return {{"command", "contamination_threshold"}, {"status", status}};
}

TEST_F(WorkflowEndToEnd, ThresholdRequestEndsARunningClassificationThenWritesTheThreshold) {
    runsOn(*cloud, 7, "NANO_33_BLE");
    cloud->reply("GET", "/api/model/3/contamination_threshold",
                 ScriptedReply::json(200, R"({"contamination_threshold": 0.7})"));
    const BoardId board = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                                                printing({"PRED: 1, 0.5\r\n"}, 200ms));
    startService(0.5);  // a hand-over of 0.5 s, longer than any read of the classification
    auto client = browser();
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    const json last = prediction({{"class", "1"}, {"score", 0}, {"startTimer", false}, {"0", "0.5"}});
    ASSERT_EQ(nextFeature(client), last);

    ASSERT_TRUE(client.sendText(thresholdRequest(7, 3)));
    json reply = nextFeature(client);
    int predictions = 0;
    for (; reply == last; reply = nextFeature(client)) {
        ++predictions;  // the run's last reply, after any prediction still on its way
    }
    EXPECT_GE(predictions, 1);
    EXPECT_EQ(reply, thresholdReply("DONE"));
    // The board notes a session when it sees the port open; a short session on a busy machine may
    // pass unnoticed, so only the speeds it did note are checked.
    ASSERT_TRUE(simulator->usb().waitUntil([&](const auto& all) { return !all[board].thresholds.empty(); },
                                           kReplyWait));
    const auto noted = simulator->usb().board(board);
    ASSERT_TRUE(noted);
    EXPECT_EQ(noted->thresholds, std::vector<std::string>{"0.7"});
    for (const auto speed : noted->speeds) {
        EXPECT_EQ(speed, 115200U) << simulator->usb().stateJson().dump();
    }
}

TEST_F(WorkflowEndToEnd, ThresholdRequestAnswersEachOutcomeOnce) {
    runsOn(*cloud, 40, "NICLA_SENSE_ME");
    runsOn(*cloud, 41, "HALDEN_FLAMENCO");
    runsOn(*cloud, 42, "NICLA_SENSE_ME");
    cloud->reply("GET", "/api/run/43/device_kind", ScriptedReply::json(404, R"({"detail": "no run"})"));
    cloud->reply("GET", "/api/model/4/contamination_threshold",
                 ScriptedReply::json(200, R"({"contamination_threshold": null})"));
    cloud->reply("GET", "/api/model/5/contamination_threshold",
                 ScriptedReply::json(500, R"({"detail": "x"})"));
    const BoardId board =
        simulator->usb().plug(DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application, printing({}));
    startService();
    auto client = browser();
    // The threshold request uses the cloud that an earlier request set.
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 40)));
    ASSERT_EQ(nextFeature(client), classifyError("Device NICLA_SENSE_ME not connected"));
    const std::vector<std::tuple<std::string, int, int, std::string>> rows = {
        {"no threshold stored: nothing written", 41, 4, "DONE"},
        {"no board of the kind", 42, 4, "FAILED"},
        {"board kind not obtained", 43, 4, "ERROR"},
        {"threshold not obtained", 41, 5, "FAILED"},
    };
    for (const auto& [name, runId, modelId, status] : rows) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(client.sendText(thresholdRequest(runId, modelId)));
        EXPECT_EQ(nextFeature(client), thresholdReply(status));
    }
    // The HALDEN_FLAMENCO board was opened at 115200 baud (at most twice; a short session on a busy
    // machine may pass unnoticed by the board) and received nothing.
    const auto noted = simulator->usb().board(board);
    ASSERT_TRUE(noted);
    EXPECT_LE(noted->speeds.size(), 2U);
    for (const auto speed : noted->speeds) {
        EXPECT_EQ(speed, 115200U);
    }
    EXPECT_TRUE(noted->thresholds.empty());
}

}  // namespace
}  // namespace brisel::test
