// How each flashing tool of the flasher table behaves against the simulated USB boards: it checks the
// port or device it is given, reports the image it wrote to the board (which then runs it), and answers
// with the text and status a tool would. Installed as the FlashToolServer's handler.
#pragma once

#include <string>
#include <vector>

#include "support/flash_tool_server.h"
#include "support/usb_board_simulator.h"

namespace brisel::test {

// The tool names the fake tool answers to, as installed under /usr/local/opt/velko/ (openocd also
// under /usr/local/bin/).
inline constexpr std::array<std::string_view, 7> kFlashToolNames{
    "bossac_ble.darwin",      "bossac_fla", "bossac_iot.darwin", "bossac_qorvo.darwin", "dfu-util",
    "halden_i3micro_flasher", "openocd"};

// One run of `tool` with `arguments` against the boards of `boards`. Unknown tools exit with status 2.
ToolReply runSimulatedTool(UsbBoardSimulator& boards, const std::string& tool,
                           const std::vector<std::string>& arguments);

// The text "dfu-util --list" prints for the boards in DFU mode ("Found DFU: [0483:df11] ..." lines).
std::string dfuListing(const std::vector<UsbBoardSnapshot>& boards);

}  // namespace brisel::test
