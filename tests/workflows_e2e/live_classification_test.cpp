// Live classification over a USB serial port, end to end: the real service reads simulated boards whose
// firmware prints prediction, score and latency lines, and answers the browser.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classification_e2e.h"
#include "device/serial_port.h"
#include "device/usb_discovery.h"
#include "support/board_scenarios.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using common::DeviceKind;
using nlohmann::json;

// The lines of the board examples: an unreadable score, a prediction, a score for the next one, a score
// beyond the range of a double (unreadable), and a prediction without a blank after its marker.
const std::string kExampleLines =
    "SCORE: 1,2\r\nPRED: 2, 0.1,0.7 ,0.2\r\nSCORE: -0.25\r\nSCORE: " + std::string(400, '9') +
    "\r\nPRED:1,0.5\r\n";

// The "status" of a feature payload; "none" for no payload.
std::string statusOf(const json& feature) {
    return feature.is_object() ? feature.value("status", "") : "none";
}

// Waits until the board's port has been opened and closed `sessions` times.
bool waitForClosedSessions(UsbBoardSimulator& boards, BoardId board, std::size_t sessions) {
    return boards.waitUntil(
        [&](const std::vector<UsbBoardSnapshot>& all) { return all[board].speeds.size() >= sessions; },
        kReplyWait);
}

TEST_F(WorkflowEndToEnd, SerialPredictionsCarryTheLatestScoreAndAStopAnswersTheLastOne) {
    cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_BLE")));
    const BoardId board =
        simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, printing({kExampleLines}));
    startService();
    auto client = browser();
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));

    const auto first = client.receive(kReplyWait);
    ASSERT_TRUE(first);
    EXPECT_EQ(
        first->payload,
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"classify",)"
        R"("status":"CONNECTED","data":{"message":{"0":"0.1","1":"0.7","2":"0.2","class":"2","score":0,)"
        R"("startTimer":false}}}})");
    const json last = {{"class", "1"}, {"score", -0.25}, {"startTimer", false}, {"0", "0.5"}};
    EXPECT_EQ(nextFeature(client), prediction(last));
    ASSERT_TRUE(client.sendText(kStop));
    EXPECT_EQ(nextFeature(client), prediction(last));
    ASSERT_TRUE(waitForClosedSessions(simulator->usb(), board, 1));
    EXPECT_EQ(simulator->usb().board(board)->speeds, std::vector<std::uint32_t>{115200});
}

TEST_F(WorkflowEndToEnd, SerialLinesCutAcrossWritesOrBehindAnOverlongLineStillGiveWholePredictions) {
    cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_BLE")));
    FirmwarePersonality overlong = findScenario("classification-usb")->usbBoards[0].firmware;
    overlong.fault = BoardFault::overlongLines;
    struct Row {
        std::string name;
        FirmwarePersonality firmware;
        double firstScore;
    };
    // The overlong line ends in the first score line, which then does not read as a number.
    const std::vector<Row> rows = {
        {"whole lines", findScenario("classification-usb")->usbBoards[0].firmware, 0.9},
        {"each line in two writes", findScenario("classification-usb-split-lines")->usbBoards[0].firmware,
         0.9},
        {"a 300000-byte line first", overlong, 0},
    };
    startService();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const BoardId board =
            simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, row.firmware);
        auto client = browser();
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
        const json expected[] = {
            {{"class", "1"}, {"score", row.firstScore}, {"startTimer", false}, {"0", "0.2"}, {"1", "0.8"}},
            {{"class", "0"}, {"score", 0.9}, {"startTimer", false}, {"0", "0.6"}, {"1", "0.4"}},
        };
        for (const auto& message : expected) {
            EXPECT_EQ(nextFeature(client), prediction(message));
        }
        // Closing the browser connection ends the run and frees the port for the next row.
        client.close();
        ASSERT_TRUE(waitForClosedSessions(simulator->usb(), board, 1));
        simulator->usb().unplug(board);
    }
}

