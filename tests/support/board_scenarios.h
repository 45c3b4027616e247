// Ready-made board set-ups, one or more per workflow family (data collection over USB, WiFi and the
// Bluetooth relay; live classification over serial and WiFi; latency; flashing with each tool;
// contamination threshold), for the workflow tests and for tools/board_simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/board_simulator.h"

namespace brisel::test {

struct UsbBoardPlan {
    common::DeviceKind kind;
    UsbBoardMode mode = UsbBoardMode::application;
    FirmwarePersonality firmware;
};

struct WifiBoardPlan {
    FirmwarePersonality firmware;
    WifiBoardOptions options;
};

struct BoardScenario {
    std::string name;      // "data-collection-usb", ...
    std::string workflow;  // what it is for, one line
    std::vector<UsbBoardPlan> usbBoards;
    std::vector<WifiBoardPlan> wifiBoards;
    // The firmware of the library image the fake cloud serves for a flash or latency request.
    std::optional<FirmwarePersonality> libraryFirmware;
    // Packets the browser relays from a Bluetooth board (saveDataCollectionBluetooth).
    std::size_t bluetoothPackets = 0;
};

// Every scenario, names unique.
const std::vector<BoardScenario>& boardScenarios();
// None for an unknown name.
const BoardScenario* findScenario(std::string_view name);

struct StartedScenario {
    std::vector<BoardId> usbBoards;
    std::vector<WifiBoardSimulator*> wifiBoards;
};

// Plugs the scenario's USB boards and starts its WiFi boards towards 127.0.0.1:`wifiPort`.
StartedScenario startScenario(BoardSimulator& simulator, const BoardScenario& scenario,
                              std::uint16_t wifiPort);

// The library image of the scenario (empty when it has none).
std::vector<std::uint8_t> libraryImage(const BoardScenario& scenario);

// The relayed Bluetooth bytes: the scenario's packets in notification-sized chunks of 180 bytes.
std::vector<std::vector<std::uint8_t>> bluetoothRelayChunks(const BoardScenario& scenario);

}  // namespace brisel::test
