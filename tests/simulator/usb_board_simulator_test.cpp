// Simulated USB boards as the service meets them: found by libudev, read through the serial port, and
// reacting to each bootloader entry. Runs with the umockdev preload library.
#include "support/usb_board_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "device/samples/packet_cutter.h"
#include "device/samples/sample_reader.h"
#include "device/serial/serial_byte_source.h"
#include "device/serial/usb_discovery.h"
#include "support/eventually.h"
#include "support/temporary_folder.h"

#if defined(__SANITIZE_THREAD__)
// glib is built without ThreadSanitizer and hands data to umockdev's worker thread through futexes
// that the sanitizer cannot see; its reports inside glib are not about this program.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\n";
}
#endif

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using common::DeviceKind;
using device::BaudRate;
using device::DataBitsSize;
using device::ParityType;
using device::PortMode;
using device::StopBits;
using device::USBDevice;
using device::USBManager;
using test_support::eventually;

constexpr auto kWait = 10s;

std::optional<device::UsbId> bootloaderIds(DeviceKind kind) {
    return usbIdsOf(kind, UsbBoardMode::bootloader);
}

std::optional<USBDevice> findPort(DeviceKind kind, PortMode mode) {
    return USBManager::findPort(common::rawValue(kind), bootloaderIds(kind), mode, 0ms);
}

tl::expected<void, device::PortError> openAt(USBDevice& port, BaudRate speed) {
    return port.open(speed, StopBits::stopBits1, ParityType::none, DataBitsSize::bits8);
}

// Opens the port at `speed`, holds it for `hold`, closes it: a touch.
void touch(DeviceKind kind, BaudRate speed, std::chrono::milliseconds hold) {
    auto port = findPort(kind, PortMode::application);
    ASSERT_TRUE(port);
    ASSERT_TRUE(openAt(*port, speed));
    std::this_thread::sleep_for(hold);
    port->close();
}

// Reads until the text holds `wanted` or the wait ends; returns every read's bytes.
std::vector<std::string> readUntil(USBDevice& port, const std::string& wanted,
                                   std::chrono::milliseconds wait = kWait) {
    std::vector<std::string> reads;
    std::string all;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<std::uint8_t> buffer(4096);
    while (all.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        auto count = port.readBytes(buffer, 100ms);
        if (!count) {
            break;
        }
        if (*count > 0) {
            reads.emplace_back(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*count));
            all += reads.back();
        }
    }
    return reads;
}

class UsbBoardSimulatorTest : public testing::Test {
  protected:
    void SetUp() override {
        UsbBoardSimulatorOptions options;
        options.reenumerationDelay = 50ms;
        auto created = UsbBoardSimulator::create(options);
        ASSERT_TRUE(created) << created.error();
        simulator = std::move(*created);
    }

    bool waitForMode(BoardId board, UsbBoardMode mode) {
        return simulator->waitUntil([&](const auto& boards) { return boards.at(board).mode == mode; }, kWait);
    }

    std::unique_ptr<UsbBoardSimulator> simulator;
};

TEST_F(UsbBoardSimulatorTest, BoardIsFoundByLibudevRecordedByTheSampleReaderAndItsUnplugIsSeen) {
    FirmwarePersonality firmware;
    firmware.sensorIds = {1, 5};
    const BoardId board = simulator->plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, firmware);
    auto port = findPort(DeviceKind::NANO_33_BLE, PortMode::application);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->ids(), (device::UsbId{0x2341, 0x805A}));
    ASSERT_TRUE(openAt(*port, BaudRate::baud115200));
    test_support::TemporaryFolder folder;
    std::atomic<int> disconnects{0};
    device::SampleReader reader(DeviceKind::NANO_33_BLE, 7, folder.path(), [&] { ++disconnects; });
    reader.beginRecording();

    reader.start(std::make_unique<device::SerialByteSource>(*port));
    const bool recorded =
        eventually([&] { return reader.withFileLock([&] { return reader.packetCount(); }) >= 5; }, kWait);
    simulator->unplug(board);
    const bool disconnected = eventually([&] { return disconnects.load() == 1; }, kWait);
    reader.stop();

    EXPECT_TRUE(recorded);
    EXPECT_EQ(reader.numPacketsDropped(), 0);
    EXPECT_TRUE(disconnected);
    EXPECT_TRUE(reader.disconnected());
    const auto snapshot = *simulator->board(board);
    EXPECT_EQ(snapshot.opens, 1U);
    EXPECT_EQ(snapshot.mode, UsbBoardMode::unplugged);
}

