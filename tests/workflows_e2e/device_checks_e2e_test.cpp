// The dependency and device checks end to end: the real service answers from the fake tools under
// /usr/local and the simulated USB and WiFi boards.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/eventually.h"
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

// The dependency check's map: every kind "OK" but those in `missing`, which name their flasher.
std::string dependencies(const std::map<std::string, std::string>& missing) {
    nlohmann::json data = nlohmann::json::object();
    for (const auto kind : common::allCases<common::DeviceKind>()) {
        const std::string name(common::rawValue(kind));
        data[name] = missing.contains(name) ? missing.at(name) + " not found" : "OK";
    }
    return data.dump();
}

TEST_F(WorkflowEndToEnd, TheDependencyCheckTestsTheFileOfEachFlasherTool) {
    startService();
    auto client = browser();
    const std::filesystem::path velko = "/usr/local/opt/velko";
    struct Row {
        const char* label;
        std::function<void()> arrange;
        std::map<std::string, std::string> missing;
    };
    const std::vector<Row> rows{
        {"every tool", [] {}, {}},
        // A tool that cannot run counts as missing: its flash would refuse it as not installed.
        {"no bossac, no openocd anywhere, a dfu-util that cannot run",
         [&] {
             std::filesystem::remove(velko / "bossac_ble.darwin");
             std::filesystem::remove("/usr/local/bin/openocd");
             // A plain file in place of the link to the fake tool, readable only.
             std::filesystem::remove(velko / "dfu-util");
             std::ofstream(velko / "dfu-util") << "#!/bin/sh\n";
             std::filesystem::permissions(velko / "dfu-util", std::filesystem::perms::owner_read);
         },
         {{"NANO_33_BLE", "Bossac"},
          {"NANO_33_BLE_REV2", "Bossac"},
          {"NICLA_SENSE_ME", "OpenOcd"},
          {"SENSOR_TILE_BOX", "DfuUtil"},
          {"STWINKT1", "DfuUtil"},
          {"STWINKT1_WIFI", "DfuUtil"},
          {"PNG_STM32L4", "DfuUtil"},
          {"PNG_STM32WB5MMG", "DfuUtil"}}},
        {"openocd in its second place",
         [] {
             // This test's own mount namespace: /opt becomes an empty folder of its own.
             ASSERT_EQ(::mount("tmpfs", "/opt", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
             std::filesystem::create_directories("/opt/homebrew/bin");
             std::ofstream("/opt/homebrew/bin/openocd") << "#!/bin/sh\n";
             std::filesystem::permissions("/opt/homebrew/bin/openocd", std::filesystem::perms::owner_all);
         },
         {{"NANO_33_BLE", "Bossac"},
          {"NANO_33_BLE_REV2", "Bossac"},
          {"SENSOR_TILE_BOX", "DfuUtil"},
          {"STWINKT1", "DfuUtil"},
          {"STWINKT1_WIFI", "DfuUtil"},
          {"PNG_STM32L4", "DfuUtil"},
          {"PNG_STM32WB5MMG", "DfuUtil"}}},
        {"no tool at all",
         [&] {
             std::filesystem::remove_all(velko);
             std::filesystem::remove("/opt/homebrew/bin/openocd");
         },
         {{"SENSOR_TILE_BOX", "DfuUtil"},
          {"NANO_33_BLE", "Bossac"},
          {"NANO_33_BLE_REV2", "Bossac"},
          {"NANO_33_IOT", "BossacIoT"},
          {"STWINKT1", "DfuUtil"},
          {"STWINKT1_WIFI", "DfuUtil"},
          {"PNG_STM32L4", "DfuUtil"},
          {"PNG_STM32WB5MMG", "DfuUtil"},
          {"NICLA_SENSE_ME", "OpenOcd"},
          {"HALDEN_I3MICRO", "HaldenFlasher"},
          {"HALDEN_FLAMENCO", "BossacFlamenco"},
          {"HALDEN_FLAMENCO_ALT", "BossacFlamenco"},
          {"QORVO_SAMD51", "BossacQorvo"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        row.arrange();
        ASSERT_TRUE(client.sendText(R"({"checkDependencies": true, "command": "check"})"));
        const auto reply = test_support::receiveContaining(client, "check_dependencies", 20s);
        ASSERT_TRUE(reply) << service->log();
        EXPECT_EQ(*reply, stringReply("check_dependencies", dependencies(row.missing)));
    }
    // The log file takes its lines a moment after they were logged.
    EXPECT_TRUE(
        test_support::eventuallyContains([&] { return service->log(); }, "Dependency request received", 20s));
}

}  // namespace
}  // namespace brisel::test
