// The USB board object against fake boards in a umockdev testbed: the test writes sample packets at the
// board's end of the pseudo-terminal, unplugs the board, and reads what the service wrote to it.
#include "device/boards/brisel_device.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "device/samples/sample_packet_builder.h"
#include "support/collected_segments.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/log_capture.h"
#include "support/temporary_folder.h"
#include "udev_testbed.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using common::DeviceKind;
using test_support::eventually;

constexpr std::int64_t kCollection = 41;

Bytes packetWithTemperature(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{5, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

std::string textOf(const std::vector<Bytes>& packets) {
    std::string text;
    for (const Bytes& packet : packets) {
        text.append(packet.begin(), packet.end());
    }
    return text;
}

std::int64_t packetsInFile(BriselDeviceBase& board) {
    SampleReader& reader = *board.sampleReader();
    return reader.withFileLock([&] { return reader.packetCount(); });
}

class UsbBoardTest : public test_support::UdevTestbedTest {
  protected:
    BoardSettings settings(std::chrono::milliseconds silenceLimit = 60s) const {
        BoardSettings result;
        result.temporaryDirectory = folder_.path();
        result.reader.silenceLimit = silenceLimit;
        result.resetSettle = 0ms;
        result.retryPause = 10ms;
        result.flamencoSettleWait = 0ms;
        return result;
    }

    void sendFromBoard(const std::string& ttyName, const Bytes& bytes) {
        ASSERT_EQ(write(boardEnd(ttyName), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::filesystem::path collectionFolder() const {
        return folder_.path() / "velko_brisel_collection" / std::to_string(kCollection);
    }

    test_support::TemporaryFolder folder_;
    test_support::LogCapture log_;
};

TEST_F(UsbBoardTest, RecordsTheBoardsPacketsIntoSegmentsNamedByTheirFirstPacket) {
    test_support::CollectedSegments uploads;
    plug("1-1", UsbId{0x2341, 0x805A}, "ttyACM0");

    auto board =
        BriselDevice::initDataCollection(DeviceKind::NANO_33_BLE, std::nullopt, 1, kCollection, settings());
    ASSERT_TRUE(board);
    termios line{};
    ASSERT_EQ(tcgetattr(boardEnd("ttyACM0"), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    board->reset();
    const std::vector<Bytes> first{packetWithTemperature(1), packetWithTemperature(2),
                                   packetWithTemperature(3)};
    const std::vector<Bytes> second{packetWithTemperature(4), packetWithTemperature(5)};
    sendFromBoard("ttyACM0", Bytes{'x', 'y'});
    for (const Bytes& packet : first) {
        sendFromBoard("ttyACM0", packet);
    }
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 3; }, 20s));
    board->saveBinaryFile(uploads);
    for (const Bytes& packet : second) {
        sendFromBoard("ttyACM0", packet);
    }
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 2; }, 20s));
    board->saveBinaryFile(uploads);

    const auto handedOver = uploads.handedOver();
    ASSERT_EQ(handedOver.size(), 2U);
    EXPECT_EQ(handedOver[0].path, collectionFolder() / "sensors_0.bin");
    EXPECT_EQ(test_support::readText(handedOver[0].path), textOf(first));
    EXPECT_EQ(handedOver[1].path, collectionFolder() / "sensors_3.bin");
    EXPECT_EQ(test_support::readText(handedOver[1].path), textOf(second));
    EXPECT_EQ(board->totalPacketsReceived(), 5);
    board->close();
}

TEST_F(UsbBoardTest, UnplugDuringAReadEndsTheRecordingAsDeviceNotConnected) {
    plug("1-1", UsbId{0x2341, 0x805A}, "ttyACM0");
    auto board = BriselDevice::initDataCollection(DeviceKind::NANO_33_BLE, std::nullopt, 1, kCollection,
                                                  settings(60s));
    ASSERT_TRUE(board);
    std::atomic<int> disconnects{0};
    board->setDisconnectEvent([&] { disconnects.fetch_add(1); });
    board->reset();
    sendFromBoard("ttyACM0", packetWithTemperature(1));
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 1; }, 20s));

    const auto unplugged = std::chrono::steady_clock::now();
    unplug("1-1", "ttyACM0");

    // The silence limit is a minute: only the vanished device node can end the read this early.
    ASSERT_TRUE(eventually([&] { return board->sampleReader()->disconnected(); }, 20s));
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, 20s);
    EXPECT_TRUE(log_.waitFor("Error occured during read: deviceNotConnected", 5s));
    EXPECT_TRUE(test_support::eventuallyEquals([&] { return disconnects.load(); }, 1, 20s));
    EXPECT_FALSE(board->sampleReader()->running());
    // What was recorded stays for a last save.
    test_support::CollectedSegments uploads;
    auto saved = board->saveBinaryFile(uploads);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->packetCount, 1);
    EXPECT_TRUE(std::filesystem::exists(saved->path));
    board->close();
}