TEST_F(WorkflowEndToEnd, SerialRunEndsOnStopBeforeAnyPredictionOnUnplugAndAfterTheBrowserLeft) {
    cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_BLE")));
    cloud->reply("GET", "/api/run/12/device_kind",
                 ScriptedReply::json(200, deviceKindBody("NICLA_SENSE_ME")));
    FirmwarePersonality silent = printing({});
    silent.fault = BoardFault::silence;
    const BoardId quiet = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, silent);
    startService();

    // A board that prints nothing: the stop is still answered, with an empty message.
    auto client = browser();
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    ASSERT_TRUE(simulator->usb().waitUntil(
        [&](const std::vector<UsbBoardSnapshot>& all) { return all[quiet].opens == 1; }, kReplyWait));
    ASSERT_TRUE(client.sendText(kStop));
    EXPECT_EQ(nextFeature(client), prediction(json::object()));
    ASSERT_TRUE(waitForClosedSessions(simulator->usb(), quiet, 1));
    simulator->usb().unplug(quiet);

    // The browser goes away: the run ends and a new run can open the port.
    const BoardId board = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                                                findScenario("classification-usb")->usbBoards[0].firmware);
    {
        auto leaving = browser();
        ASSERT_TRUE(leaving.sendText(serialStart(cloudFields(), 7)));
        ASSERT_TRUE(test_support::receiveContaining(leaving, "CONNECTED", kReplyWait));
        leaving.close();
    }
    ASSERT_TRUE(waitForClosedSessions(simulator->usb(), board, 1));
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    ASSERT_TRUE(test_support::receiveContaining(client, "CONNECTED", kReplyWait));

    // A connection whose own run has ended goes away: the run of this connection goes on.
    {
        auto other = browser();
        ASSERT_TRUE(other.sendText(serialStart(cloudFields(), 12)));
        ASSERT_EQ(nextFeature(other), classifyError("Device NICLA_SENSE_ME not connected"));
        other.close();
    }
    const auto closes = [&] {
        const std::string log = service->log();
        std::size_t count = 0;
        for (auto at = log.find("Connection closed"); at != std::string::npos;
             at = log.find("Connection closed", at + 1)) {
            ++count;
        }
        return count;
    };
    for (int i = 0; i < 500 && closes() < 2; ++i) {
        ASSERT_EQ(statusOf(nextFeature(client)), "CONNECTED");
    }
    ASSERT_EQ(closes(), 2U);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(statusOf(nextFeature(client)), "CONNECTED");
    }

    // The board is unplugged in the middle of the run.
    simulator->usb().unplug(board);
    EXPECT_EQ(nextFeatureWithStatus(client, "ERROR"),
              classifyError("Classification ended with error noDataError"));
}

TEST_F(WorkflowEndToEnd, SerialRunFailuresAnswerOneErrorEach) {
    cloud->reply("GET", "/api/run/11/device_kind", ScriptedReply::json(500, R"({"detail": "down"})"));
    cloud->reply("GET", "/api/run/12/device_kind",
                 ScriptedReply::json(200, deviceKindBody("NICLA_SENSE_ME")));
    cloud->reply("GET", "/api/run/13/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_IOT")));
    cloud->reply("GET", "/api/run/14/device_kind", ScriptedReply::json(200, deviceKindBody("NANO_33_BLE")));
    simulator->usb().plug(DeviceKind::NANO_33_IOT, UsbBoardMode::application, printing({}));
    FirmwarePersonality silent = printing({});
    silent.fault = BoardFault::silence;
    const BoardId quiet = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, silent);
    startService();
    // Another program holds the NANO_33_IOT port.
    auto held = device::USBManager::findPort(DeviceKind::NANO_33_IOT, device::PortMode::application, 0ms);
    ASSERT_TRUE(held);
    ASSERT_TRUE(held->open(device::BaudRate::baud115200, device::StopBits::stopBits1,
                           device::ParityType::none, device::DataBitsSize::bits8));

    auto client = browser();
    struct Row {
        int runId;
        std::string reply;  // the whole text, or its start when it ends in "("
    };
    const std::vector<Row> rows = {
        {11, "Failed to get device kind due to error APIError("},
        {12, "Device NICLA_SENSE_ME not connected"},
        {13, "Classification ended with error failedToOpen"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.runId);
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), row.runId)));
        const json reply = nextFeature(client);
        ASSERT_EQ(statusOf(reply), "ERROR") << reply;
        const std::string text = reply["data"].value("message", "");
        if (row.reply.ends_with("(")) {
            EXPECT_TRUE(text.starts_with(row.reply)) << text;
        } else {
            EXPECT_EQ(reply, classifyError(row.reply));
        }
    }
    // Nothing else was sent: the next reply is the one of the next run.
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 14)));
    ASSERT_TRUE(simulator->usb().waitUntil(
        [&](const std::vector<UsbBoardSnapshot>& all) { return all[quiet].opens == 1; }, kReplyWait));
    ASSERT_TRUE(client.sendText(kStop));
    EXPECT_EQ(nextFeature(client), prediction(json::object()));
}

