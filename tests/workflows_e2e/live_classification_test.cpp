// Live classification over a USB serial port, end to end: the real service reads simulated boards whose
// firmware prints prediction, score and latency lines, and answers the browser.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classification_e2e.h"
#include "device/serial/usb_discovery.h"
#include "support/board_scenarios.h"
#include "support/eventually.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using common::DeviceKind;

class SerialClassification : public WorkflowEndToEnd {
  protected:
    BoardId plug(DeviceKind kind, FirmwarePersonality firmware) {
        return simulator->usb().plug(kind, UsbBoardMode::application, std::move(firmware));
    }
    // Waits until the service has opened the board's port `opens` times and closed it `closes` times.
    bool sessions(BoardId board, std::size_t opens, std::size_t closes) {
        return simulator->usb().waitUntil(
            [&](const auto& all) { return all[board].opens >= opens && all[board].speeds.size() >= closes; },
            kReplyWait);
    }
    // Starts run `runId` on a silent board and stops it: the one reply is an empty prediction.
    void startAndStopSilent(test_support::WebSocketTestClient& client, int runId, BoardId board,
                            const std::string& threshold = "") {
        const std::size_t opened = simulator->usb().board(board)->opens;
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), runId, true, threshold)));
        ASSERT_TRUE(sessions(board, opened + 1, opened));
        ASSERT_TRUE(client.sendText(kStop));
        EXPECT_EQ(nextFeature(client), prediction(json::object()));
        ASSERT_TRUE(sessions(board, opened + 1, opened + 1));
    }
    FirmwarePersonality scenarioFirmware(const char* name) {
        return findScenario(name)->usbBoards[0].firmware;
    }
};

TEST_F(SerialClassification, PredictionsCarryTheLatestReadableScoreAndAStopAnswersTheLastOne) {
    runsOn(*cloud, 7, "NANO_33_BLE");
    const BoardId board =
        plug(DeviceKind::NANO_33_BLE, printing({"SCORE: 1,2\r\nPRED: 2, 0.1,0.7 ,0.2\r\n"
                                                "SCORE: -0.25\r\nSCORE: " +
                                                std::string(400, '9') + "\r\nPRED:1,0.5\r\n"}));
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
    // "SCORE: 1,2" and a score beyond the range of a double are unreadable; "PRED:1" has class 1.
    const json last = {{"class", "1"}, {"score", -0.25}, {"startTimer", false}, {"0", "0.5"}};
    EXPECT_EQ(nextFeature(client), prediction(last));
    ASSERT_TRUE(client.sendText(kStop));
    EXPECT_EQ(nextFeature(client), prediction(last));
    ASSERT_TRUE(sessions(board, 1, 1));
    EXPECT_EQ(simulator->usb().board(board)->speeds, std::vector<std::uint32_t>{115200});
}

TEST_F(SerialClassification, LinesCutAcrossWritesOrBehindAnOverlongLineStillGiveWholePredictions) {
    runsOn(*cloud, 7, "NANO_33_BLE");
    FirmwarePersonality overlong = scenarioFirmware("classification-usb");
    overlong.fault = BoardFault::overlongLines;  // its 300000 bytes end in the first score line
    const std::vector<std::tuple<std::string, FirmwarePersonality, double>> rows = {
        {"whole lines", scenarioFirmware("classification-usb"), 0.9},
        {"each line in two writes", scenarioFirmware("classification-usb-split-lines"), 0.9},
        {"a 300000-byte line first", overlong, 0},
    };
    startService();
    for (const auto& [name, firmware, firstScore] : rows) {
        SCOPED_TRACE(name);
        const BoardId board = plug(DeviceKind::NANO_33_BLE, firmware);
        auto client = browser();
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
        EXPECT_EQ(
            nextFeature(client),
            prediction(
                {{"class", "1"}, {"score", firstScore}, {"startTimer", false}, {"0", "0.2"}, {"1", "0.8"}}));
        EXPECT_EQ(
            nextFeature(client),
            prediction({{"class", "0"}, {"score", 0.9}, {"startTimer", false}, {"0", "0.6"}, {"1", "0.4"}}));
        client.close();  // ends the run and frees the port
        ASSERT_TRUE(sessions(board, 1, 1));
        simulator->usb().unplug(board);
    }
}

