// The dependency and device checks end to end: the real service answers from the fake tools under
// /usr/local and the simulated USB and WiFi boards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;

std::string stringReply(const std::string& command, const std::string& data) {
    return R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":")" + command +
           R"(","status":"DONE","data":)" + data + "}}";
}

std::string deviceCheck(common::DeviceKind kind) {
    return R"({"checkDeviceConnection": true, "command": "check", "deviceKind": ")" +
           std::string(common::rawValue(kind)) + "\"}";
}

TEST_F(WorkflowEndToEnd, TheDeviceCheckReportsUsbBootloaderAndWifiBoards) {
    startService();
    auto client = browser();
    struct Row {
        const char* label;
        std::function<void()> arrange;
        common::DeviceKind kind;
        std::string data;
    };
    const std::vector<Row> rows{
        {"nothing attached", [] {}, common::DeviceKind::NANO_33_IOT, R"({"usb":"false","wifi":"false"})"},
        {"bootloader only",
         [this] { simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::bootloader); },
         common::DeviceKind::NANO_33_BLE, R"({"usb":"false","usb_bootloader":"true","wifi":"false"})"},
        {"both modes",
         [this] {
             simulator->usb().plug(common::DeviceKind::NANO_33_IOT, UsbBoardMode::bootloader);
             simulator->usb().plug(common::DeviceKind::NANO_33_IOT, UsbBoardMode::application);
         },
         common::DeviceKind::NANO_33_IOT, R"({"usb":"true","wifi":"false"})"},
        {"a kind without bootloader ids", [] {}, common::DeviceKind::HALDEN_I3MICRO,
         R"({"usb":"false","wifi":"false"})"},
        {"a WiFi board, whatever the kind",
         [&] {
             auto& board = simulator->addWifiBoard(6012, FirmwarePersonality{});
             ASSERT_TRUE(
                 board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, 20s));
             // The service tells the browser once it holds the connection.
             ASSERT_TRUE(test_support::receiveContaining(client, R"("data":{"wifi":"true"})", 20s));
         },
         common::DeviceKind::QORVO_SAMD51, R"({"usb":"false","wifi":"true"})"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        row.arrange();
        ASSERT_TRUE(client.sendText(deviceCheck(row.kind)));
        const auto reply = test_support::receiveContaining(client, R"("usb":)", 20s);
        ASSERT_TRUE(reply) << service->log();
        EXPECT_EQ(*reply, stringReply("check_device_connection", row.data));
    }
}

TEST_F(WorkflowEndToEnd, AFlamencoDeviceCheckWaitsOffTheWebsocketThread) {
    simulator->usb().plug(common::DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application);
    // The port's settle wait lasts 4 s; the handshake on another connection is answered meanwhile.
    startService(1.0);
    auto checking = browser();
    auto other = browser();
    ASSERT_TRUE(checking.sendText(deviceCheck(common::DeviceKind::HALDEN_FLAMENCO)));
    ASSERT_TRUE(other.sendText(R"({"buildNumber": 0})"));
    ASSERT_TRUE(test_support::receiveContaining(other, "handshake", 20s));
    EXPECT_FALSE(checking.receive(0ms)) << "the check must still be waiting for the port to settle";
    const auto reply = test_support::receiveContaining(checking, R"("usb":)", 20s);
    ASSERT_TRUE(reply) << service->log();
    EXPECT_EQ(*reply, stringReply("check_device_connection", R"({"usb":"true","wifi":"false"})"));
}

}  // namespace
}  // namespace brisel::test