TEST_F(UsbBoardSimulatorTest, UnpluggedBoardFailsTheOpenPortsReadAndIsNoLongerFound) {
    const BoardId board = simulator->plug(DeviceKind::NANO_33_IOT, UsbBoardMode::application);
    auto port = findPort(DeviceKind::NANO_33_IOT, PortMode::application);
    ASSERT_TRUE(port);
    ASSERT_TRUE(openAt(*port, BaudRate::baud115200));

    simulator->unplug(board);
    ASSERT_TRUE(waitForMode(board, UsbBoardMode::unplugged));

    std::vector<std::uint8_t> buffer(device::Sample::maxSampleBytes());
    tl::expected<std::size_t, device::PortError> read = 0;
    for (int i = 0; i < 100 && read; ++i) {
        read = port->readBytes(buffer, 50ms);
    }
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, device::PortError::Kind::deviceNotConnected);
    EXPECT_FALSE(findPort(DeviceKind::NANO_33_IOT, PortMode::application));
}

TEST_F(UsbBoardSimulatorTest, BootloaderTextIsAnsweredAndTheBoardComesBackOnItsBootloaderIds) {
    const BoardId board = simulator->plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application);
    auto port = findPort(DeviceKind::NANO_33_BLE, PortMode::application);
    ASSERT_TRUE(port);
    ASSERT_TRUE(openAt(*port, BaudRate::baud115200));

    ASSERT_EQ(port->writeData("\r\nBOOTLOADER\r\n"), 14U);
    std::vector<std::uint8_t> buffer(4096);
    std::string answer;
    for (;;) {  // drain as a flasher does: until the board leaves its port
        auto count = port->readBytes(buffer, 500ms);
        if (!count) {
            break;
        }
        answer.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*count));
        ASSERT_LT(answer.size(), 100000U) << "the board never left its port";
    }
    port->close();

    EXPECT_NE(answer.find("Bootloader"), std::string::npos);
    ASSERT_TRUE(waitForMode(board, UsbBoardMode::bootloader));
    EXPECT_EQ(simulator->board(board)->entries, std::vector<std::string>{"BOOTLOADER"});
    auto bootloader = findPort(DeviceKind::NANO_33_BLE, PortMode::bootloader);
    ASSERT_TRUE(bootloader);
    EXPECT_EQ(bootloader->path(), simulator->board(board)->devicePath);
    EXPECT_FALSE(findPort(DeviceKind::NANO_33_BLE, PortMode::application));
}

struct TouchCase {
    const char* label;
    DeviceKind kind;
    std::vector<std::pair<BaudRate, std::chrono::milliseconds>> touches;
    std::string entry;
    UsbBoardMode modeAfter;
};

void PrintTo(const TouchCase& touchCase, std::ostream* out) {
    *out << touchCase.label;
}

class BootloaderTouchTest : public UsbBoardSimulatorTest, public testing::WithParamInterface<TouchCase> {};

