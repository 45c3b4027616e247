#include "support/simulated_flash_tools.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

namespace brisel::test {

namespace {

using common::DeviceKind;

constexpr int kToolFailure = 1;
constexpr int kUnknownTool = 2;
constexpr int kNoDfuDevice = 74;

bool has(const std::vector<std::string>& arguments, std::string_view flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

// The argument after `flag`.
std::optional<std::string> valueAfter(const std::vector<std::string>& arguments, std::string_view flag) {
    auto found = std::find(arguments.begin(), arguments.end(), flag);
    if (found == arguments.end() || std::next(found) == arguments.end()) {
        return std::nullopt;
    }
    return *std::next(found);
}

// The rest of the first argument that begins with `prefix`.
std::optional<std::string> valueJoined(const std::vector<std::string>& arguments, std::string_view prefix) {
    for (const auto& argument : arguments) {
        if (argument.starts_with(prefix)) {
            return argument.substr(prefix.size());
        }
    }
    return std::nullopt;
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// The ids of a "-d" filter "0xVVVV:0xPPPP,0xVVVV:0xPPPP".
std::vector<device::UsbId> filterIds(const std::string& filter) {
    std::vector<device::UsbId> ids;
    std::size_t start = 0;
    while (start <= filter.size()) {
        const auto end = std::min(filter.find(',', start), filter.size());
        const std::string pair = filter.substr(start, end - start);
        unsigned vendor = 0;
        unsigned product = 0;
        if (std::sscanf(pair.c_str(), "0x%4x:0x%4x", &vendor, &product) == 2) {
            ids.push_back(
                device::UsbId{static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product)});
        }
        start = end + 1;
    }
    return ids;
}

using BoardTest = std::function<bool(const UsbBoardSnapshot&)>;

std::optional<UsbBoardSnapshot> findBoard(UsbBoardSimulator& boards, const BoardTest& test) {
    for (const auto& board : boards.boards()) {
        if (test(board)) {
            return board;
        }
    }
    return std::nullopt;
}

bool isKind(const UsbBoardSnapshot& board, std::initializer_list<DeviceKind> kinds) {
    return std::find(kinds.begin(), kinds.end(), board.kind) != kinds.end();
}

BoardTest onPort(std::optional<std::string> port, UsbBoardMode mode,
                 std::initializer_list<DeviceKind> kinds) {
    return [port, mode, kinds = std::vector<DeviceKind>(kinds)](const UsbBoardSnapshot& board) {
        return port && board.devicePath == *port && board.mode == mode &&
               std::find(kinds.begin(), kinds.end(), board.kind) != kinds.end();
    };
}

// Writes `image` onto the board the test selects.
ToolReply flashBoard(UsbBoardSimulator& boards, const BoardTest& test,
                     const std::optional<std::string>& image, bool restart, const std::string& noBoard) {
    const auto board = findBoard(boards, test);
    if (!board) {
        return ToolReply{kToolFailure, noBoard + "\n"};
    }
    std::error_code error;
    if (!image || !std::filesystem::is_regular_file(*image, error)) {
        return ToolReply{kToolFailure, "Cannot open image file " + image.value_or("(none)") + "\n"};
    }
    boards.flashed(board->id, *image, restart);
    return ToolReply{0, "Write " + std::to_string(std::filesystem::file_size(*image, error)) +
                            " bytes to flash\nVerify successful\nDone\n"};
}

ToolReply runDfuUtil(UsbBoardSimulator& boards, const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0] == "--list") {
        return ToolReply{0, dfuListing(boards.boards())};
    }
    const auto filter = valueAfter(arguments, "-d");
    const std::vector<device::UsbId> wanted = filter ? filterIds(*filter) : std::vector<device::UsbId>{};
    const BoardTest inDfu = [wanted](const UsbBoardSnapshot& board) {
        return board.mode == UsbBoardMode::dfu && board.ids &&
               std::find(wanted.begin(), wanted.end(), *board.ids) != wanted.end();
    };
    const std::string noDevice = "dfu-util: No DFU capable USB device available";
    if (has(arguments, "-e")) {
        return findBoard(boards, inDfu) ? ToolReply{0, "Found DFU device\n"}
                                        : ToolReply{kNoDfuDevice, noDevice + "\n"};
    }
    if (const auto image = valueAfter(arguments, "-D")) {
        const bool leave = valueAfter(arguments, "-s").value_or("").ends_with(":leave");
        ToolReply reply = flashBoard(boards, inDfu, image, leave, noDevice);
        if (reply.exitStatus == kToolFailure && !findBoard(boards, inDfu)) {
            reply.exitStatus = kNoDfuDevice;
        }
        return reply;
    }
    return ToolReply{kUnknownTool, "dfu-util: nothing to do\n"};
}

// The image of an openocd "program <image> verify reset exit ..." command, read as Tcl reads the
// word: a braced word up to its closing brace, a bare word up to the first blank.
std::optional<std::string> openOcdImage(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments) {
        if (!argument.starts_with("program ")) {
            continue;
        }
        const std::string word = argument.substr(8);
        if (word.starts_with("{")) {
            const auto close = word.find('}');
            return close == std::string::npos ? std::nullopt : std::optional(word.substr(1, close - 1));
        }
        return word.substr(0, word.find(' '));
    }
    return std::nullopt;
}

}  // namespace

