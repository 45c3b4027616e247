// The fake flashing tools: each records its exact arguments, checks the port or device it is given and
// writes the image onto the simulated board, which then runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/board_simulator.h"
#include "support/file_contents.h"
#include "support/shell_command.h"
#include "support/simulated_flash_tools.h"
#include "support/temporary_folder.h"

namespace brisel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using common::DeviceKind;
using test_support::readText;

constexpr auto kWait = 10s;

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

FirmwarePersonality latencyFirmware() {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::latency;
    return firmware;
}

class FlashToolsTest : public testing::Test {
  protected:
    void SetUp() override {
        UsbBoardSimulatorOptions options;
        options.reenumerationDelay = 50ms;
        auto created = BoardSimulator::create(folder.path(), options);
        ASSERT_TRUE(created) << created.error();
        simulator = std::move(*created);
        image = folder.path() / "library.bin";
        writeFile(image, makeTestImage(latencyFirmware()));
    }

    UsbBoardSnapshot plugAndWait(DeviceKind kind, UsbBoardMode mode) {
        const BoardId board = simulator->usb().plug(kind, mode);
        EXPECT_TRUE(simulator->usb().waitUntil([&](const auto& boards) { return boards[board].mode == mode; },
                                               kWait));
        return *simulator->usb().board(board);
    }

    bool waitForFirmware(BoardId board, FirmwareKind kind) {
        return simulator->usb().waitUntil(
            [&](const auto& boards) {
                return boards[board].mode == UsbBoardMode::application &&
                       boards[board].firmware.kind == kind && boards[board].devicePath.has_value();
            },
            kWait);
    }

    test_support::TemporaryFolder folder;
    std::unique_ptr<BoardSimulator> simulator;
    fs::path image;
};

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

TEST_F(FlashToolsTest, ToolsUnderTheBindMountedUsrLocalRecordTheirExactArguments) {
    const auto ble = plugAndWait(DeviceKind::NANO_33_BLE, UsbBoardMode::bootloader);
    const auto flamenco = plugAndWait(DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application);
    const std::string i = image.string();
    const std::string velko = "/usr/local/opt/velko/";
    struct Run {
        std::string tool;  // path inside the namespace
        std::vector<std::string> arguments;
        int exitStatus;
    };
    const std::vector<Run> runs{
        {velko + "bossac_ble.darwin",
         {"--erase", "--port", *ble.devicePath, "--reset", "--usb-port", "--verify", "--write", i},
         0},
        {velko + "bossac_fla", {"-i", "--port=" + *flamenco.devicePath, "-F", "-v", i}, 0},
        {velko + "bossac_iot.darwin",
         {"--erase", "--reset", "--force_usb_port=true", "--verify", "--write", i},
         1},
        {velko + "bossac_qorvo.darwin",
         {"-i", "-d", "-U", "-i", "--port", "/dev/ttyACM9", "--offset=0x4000", "-w", "-v", i, "-R"},
         1},
        {velko + "dfu-util", {"-d", "0x0483:0x5740,0x0483:0xdf11", "-a", "0", "-e"}, 74},
        {velko + "halden_i3micro_flasher", {"-p", "/dev/ttyACM9", "-b", "921600", "-a", "-f", i}, 1},
        {"/usr/local/bin/openocd",
         {"-f", "interface/cmsis-dap.cfg", "-f", "target/nrf52.cfg", "-c", "init", "-c", "reset init", "-c",
          "halt", "-c", "program " + i + " verify reset exit"},
         1},
    };
    const fs::path usrLocal = folder.path() / "usrlocal";
    fs::create_directories(usrLocal / "opt/velko");
    fs::create_directories(usrLocal / "bin");
    for (const auto name : kFlashToolNames) {
        fs::create_symlink(BRISEL_FAKE_FLASH_TOOL, usrLocal / "opt/velko" / std::string(name));
    }
    fs::create_symlink(BRISEL_FAKE_FLASH_TOOL, usrLocal / "bin/openocd");
    const fs::path script = folder.path() / "tools.sh";
    {
        std::ofstream out(script);
        out << "set -u\n"
            << "mount --bind " << quoted(usrLocal.string()) << " /usr/local || exit 90\n"
            << "export BRISEL_SIM_TOOL_SOCKET=" << quoted(simulator->tools().socketPath().string()) << "\n";
        for (const auto& run : runs) {
            out << quoted(run.tool);
            for (const auto& argument : run.arguments) {
                out << " " << quoted(argument);
            }
            out << "; echo \"status $?\"\n";
        }
    }
    const fs::path out = folder.path() / "tools.out";
    const std::string command =
        "timeout 60 unshare -rmn bash '" + script.string() + "' >'" + out.string() + "' 2>&1";

    ASSERT_EQ(runShell(command), 0) << readText(out);
    const auto calls = simulator->tools().calls();
    ASSERT_EQ(calls.size(), runs.size()) << readText(out);
    std::string statuses;
    for (std::size_t n = 0; n < runs.size(); ++n) {
        EXPECT_EQ(calls[n].tool, fs::path(runs[n].tool).filename().string());
        EXPECT_EQ(calls[n].arguments, runs[n].arguments) << calls[n].tool;
        EXPECT_EQ(calls[n].reply.exitStatus, runs[n].exitStatus)
            << calls[n].tool << ": " << calls[n].reply.output;
        statuses += "status " + std::to_string(runs[n].exitStatus) + "\n";
    }
    std::string printed;
    std::istringstream lines(readText(out));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("status ")) {
            printed += line + "\n";
        }
    }
    EXPECT_EQ(printed, statuses) << readText(out);
    EXPECT_TRUE(waitForFirmware(ble.id, FirmwareKind::latency));
    EXPECT_EQ(simulator->usb().board(ble.id)->imagesFlashed, std::vector<std::string>{i});
    EXPECT_TRUE(waitForFirmware(flamenco.id, FirmwareKind::latency));
}

