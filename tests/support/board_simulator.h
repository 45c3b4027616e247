// The control interface of the board simulator: simulated USB boards, the fake flashing tools' socket
// and simulated WiFi boards together, with their whole state as JSON. In-process tests use it directly;
// tools/board_simulator runs it for end-to-end runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <tl/expected.hpp>

#include "support/flash_tool_server.h"
#include "support/usb_board_simulator.h"
#include "support/wifi_board_simulator.h"

namespace brisel::test {

class BoardSimulator {
  public:
    // The tools' socket is "<controlFolder>/tools.sock". Errors: those of UsbBoardSimulator::create and
    // FlashToolServer::start.
    static tl::expected<std::unique_ptr<BoardSimulator>, std::string> create(
        const std::filesystem::path& controlFolder, UsbBoardSimulatorOptions options = {});
    // Stops the WiFi boards, the tools' socket, then the USB boards.
    ~BoardSimulator();
    BoardSimulator(const BoardSimulator&) = delete;
    BoardSimulator& operator=(const BoardSimulator&) = delete;

    UsbBoardSimulator& usb() { return *usbBoards; }
    FlashToolServer& tools() { return *toolServer; }

    // Starts a WiFi board that connects to 127.0.0.1:`port`; the returned board lives as long as the
    // simulator.
    WifiBoardSimulator& addWifiBoard(std::uint16_t port, FirmwarePersonality firmware,
                                     WifiBoardOptions options = {});
    std::vector<WifiBoardSimulator*> wifiBoards() const;

    // What a service (or a tool run) needs in its environment to reach the simulated boards:
    // UMOCKDEV_DIR and BRISEL_SIM_TOOL_SOCKET, as (name, value) pairs.
    std::vector<std::pair<std::string, std::string>> environment() const;

    // {"usbBoards": [...], "toolCalls": [...], "wifiBoards": [...]}
    nlohmann::ordered_json stateJson() const;
    // Writes stateJson() to `path` whole (a temporary file renamed into place). False on failure.
    bool writeState(const std::filesystem::path& path) const;

  private:
    BoardSimulator() = default;

    std::unique_ptr<UsbBoardSimulator> usbBoards;
    std::unique_ptr<FlashToolServer> toolServer;
    mutable std::mutex wifiMutex;
    std::vector<std::unique_ptr<WifiBoardSimulator>> wifiBoardList;  // guarded by wifiMutex; never shrinks
};

}  // namespace brisel::test
