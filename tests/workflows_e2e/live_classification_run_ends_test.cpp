// How live-classification runs end, end to end: a stop followed at once by a new start ends the run
// that still waited for its board kind, serial and WiFi alike, and a silent serial board ends its run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classification_e2e.h"
#include "device/wifi/wifi_settings.h"
#include "support/eventually.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using common::DeviceKind;

TEST_F(WorkflowEndToEnd, AStopThenAStartEndTheRunThatStillWaitsForItsBoardKind) {
    startService();
    const BoardId usbBoard = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                                                   printing({"PRED: 1, 0.5\r\n"}, 50ms));
    auto& wifiBoard = simulator->addWifiBoard(device::kWifiServerPort, printing({"PRED:1,0.5\n"}, 50ms));
    ASSERT_TRUE(
        wifiBoard.waitUntil([](const WifiBoardSnapshot& state) { return state.bursts >= 2; }, kReplyWait));
    for (const bool wifi : {false, true}) {
        SCOPED_TRACE(wifi ? "WiFi" : "serial");
        const auto start = [&](int runId) {
            return wifi ? wifiStart(cloudFields(), runId) : serialStart(cloudFields(), runId);
        };
        // The first run's board kind comes late: the stop and the next start reach the service first.
        const int waiting = wifi ? 3 : 1;
        ScriptedReply late = ScriptedReply::json(200, R"({"device_kind": "NANO_33_BLE"})");
        late.delay = 1000ms;
        cloud->reply("GET", "/api/run/" + std::to_string(waiting) + "/device_kind", late);
        runsOn(*cloud, waiting + 1, "NANO_33_BLE");
        auto client = browser();
        const std::size_t requestsBefore = cloud->requests().size();
        ASSERT_TRUE(client.sendText(start(waiting)));
        ASSERT_TRUE(cloud->waitForRequests(requestsBefore + 1, kReplyWait));
        ASSERT_TRUE(client.sendMessages({kStop, start(waiting + 1)}));

        // The next run's predictions and, once its board kind has come, the waiting run's one reply.
        bool waitingRunEnded = false;
        int predictions = 0;
        while (!waitingRunEnded || predictions == 0) {
            const json reply = nextFeature(client);
            ASSERT_TRUE(reply.is_object()) << "no reply in time; predictions so far: " << predictions;
            if (reply == prediction(json::object())) {
                EXPECT_FALSE(waitingRunEnded) << "one last reply per run";
                waitingRunEnded = true;
            } else {
                ASSERT_EQ(reply.value("command", ""), wifi ? "classify_wifi" : "classify") << reply;
                ASSERT_EQ(reply.value("status", ""), "CONNECTED") << reply;
                ++predictions;
            }
        }
    }  // leaving, the browser ends the next run
    // Only the serial run that was not stopped opened the board's port.
    EXPECT_EQ(simulator->usb().board(usbBoard)->opens, 1U);
}

TEST_F(WorkflowEndToEnd, ASilentSerialBoardEndsItsRunWithNoData) {
    runsOn(*cloud, 7, "NANO_33_BLE");
    const BoardId board =
        simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, printing({}));
    startService();  // 175 reads that bring nothing in 50 ms each: about 9 s, whatever the time scale
    auto client = browser();
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client, 30s), classifyError("Classification ended with error noDataError"));
    EXPECT_TRUE(simulator->usb().waitUntil([&](const auto& all) { return all[board].speeds.size() == 1; },
                                           kReplyWait));
    // The log is written on its own queue: the line may come a little after the reply.
    EXPECT_TRUE(test_support::eventually([&] {
        return service->log().find(
                   "Received empty data from device for 175 cycles, throwing error back to "
                   "browser") != std::string::npos;
    }));
    EXPECT_EQ(service->log().find("Got no data from device"), std::string::npos)
        << "nothing arriving in time is no read failure";
}

}  // namespace
}  // namespace brisel::test