TEST_F(FlashToolsTest, ToolWithoutTheSimulatorSocketSaysWhatToDo) {
    const fs::path out = folder.path() / "alone.out";
    const std::string command = "env -u BRISEL_SIM_TOOL_SOCKET '" + std::string(BRISEL_FAKE_FLASH_TOOL) +
                                "' >'" + out.string() + "' 2>&1";
    EXPECT_EQ(runShell(command), 2);
    EXPECT_NE(readText(out).find("BRISEL_SIM_TOOL_SOCKET is not set"), std::string::npos);
}

TEST_F(FlashToolsTest, ChosenReplyIsPrintedAndExitedWith) {
    simulator->tools().overrideReply("bossac_fla", ToolReply{3, "chosen text\n"});
    const fs::path tool = folder.path() / "bossac_fla";
    fs::create_symlink(BRISEL_FAKE_FLASH_TOOL, tool);
    const fs::path out = folder.path() / "chosen.out";
    const std::string command = "BRISEL_SIM_TOOL_SOCKET='" + simulator->tools().socketPath().string() +
                                "' '" + tool.string() + "' -x 'two words' >'" + out.string() + "'";

    EXPECT_EQ(runShell(command), 3);
    EXPECT_EQ(readText(out), "chosen text\n");
    ASSERT_EQ(simulator->tools().calls().size(), 1U);
    EXPECT_EQ(simulator->tools().calls()[0].arguments, (std::vector<std::string>{"-x", "two words"}));
}

TEST_F(FlashToolsTest, DfuBoardIsListedFlashedAndLeavesDfuModeWithTheImage) {
    const auto board = plugAndWait(DeviceKind::STWINKT1, UsbBoardMode::dfu);
    auto& boards = simulator->usb();
    const std::string filter = "0x0483:0x5740,0x0483:0xdf11";

    const auto listing = runSimulatedTool(boards, "dfu-util", {"--list"});
    const auto check = runSimulatedTool(boards, "dfu-util", {"-d", filter, "-a", "0", "-e"});
    const auto flash = runSimulatedTool(
        boards, "dfu-util", {"-d", filter, "-a", "0", "-s", "0x08000000:leave", "-D", image.string()});

    EXPECT_EQ(listing.exitStatus, 0);
    EXPECT_NE(listing.output.find("Found DFU: [0483:df11]"), std::string::npos);
    EXPECT_EQ(check.exitStatus, 0);
    EXPECT_EQ(flash.exitStatus, 0) << flash.output;
    EXPECT_TRUE(waitForFirmware(board.id, FirmwareKind::latency));
    EXPECT_EQ(runSimulatedTool(boards, "dfu-util", {"--list"}).output, "");
}

TEST_F(FlashToolsTest, ToolsRefuseAPortOfTheWrongBoardOrMode) {
    const auto ble = plugAndWait(DeviceKind::NANO_33_BLE, UsbBoardMode::application);
    auto& boards = simulator->usb();

    const auto wrongMode = runSimulatedTool(boards, "bossac_ble.darwin",
                                            {"--erase", "--port", *ble.devicePath, "--reset", "--usb-port",
                                             "--verify", "--write", image.string()});
    const auto wrongKind =
        runSimulatedTool(boards, "halden_i3micro_flasher",
                         {"-p", *ble.devicePath, "-b", "921600", "-a", "-f", image.string()});
    const auto unknown = runSimulatedTool(boards, "bossac", {});

    EXPECT_EQ(wrongMode.exitStatus, 1);
    EXPECT_NE(wrongMode.output.find("No device found on " + *ble.devicePath), std::string::npos);
    EXPECT_EQ(wrongKind.exitStatus, 1);
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_TRUE(simulator->usb().board(ble.id)->imagesFlashed.empty());
}

TEST_F(FlashToolsTest, StateJsonNamesBoardsAndToolCalls) {
    const auto board = plugAndWait(DeviceKind::QORVO_SAMD51, UsbBoardMode::bootloader);
    simulator->tools().overrideReply("openocd", ToolReply{0, ""});
    const auto state = simulator->stateJson();
    ASSERT_EQ(state["usbBoards"].size(), 1U);
    EXPECT_EQ(state["usbBoards"][0]["kind"], "QORVO_SAMD51");
    EXPECT_EQ(state["usbBoards"][0]["mode"], "bootloader");
    EXPECT_EQ(state["usbBoards"][0]["devicePath"], *board.devicePath);
    EXPECT_EQ(state["usbBoards"][0]["ids"], "0x239A:0x0021");
    EXPECT_TRUE(state["toolCalls"].empty());
    EXPECT_TRUE(state["wifiBoards"].empty());
}

}  // namespace
}  // namespace brisel::test