TEST_F(WorkflowEndToEnd, HaldenBoardsReceiveTheThresholdAtTheirSpeedBeforeTheyAreRead) {
    struct Row {
        int runId;
        DeviceKind kind;
        std::string threshold;  // in the request; none: the default
        std::vector<std::string> received;
        std::uint32_t speed;
    };
    const std::vector<Row> rows = {
        {21, DeviceKind::HALDEN_FLAMENCO, "", {"0.5"}, 1500000},
        {22, DeviceKind::HALDEN_I3MICRO, "2", {"2.0"}, 921600},
        {23, DeviceKind::HALDEN_FLAMENCO_ALT, "0.5", {}, 1500000},
    };
    FirmwarePersonality silent = printing({});
    silent.fault = BoardFault::silence;
    std::vector<BoardId> boards;
    for (const auto& row : rows) {
        cloud->reply("GET", "/api/run/" + std::to_string(row.runId) + "/device_kind",
                     ScriptedReply::json(200, deviceKindBody(std::string(common::rawValue(row.kind)))));
        boards.push_back(simulator->usb().plug(row.kind, UsbBoardMode::application, silent));
    }
    startService();
    auto client = browser();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].runId);
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), rows[i].runId, true, rows[i].threshold)));
        ASSERT_TRUE(simulator->usb().waitUntil(
            [&](const std::vector<UsbBoardSnapshot>& all) { return all[boards[i]].opens == 1; }, kReplyWait));
        ASSERT_TRUE(client.sendText(kStop));
        EXPECT_EQ(nextFeature(client), prediction(json::object()));
        ASSERT_TRUE(waitForClosedSessions(simulator->usb(), boards[i], 1));
        const auto seen = simulator->usb().board(boards[i]);
        EXPECT_EQ(seen->thresholds, rows[i].received);
        EXPECT_EQ(seen->speeds, std::vector<std::uint32_t>{rows[i].speed});
    }
}

TEST_F(WorkflowEndToEnd, LatencyLinesAreReportedOnceAndOnlyWhenTheModelHasNoLatency) {
    std::string lines;
    for (const int value : {12, 10, 11, 12, 10, 11, 12, 10, 11, 12, 10, 11}) {
        lines += "LATENCY: " + std::to_string(value) + "\r\n";
    }
    lines += "PRED: 1, 0.5\r\n";
    const BoardId board =
        simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, printing({lines}));
    for (const int run : {31, 32}) {
        cloud->reply("GET", "/api/run/" + std::to_string(run) + "/device_kind",
                     ScriptedReply::json(200, deviceKindBody("NANO_33_BLE")));
        cloud->reply("PATCH", "/api/run/" + std::to_string(run), ScriptedReply::json(200, "{}"));
    }
    cloud->reply("PATCH", "/api/model/3", ScriptedReply::json(200, "{}"));
    startService();
    auto client = browser();
    for (const auto& [run, latencyExists] : {std::pair{31, true}, std::pair{32, false}}) {
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), run, latencyExists)));
        ASSERT_TRUE(test_support::receiveContaining(client, "CONNECTED", kReplyWait));
        ASSERT_TRUE(client.sendText(kStop));
        ASSERT_TRUE(test_support::receiveContaining(client, "CONNECTED", kReplyWait));
        ASSERT_TRUE(waitForClosedSessions(simulator->usb(), board, run == 31 ? 1 : 2));
    }
    // The device-kind reads, the model's latency and the run's two reports.
    ASSERT_TRUE(cloud->waitForRequests(5, kReplyWait));
    std::vector<std::string> patches;
    for (const auto& request : cloud->requests()) {
        if (request.method == "PATCH") {
            patches.push_back(request.path + " " + request.body);
        }
    }
    std::sort(patches.begin(), patches.end());
    EXPECT_EQ(patches, (std::vector<std::string>{
                           R"(/api/model/3 {"latency":11})",
                           R"(/api/run/32 {"latency_status":1,"latency_error":false,"status":"DONE"})",
                           R"(/api/run/32 {"latency_status":1,"latency_error":false,"status":"SUCCESS"})",
                       }));
}

}  // namespace
}  // namespace brisel::test
