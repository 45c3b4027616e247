#include "support/board_scenarios.h"

#include <algorithm>

namespace brisel::test {

namespace {

using common::DeviceKind;
using namespace std::chrono_literals;

constexpr std::size_t kRelayChunk = 180;

FirmwarePersonality dataCollection(std::vector<std::uint32_t> sensorIds = {1, 2}) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::dataCollection;
    firmware.sensorIds = std::move(sensorIds);
    return firmware;
}

FirmwarePersonality classification(bool splitLines = false) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::classification;
    firmware.score = "0.9";
    firmware.splitLines = splitLines;
    return firmware;
}

FirmwarePersonality latency() {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::latency;
    firmware.latencies = {12, 10, 11};
    return firmware;
}

BoardScenario flashScenario(std::string name, DeviceKind kind, std::string tool) {
    return BoardScenario{std::move(name),
                         "flashRequest: " + tool + " writes the library onto a " +
                             std::string(common::rawValue(kind)) + " board",
                         {UsbBoardPlan{kind, UsbBoardMode::application, dataCollection()}},
                         {},
                         classification(),
                         0};
}

std::vector<BoardScenario> makeScenarios() {
    std::vector<BoardScenario> scenarios;
    scenarios.push_back({"data-collection-usb",
                         "startDataCollection over USB: a board streams accelerometer and gyroscope packets",
                         {UsbBoardPlan{DeviceKind::NANO_33_BLE, UsbBoardMode::application, dataCollection()}},
                         {},
                         std::nullopt,
                         0});
    scenarios.push_back({"data-collection-wifi",
                         "startDataCollection over WiFi: a WiFi board streams packets to the board port",
                         {},
                         {WifiBoardPlan{dataCollection({1, 5}), {}}},
                         std::nullopt,
                         0});
    scenarios.push_back({"data-collection-bluetooth",
                         "saveDataCollectionBluetooth: the browser relays the packets of a Bluetooth board",
                         {},
                         {},
                         std::nullopt,
                         40});
    scenarios.push_back({"classification-usb",
                         "liveClassificationStartRequest over serial: score and prediction lines",
                         {UsbBoardPlan{DeviceKind::NANO_33_BLE, UsbBoardMode::application, classification()}},
                         {},
                         std::nullopt,
                         0});
    scenarios.push_back(
        {"classification-usb-split-lines",
         "live classification over serial with every line split across two writes",
         {UsbBoardPlan{DeviceKind::NANO_33_BLE, UsbBoardMode::application, classification(true)}},
         {},
         std::nullopt,
         0});
    scenarios.push_back({"classification-wifi",
                         "liveClassificationWifiStartRequest: a WiFi board sends prediction lines",
                         {},
                         {WifiBoardPlan{classification(), {}}},
                         std::nullopt,
                         0});
    scenarios.push_back(
        {"latency",
         "measure_latency: the library is flashed with bossac and the board prints latency lines",
         {UsbBoardPlan{DeviceKind::NANO_33_BLE, UsbBoardMode::application, dataCollection()}},
         {},
         latency(),
         0});
    scenarios.push_back(flashScenario("flash-bossac", DeviceKind::NANO_33_BLE, "bossac_ble.darwin"));
    scenarios.push_back(flashScenario("flash-bossac-iot", DeviceKind::NANO_33_IOT, "bossac_iot.darwin"));
    scenarios.push_back(flashScenario("flash-bossac-qorvo", DeviceKind::QORVO_SAMD51, "bossac_qorvo.darwin"));
    scenarios.push_back(flashScenario("flash-dfu-util", DeviceKind::STWINKT1, "dfu-util"));
    scenarios.push_back(flashScenario("flash-dfu-util-tile-box", DeviceKind::SENSOR_TILE_BOX, "dfu-util"));
    scenarios.push_back(flashScenario("flash-openocd", DeviceKind::NICLA_SENSE_ME, "openocd"));
    scenarios.push_back(
        flashScenario("flash-halden-i3micro", DeviceKind::HALDEN_I3MICRO, "halden_i3micro_flasher"));
    scenarios.push_back(flashScenario("flash-bossac-flamenco", DeviceKind::HALDEN_FLAMENCO, "bossac_fla"));
    scenarios.push_back(
        {"flash-wifi",
         "flashWifiRequest: a WiFi board in data collection receives a classification library",
         {},
         {WifiBoardPlan{dataCollection(), {}}},
         classification(),
         0});
    scenarios.push_back({"contamination-threshold",
                         "contaminationThresholdRequest: a classifying board records the threshold command",
                         {UsbBoardPlan{DeviceKind::NANO_33_BLE, UsbBoardMode::application, classification()}},
                         {},
                         std::nullopt,
                         0});
    return scenarios;
}

}  // namespace

const std::vector<BoardScenario>& boardScenarios() {
    static const std::vector<BoardScenario> scenarios = makeScenarios();
    return scenarios;
}

const BoardScenario* findScenario(std::string_view name) {
    const auto& scenarios = boardScenarios();
    const auto found = std::find_if(scenarios.begin(), scenarios.end(),
                                    [&](const BoardScenario& scenario) { return scenario.name == name; });
    return found == scenarios.end() ? nullptr : &*found;
}

StartedScenario startScenario(BoardSimulator& simulator, const BoardScenario& scenario,
                              std::uint16_t wifiPort) {
    StartedScenario started;
    for (const auto& plan : scenario.usbBoards) {
        started.usbBoards.push_back(simulator.usb().plug(plan.kind, plan.mode, plan.firmware));
    }
    for (const auto& plan : scenario.wifiBoards) {
        started.wifiBoards.push_back(&simulator.addWifiBoard(wifiPort, plan.firmware, plan.options));
    }
    return started;
}

std::vector<std::uint8_t> libraryImage(const BoardScenario& scenario) {
    return scenario.libraryFirmware ? makeTestImage(*scenario.libraryFirmware) : std::vector<std::uint8_t>{};
}

std::vector<std::vector<std::uint8_t>> bluetoothRelayChunks(const BoardScenario& scenario) {
    std::vector<std::uint8_t> stream;
    FirmwareOutput output(dataCollection({1}));
    for (std::size_t i = 0; i < scenario.bluetoothPackets; ++i) {
        for (const auto& write : output.nextBurst()) {
            stream.insert(stream.end(), write.bytes.begin(), write.bytes.end());
        }
    }
    std::vector<std::vector<std::uint8_t>> chunks;
    for (std::size_t offset = 0; offset < stream.size(); offset += kRelayChunk) {
        const std::size_t end = std::min(stream.size(), offset + kRelayChunk);
        chunks.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                            stream.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return chunks;
}

}  // namespace brisel::test
