#include "support/board_simulator.h"

#include <fstream>

#include "support/simulated_flash_tools.h"

namespace brisel::test {

tl::expected<std::unique_ptr<BoardSimulator>, std::string> BoardSimulator::create(
    const std::filesystem::path& controlFolder, UsbBoardSimulatorOptions options) {
    auto usb = UsbBoardSimulator::create(options);
    if (!usb) {
        return tl::unexpected(usb.error());
    }
    std::unique_ptr<BoardSimulator> simulator(new BoardSimulator());
    simulator->usbBoards = std::move(*usb);
    UsbBoardSimulator& boards = *simulator->usbBoards;
    auto server =
        FlashToolServer::start(controlFolder / "tools.sock",
                               [&boards](const std::string& tool, const std::vector<std::string>& arguments) {
                                   return runSimulatedTool(boards, tool, arguments);
                               });
    if (!server) {
        return tl::unexpected(server.error());
    }
    simulator->toolServer = std::move(*server);
    return simulator;
}

BoardSimulator::~BoardSimulator() {
    {
        std::lock_guard lock(wifiMutex);
        wifiBoardList.clear();
    }
    toolServer.reset();
    usbBoards.reset();
}

WifiBoardSimulator& BoardSimulator::addWifiBoard(std::uint16_t port, FirmwarePersonality firmware,
                                                 WifiBoardOptions options) {
    std::lock_guard lock(wifiMutex);
    wifiBoardList.push_back(std::make_unique<WifiBoardSimulator>(port, std::move(firmware), options));
    return *wifiBoardList.back();
}

std::vector<WifiBoardSimulator*> BoardSimulator::wifiBoards() const {
    std::lock_guard lock(wifiMutex);
    std::vector<WifiBoardSimulator*> boards;
    for (const auto& board : wifiBoardList) {
        boards.push_back(board.get());
    }
    return boards;
}

std::vector<std::pair<std::string, std::string>> BoardSimulator::environment() const {
    return {{"UMOCKDEV_DIR", usbBoards->umockdevDir()},
            {std::string(kToolSocketVariable), toolServer->socketPath().string()}};
}

nlohmann::ordered_json BoardSimulator::stateJson() const {
    nlohmann::ordered_json json = usbBoards->stateJson();
    json["toolCalls"] = toolServer->stateJson();
    nlohmann::ordered_json wifi = nlohmann::ordered_json::array();
    for (const auto* board : wifiBoards()) {
        wifi.push_back(board->stateJson());
    }
    json["wifiBoards"] = std::move(wifi);
    return json;
}

bool BoardSimulator::writeState(const std::filesystem::path& path) const {
    const std::filesystem::path temporary = path.string() + ".partial";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << stateJson().dump(2) << "\n";
        if (!out.flush()) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

}  // namespace brisel::test