std::string dfuListing(const std::vector<UsbBoardSnapshot>& boards) {
    std::string listing;
    for (const auto& board : boards) {
        if (board.mode != UsbBoardMode::dfu || !board.ids) {
            continue;
        }
        listing += "Found DFU: [" + hex4(board.ids->vendor) + ":" + hex4(board.ids->product) +
                   "] ver=0200, devnum=" + std::to_string(board.id + 1) + ", cfg=1, intf=0, path=\"1-" +
                   std::to_string(board.id + 1) + "\", alt=0, name=\"@Internal Flash\", serial=\"SIM" +
                   std::to_string(board.id) + "\"\n";
    }
    return listing;
}

ToolReply runSimulatedTool(UsbBoardSimulator& boards, const std::string& tool,
                           const std::vector<std::string>& arguments) {
    const std::optional<std::string> last =
        arguments.empty() ? std::nullopt : std::optional<std::string>(arguments.back());
    if (tool == "bossac_ble.darwin") {
        const auto port = valueAfter(arguments, "--port");
        return flashBoard(
            boards,
            onPort(port, UsbBoardMode::bootloader, {DeviceKind::NANO_33_BLE, DeviceKind::NANO_33_BLE_REV2}),
            last, has(arguments, "--reset"), "No device found on " + port.value_or("(no port)"));
    }
    if (tool == "bossac_iot.darwin") {
        const BoardTest iot = [&](const UsbBoardSnapshot& board) {
            return has(arguments, "--force_usb_port=true") && board.mode == UsbBoardMode::bootloader &&
                   isKind(board, {DeviceKind::NANO_33_IOT});
        };
        return flashBoard(boards, iot, last, has(arguments, "--reset"), "No device found on USB");
    }
    if (tool == "bossac_qorvo.darwin") {
        const auto port = valueAfter(arguments, "--port");
        return flashBoard(boards, onPort(port, UsbBoardMode::bootloader, {DeviceKind::QORVO_SAMD51}),
                          valueAfter(arguments, "-v"), has(arguments, "-R"),
                          "No device found on " + port.value_or("(no port)"));
    }
    if (tool == "bossac_fla") {
        const auto port = valueJoined(arguments, "--port=");
        return flashBoard(boards,
                          onPort(port, UsbBoardMode::application,
                                 {DeviceKind::HALDEN_FLAMENCO, DeviceKind::HALDEN_FLAMENCO_ALT}),
                          last, true, "No device found on " + port.value_or("(no port)"));
    }
    if (tool == "halden_i3micro_flasher") {
        const auto port = valueAfter(arguments, "-p");
        return flashBoard(boards, onPort(port, UsbBoardMode::application, {DeviceKind::HALDEN_I3MICRO}),
                          valueAfter(arguments, "-f"), true,
                          "Cannot open port " + port.value_or("(no port)"));
    }
    if (tool == "openocd") {
        const BoardTest probe = [](const UsbBoardSnapshot& board) {
            return board.mode != UsbBoardMode::unplugged && isKind(board, {DeviceKind::NICLA_SENSE_ME});
        };
        return flashBoard(boards, probe, openOcdImage(arguments), true,
                          "Error: unable to find a matching CMSIS-DAP device");
    }
    if (tool == "dfu-util") {
        return runDfuUtil(boards, arguments);
    }
    return ToolReply{kUnknownTool, "fake flash tool: unknown tool name " + tool + "\n"};
}

}  // namespace brisel::test