TEST_F(SerialClassification, RunEndsOnAStopOnASilentBoardWhenItsBrowserLeavesAndOnUnplug) {
    runsOn(*cloud, 7, "NANO_33_BLE");
    runsOn(*cloud, 12, "NICLA_SENSE_ME");
    const BoardId quiet = plug(DeviceKind::NANO_33_BLE, printing({}));
    startService();
    auto client = browser();
    startAndStopSilent(client, 7, quiet);
    simulator->usb().unplug(quiet);

    const BoardId board = plug(DeviceKind::NANO_33_BLE, scenarioFirmware("classification-usb"));
    {
        auto leaving = browser();
        ASSERT_TRUE(leaving.sendText(serialStart(cloudFields(), 7)));
        ASSERT_TRUE(test_support::receiveContaining(leaving, "CONNECTED", kReplyWait));
    }
    ASSERT_TRUE(sessions(board, 1, 1));
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    ASSERT_TRUE(test_support::receiveContaining(client, "CONNECTED", kReplyWait));

    // A connection whose own run has ended goes away: this connection's run goes on.
    {
        auto other = browser();
        ASSERT_TRUE(other.sendText(serialStart(cloudFields(), 12)));
        ASSERT_EQ(nextFeature(other), classifyError("Device NICLA_SENSE_ME not connected"));
    }
    const auto closes = [&] {
        return test_support::occurrences(service->output(), "Connection closed");
    };
    for (int i = 0; i < 500 && closes() < 2; ++i) {
        ASSERT_EQ(nextFeature(client).value("status", "none"), "CONNECTED");
    }
    ASSERT_EQ(closes(), 2U) << "the other connections were not closed while this run went on\n"
                            << service->output();
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(nextFeature(client).value("status", "none"), "CONNECTED");
    }

    simulator->usb().unplug(board);
    json reply = nextFeature(client);
    while (reply.value("status", "none") == "CONNECTED") {
        reply = nextFeature(client);
    }
    EXPECT_EQ(reply, classifyError("Classification ended with error noDataError"));
}

TEST_F(SerialClassification, FailuresAnswerOneErrorEachAndHaldenBoardsGetTheThresholdAtTheirSpeed) {
    cloud->reply("GET", "/api/run/11/device_kind", ScriptedReply::json(500, R"({"detail": "down"})"));
    runsOn(*cloud, 12, "NICLA_SENSE_ME");
    runsOn(*cloud, 13, "NANO_33_IOT");
    plug(DeviceKind::NANO_33_IOT, printing({}));
    startService();
    // Another program holds the NANO_33_IOT port.
    auto held = device::USBManager::findPort(DeviceKind::NANO_33_IOT, device::PortMode::application,
                                             std::chrono::milliseconds(0));
    ASSERT_TRUE(held && held->open(device::BaudRate::baud115200, device::StopBits::stopBits1,
                                   device::ParityType::none, device::DataBitsSize::bits8));
    auto client = browser();
    for (const auto& [runId, text] :
         std::vector<std::pair<int, std::string>>{{11, "Failed to get device kind due to error APIError("},
                                                  {12, "Device NICLA_SENSE_ME not connected"},
                                                  {13, "Classification ended with error failedToOpen"}}) {
        ASSERT_TRUE(client.sendText(serialStart(cloudFields(), runId)));
        const json reply = nextFeature(client);
        ASSERT_EQ(reply.value("status", "none"), "ERROR") << reply;
        EXPECT_TRUE(reply["data"].value("message", "").starts_with(text)) << reply;
    }
    // No run sent more: the next reply belongs to the next run. HALDEN_FLAMENCO and HALDEN_I3MICRO
    // boards receive the threshold (0.5 when the request has none), HALDEN_FLAMENCO_ALT nothing.
    const std::vector<std::tuple<DeviceKind, std::string, std::string, std::uint32_t>> boards = {
        {DeviceKind::HALDEN_FLAMENCO, "", "0.5", 1500000},
        {DeviceKind::HALDEN_I3MICRO, "2", "2.0", 921600},
        {DeviceKind::HALDEN_FLAMENCO_ALT, "0.5", "", 1500000},
    };
    int runId = 20;
    for (const auto& [kind, threshold, received, speed] : boards) {
        SCOPED_TRACE(++runId);
        runsOn(*cloud, runId, std::string(common::rawValue(kind)));
        const BoardId board = plug(kind, printing({}));
        startAndStopSilent(client, runId, board, threshold);
        const auto seen = simulator->usb().board(board);
        EXPECT_EQ(seen->thresholds, received.empty() ? std::vector<std::string>{} : std::vector{received});
        EXPECT_EQ(seen->speeds, std::vector<std::uint32_t>{speed});
        simulator->usb().unplug(board);
    }
}

TEST_F(SerialClassification, LatencyLinesAreReportedOnceAndOnlyWhenTheModelHasNoLatency) {
    std::string lines;
    for (const int value : {12, 10, 11, 12, 10, 11, 12, 10, 11, 12, 10, 11}) {
        lines += "LATENCY: " + std::to_string(value) + "\r\n";
    }
    const BoardId board = plug(DeviceKind::NANO_33_BLE, printing({lines + "PRED: 1, 0.5\r\n"}));
    for (const int run : {31, 32}) {
        runsOn(*cloud, run, "NANO_33_BLE");
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
        const auto runs = static_cast<std::size_t>(run - 30);
        ASSERT_TRUE(sessions(board, runs, runs));
    }
    ASSERT_TRUE(cloud->waitForRequests(5, kReplyWait));  // two board kinds, the model, the run twice
    std::vector<std::string> patches;
    for (const auto& request : cloud->requests()) {
        if (request.method == "PATCH") {
            patches.push_back(request.path + " " + request.body);
        }
    }
    std::sort(patches.begin(), patches.end());
    // The mean of values 2 to 10: 99 / 9.
    EXPECT_EQ(patches, (std::vector<std::string>{
                           R"(/api/model/3 {"latency":11})",
                           R"(/api/run/32 {"latency_status":1,"latency_error":false,"status":"DONE"})",
                           R"(/api/run/32 {"latency_status":1,"latency_error":false,"status":"SUCCESS"})"}));
}

}  // namespace
}  // namespace brisel::test