TEST_F(UsbBoardTest, StopReturnsAtOnceWhileTheBoardIsSilent) {
    plug("1-1", UsbId{0x0483, 0x5740}, "ttyACM0");
    auto board =
        BriselDevice::initDataCollection(DeviceKind::STWINKT1, std::nullopt, 1, kCollection, settings(60s));
    ASSERT_TRUE(board);
    board->reset();
    ASSERT_TRUE(board->sampleReader()->running());
    std::this_thread::sleep_for(50ms);  // the loop is inside its wait for bytes

    const auto stopping = std::chrono::steady_clock::now();
    board->close();

    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);  // far below the minute of silence
    EXPECT_FALSE(board->sampleReader()->running());
    EXPECT_FALSE(board->sampleReader()->disconnected());
    EXPECT_FALSE(board->usbDevice().deviceOpen());
}

TEST_F(UsbBoardTest, NoBoardGivesNoObjectAfterTheAttempts) {
    EXPECT_FALSE(
        BriselDevice::initDataCollection(DeviceKind::NANO_33_IOT, std::nullopt, 0, kCollection, settings()));
    EXPECT_EQ(log_.count("Could not find device of type NANO_33_IOT at "), 1U);

    plug("1-1", UsbId{0x2341, 0x805A}, "ttyACM0");  // another kind's board
    EXPECT_FALSE(
        BriselDevice::initDataCollection(DeviceKind::NANO_33_IOT, std::nullopt, 3, kCollection, settings()));
    EXPECT_EQ(log_.count("Could not find device of type NANO_33_IOT at "), 2U);
}

TEST_F(UsbBoardTest, BoardsOpenAtTheirKindsSpeed) {
    plug("1-1", UsbId{0x0403, 0x6001}, "ttyUSB0");
    plug("1-2", UsbId{0x10C4, 0xEA60}, "ttyUSB1");

    auto flamenco = BriselDevice::initDataCollection(DeviceKind::HALDEN_FLAMENCO, std::nullopt, 1,
                                                     kCollection, settings());
    auto micro = BriselDevice::initDataCollection(DeviceKind::HALDEN_I3MICRO, std::nullopt, 1, kCollection,
                                                  settings());

    ASSERT_TRUE(flamenco && micro);
    termios line{};
    ASSERT_EQ(tcgetattr(boardEnd("ttyUSB0"), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B1500000));
    ASSERT_EQ(tcgetattr(boardEnd("ttyUSB1"), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B921600));
}

TEST_F(UsbBoardTest, ContaminationThresholdIsWrittenAsATextCommand) {
    plug("1-1", UsbId{0x0403, 0x6001}, "ttyUSB0");
    auto port = USBManager::findPort(DeviceKind::HALDEN_FLAMENCO, PortMode::application, 0ms);
    ASSERT_TRUE(port);
    // The threshold write opens any board as the default kind, at 115200 baud.
    BriselDevice board(std::move(*port), std::nullopt, std::nullopt, DeviceKind::SENSOR_TILE_BOX,
                       std::nullopt, -1, settings());
    ASSERT_TRUE(board.open());

    EXPECT_TRUE(board.setContaminationThreshold(0.5));
    EXPECT_FALSE(board.setContaminationThreshold(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(board.setContaminationThreshold(2.0));

    const int boardFd = boardEnd("ttyUSB0");
    termios line{};
    ASSERT_EQ(tcgetattr(boardFd, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    const std::string expected = "mContamination_threshold:0.5,\r\nmContamination_threshold:2.0,\r\n";
    std::string received(expected.size(), '\0');
    std::size_t got = 0;
    while (got < received.size()) {
        pollfd readable{boardFd, POLLIN, 0};
        ASSERT_EQ(poll(&readable, 1, 10'000), 1) << "the board received only " << got << " bytes";
        ssize_t n = read(boardFd, received.data() + got, received.size() - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(log_.contains("Failed to set contamination threshold mapping due to the threshold nan"));
    // A port that is gone is reported to the caller, which must not answer success.
    board.close();
    EXPECT_FALSE(board.setContaminationThreshold(0.5));
    EXPECT_TRUE(log_.contains("Failed to set contamination threshold mapping due to mustBeOpen"));
}

}  // namespace
}  // namespace brisel::device