TEST_P(BootloaderTouchTest, TouchSequenceIsRecordedAndMovesTheBoard) {
    const TouchCase& touchCase = GetParam();
    const BoardId board = simulator->plug(touchCase.kind, UsbBoardMode::application);

    for (const auto& [speed, hold] : touchCase.touches) {
        touch(touchCase.kind, speed, hold);  // the next touch follows at once, as a flasher's does
    }

    ASSERT_TRUE(waitForMode(board, touchCase.modeAfter)) << toJson(*simulator->board(board)).dump();
    const auto snapshot = *simulator->board(board);
    EXPECT_EQ(snapshot.entries, std::vector<std::string>{touchCase.entry});
    if (touchCase.modeAfter == UsbBoardMode::dfu) {
        EXPECT_FALSE(snapshot.devicePath);
        EXPECT_FALSE(findPort(touchCase.kind, PortMode::application));
    } else {
        EXPECT_TRUE(findPort(touchCase.kind, PortMode::bootloader));
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, BootloaderTouchTest,
                         testing::Values(TouchCase{"qorvo1200",
                                                   DeviceKind::QORVO_SAMD51,
                                                   {{BaudRate::baud1200, 20ms}},
                                                   "1200",
                                                   UsbBoardMode::bootloader},
                                         TouchCase{"png1200",
                                                   DeviceKind::PNG_STM32L4,
                                                   {{BaudRate::baud1200, 100ms}},
                                                   "1200",
                                                   UsbBoardMode::dfu},
                                         TouchCase{"stwin1200and150",
                                                   DeviceKind::STWINKT1,
                                                   {{BaudRate::baud1200, 20ms}, {BaudRate::baud150, 80ms}},
                                                   "1200+150",
                                                   UsbBoardMode::dfu},
                                         TouchCase{"tilebox1200and110",
                                                   DeviceKind::SENSOR_TILE_BOX,
                                                   {{BaudRate::baud1200, 20ms}, {BaudRate::baud110, 80ms}},
                                                   "1200+110",
                                                   UsbBoardMode::dfu}),
                         [](const testing::TestParamInfo<TouchCase>& row) { return row.param.label; });

TEST_F(UsbBoardSimulatorTest, BoardNeedingTwoTouchesIgnoresTheFirstAlone) {
    const BoardId board = simulator->plug(DeviceKind::STWINKT1, UsbBoardMode::application);

    touch(DeviceKind::STWINKT1, BaudRate::baud1200, 20ms);
    touch(DeviceKind::STWINKT1, BaudRate::baud115200, 20ms);

    ASSERT_TRUE(
        simulator->waitUntil([&](const auto& boards) { return boards[board].speeds.size() == 2; }, kWait))
        << toJson(*simulator->board(board)).dump();
    EXPECT_EQ(simulator->board(board)->mode, UsbBoardMode::application);
    EXPECT_TRUE(simulator->board(board)->entries.empty());
}

TEST_F(UsbBoardSimulatorTest, ResetRestartsTheBoardAndThresholdCommandsAreRecorded) {
    const BoardId board = simulator->plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application);
    auto port = findPort(DeviceKind::NANO_33_BLE, PortMode::application);
    ASSERT_TRUE(port);
    const auto firstPath = port->path();
    ASSERT_TRUE(openAt(*port, BaudRate::baud115200));

    ASSERT_EQ(port->writeData("mContamination_threshold:0.75,\r\n"), 32U);
    ASSERT_TRUE(
        simulator->waitUntil([&](const auto& boards) { return !boards[board].thresholds.empty(); }, kWait));
    ASSERT_EQ(port->writeData("RESET\r\n"), 7U);
    port->close();

    ASSERT_TRUE(simulator->waitUntil(
        [&](const auto& boards) {
            return boards[board].restarts == 1 && boards[board].mode == UsbBoardMode::application;
        },
        kWait))
        << toJson(*simulator->board(board)).dump();
    const auto snapshot = *simulator->board(board);
    EXPECT_EQ(snapshot.thresholds, std::vector<std::string>{"0.75"});
    EXPECT_EQ(snapshot.entries, std::vector<std::string>{"RESET"});
    EXPECT_NE(snapshot.devicePath, firstPath);
}

TEST_F(UsbBoardSimulatorTest, ClassificationLinesCanBeSplitAcrossWrites) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::classification;
    firmware.score = "0.9";
    firmware.splitLines = true;
    simulator->plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, firmware);
    auto port = findPort(DeviceKind::NANO_33_BLE, PortMode::application);
    ASSERT_TRUE(port);
    ASSERT_TRUE(openAt(*port, BaudRate::baud115200));

    const auto reads = readUntil(*port, "PRED: 0, 0.6,0.4\r\n");

    std::string all;
    for (const auto& read : reads) {
        all += read;
    }
    EXPECT_NE(all.find("SCORE: 0.9\r\nPRED: 1, 0.2,0.8\r\n"), std::string::npos) << all;
    EXPECT_TRUE(std::any_of(reads.begin(), reads.end(),
                            [](const std::string& read) { return !read.ends_with("\r\n"); }));
}

TEST_F(UsbBoardSimulatorTest, BoardThatVanishesInMidPacketLeavesHalfAPacket) {
    FirmwarePersonality firmware;
    firmware.fault = BoardFault::unplugMidPacket;
    const BoardId board = simulator->plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, firmware);
    auto port = findPort(DeviceKind::NANO_33_BLE, PortMode::application);
    ASSERT_TRUE(port);
    ASSERT_TRUE(openAt(*port, BaudRate::baud115200));

    device::PacketCutter cutter;
    std::vector<std::span<const std::uint8_t>> accepted;
    std::size_t packets = 0;
    std::vector<std::uint8_t> buffer(4096);
    tl::expected<std::size_t, device::PortError> read = 0;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (read && std::chrono::steady_clock::now() < deadline) {
        read = port->readBytes(buffer, 100ms);
        if (read) {
            accepted.clear();
            packets += cutter.feed(std::span(buffer).first(*read), accepted).acceptedPackets;
        }
    }

    EXPECT_FALSE(read);
    EXPECT_EQ(packets, 3U);
    EXPECT_GT(cutter.bufferedBytes(), 0U);
    EXPECT_EQ(simulator->board(board)->mode, UsbBoardMode::unplugged);
}

}  // namespace
}  // namespace brisel::test
