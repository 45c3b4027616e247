// Board objects without USB: the base behaviour through the Bluetooth board, whose bytes the test
// relays as the websocket requests do, and the texts a USB board writes.
#include "device/boards/brisel_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "device/boards/bluetooth_relay.h"
#include "device/boards/brisel_bluetooth_device.h"
#include "device/samples/sample_packet_builder.h"
#include "support/collected_segments.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/log_capture.h"
#include "support/temporary_folder.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using common::DeviceKind;
using test_support::eventually;
using test_support::readBytes;

constexpr std::int64_t kCollection = 12;

Bytes packetWithTemperature(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{5, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

class BluetoothBoardTest : public ::testing::Test {
  protected:
    std::unique_ptr<BriselBluetoothDevice> makeBoard(std::chrono::milliseconds silenceLimit = 60s) {
        BoardSettings settings;
        settings.temporaryDirectory = folder_.path();
        settings.reader.silenceLimit = silenceLimit;
        settings.resetSettle = 0ms;
        return std::make_unique<BriselBluetoothDevice>(std::nullopt, std::nullopt, DeviceKind::NANO_33_BLE,
                                                       std::nullopt, kCollection, settings);
    }

    // Relays `count` packets and waits until the board's current file holds `expectedInFile`.
    void relayPackets(BriselDeviceBase& board, int count, std::int64_t expectedInFile) {
        for (int i = 0; i < count; ++i) {
            relayBluetoothBytes(packetWithTemperature(static_cast<std::int16_t>(i)));
        }
        ASSERT_TRUE(eventually([&] { return packetsInFile(board) == expectedInFile; }, 20s));
    }

    static std::int64_t packetsInFile(BriselDeviceBase& board) {
        SampleReader& reader = *board.sampleReader();
        return reader.withFileLock([&] { return reader.packetCount(); });
    }

    std::filesystem::path collectionFolder() const {
        return folder_.path() / "velko_brisel_collection" / std::to_string(kCollection);
    }

    test_support::TemporaryFolder folder_;
    test_support::LogCapture log_;
};

TEST_F(BluetoothBoardTest, StartingEmptiesTheRelayBufferAndRecordsWhatIsRelayedAfter) {
    auto board = makeBoard();
    EXPECT_EQ(board->sensors().size(), common::SENSOR_LIST.size());
    relayBluetoothBytes(packetWithTemperature(99));  // relayed for an earlier board

    board->reset();
    const Bytes packet = packetWithTemperature(1);
    relayBluetoothBytes(packet);

    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 1; }, 20s));
    test_support::CollectedSegments uploads;
    auto saved = board->saveBinaryFile(uploads);
    ASSERT_TRUE(saved);
    EXPECT_EQ(readBytes(saved->path), packet);
    EXPECT_TRUE(board->readTime().has_value());
}

TEST_F(BluetoothBoardTest, SegmentsAreNamedByTheIndexOfTheirFirstPacket) {
    auto board = makeBoard();
    board->reset();
    test_support::CollectedSegments uploads;

    relayPackets(*board, 3, 3);
    board->saveBinaryFile(uploads);
    relayPackets(*board, 2, 2);
    board->saveBinaryFile(uploads);
    board->saveBinaryFile(uploads);  // nothing new: an empty segment, which the uploader refuses

    const auto handedOver = uploads.handedOver();
    ASSERT_EQ(handedOver.size(), 3U);
    EXPECT_EQ(handedOver[0].path, collectionFolder() / "sensors_0.bin");
    EXPECT_EQ(handedOver[1].path, collectionFolder() / "sensors_3.bin");
    EXPECT_EQ(handedOver[2].path, collectionFolder() / "sensors_5.bin");
    EXPECT_EQ(handedOver[2].packetCount, 0);
    EXPECT_EQ(board->totalPacketsReceived(), 5);
    EXPECT_EQ(log_.count("oldPacketsRecieved: "), 3U);

    board->reset();  // a new recording counts from 0 again
    EXPECT_EQ(board->totalPacketsReceived(), 0);
}

TEST_F(BluetoothBoardTest, AFailedRenameHandsOverTheTemporaryFileWithTheSameIndex) {
    auto board = makeBoard();
    board->reset();
    relayPackets(*board, 1, 1);
    std::ofstream(collectionFolder() / "sensors_0.bin") << "left by an earlier recording";

    test_support::CollectedSegments uploads;
    auto saved = board->saveBinaryFile(uploads);

    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->firstPacketIndex, 0);
    EXPECT_EQ(saved->path.filename().string().rfind("sensors_temp_", 0), 0U) << saved->path;
    EXPECT_EQ(readBytes(saved->path), packetWithTemperature(0));
    EXPECT_TRUE(log_.contains("Failed to rename file. Error: "));
}

TEST_F(BluetoothBoardTest, NotTransmittingNeedsMoreThan19PacketsAndAnEmptyUpload) {
    auto board = makeBoard();
    board->reset();
    test_support::CollectedSegments uploads;
    uploads.emptySegment = true;

    relayPackets(*board, 19, 19);
    EXPECT_EQ(board->getDeviceState(uploads), DeviceStatus::DEVICE_OK);

    relayPackets(*board, 1, 20);
    EXPECT_EQ(board->getDeviceState(uploads), DeviceStatus::DEVICE_NOT_TRANSMITTING_DATA);
    uploads.emptySegment = false;
    EXPECT_EQ(board->getDeviceState(uploads), DeviceStatus::DEVICE_OK);
}

TEST_F(BluetoothBoardTest, SilenceEndsTheRecordingAndCallsTheDisconnectEventOnce) {
    auto board = makeBoard(100ms);
    std::atomic<int> disconnects{0};
    board->setDisconnectEvent([&] { disconnects.fetch_add(1); });

    board->reset();

    ASSERT_TRUE(eventually([&] { return board->sampleReader()->disconnected(); }, 20s));
    // The ending loop calls the event just after it raised the flag.
    EXPECT_TRUE(test_support::eventuallyEquals([&] { return disconnects.load(); }, 1, 20s));
    board->reset();  // a loop that ended on a link failure is not started again until it is stopped
    EXPECT_FALSE(board->sampleReader()->running());
    board->stopReadThread();
    EXPECT_EQ(disconnects.load(), 1) << "the ended loop called the event again";
    board->reset();
    EXPECT_TRUE(board->sampleReader()->running());
}

TEST(BoardWithoutTemporaryFolderTest, HasNoReaderAndReportsItselfDisconnected) {
    test_support::TemporaryFolder folder;
    test_support::ScopedEnvironment tmpdir("TMPDIR", folder.path().string());
    std::ofstream(folder.path() / ("velko-" + std::to_string(::getuid()))) << "not a folder";
    test_support::LogCapture log;

    BriselBluetoothDevice board(std::nullopt, std::nullopt, DeviceKind::NANO_33_BLE, std::nullopt,
                                kCollection);
    board.reset();

    EXPECT_EQ(board.sampleReader(), nullptr);
    EXPECT_TRUE(log.contains("Cannot record from the board: the temporary folder is not usable"));
    EXPECT_TRUE(log.contains("Sample Reader nil at "));
    test_support::CollectedSegments uploads;
    EXPECT_EQ(board.getDeviceState(uploads), DeviceStatus::DEVICE_DISCONNECTED);
    EXPECT_FALSE(board.saveBinaryFile(uploads));
    EXPECT_TRUE(log.contains("Sample reader nil in "));
    EXPECT_TRUE(uploads.handedOver().empty());
}

TEST(BoardTextTest, DoublesAreWrittenAsThePlatformsDefaultText) {
    const std::vector<std::pair<double, std::string>> rows{
        {0.5, "0.5"},
        {2.0, "2.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {0.1, "0.1"},
        {-1.25, "-1.25"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {123456.0, "123456.0"},
        {1e20, "1e+20"},
        {0.30000000000000004, "0.30000000000000004"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& [value, text] : rows) {
        EXPECT_EQ(defaultDoubleText(value), text) << value;
    }
    EXPECT_EQ(contaminationThresholdCommand(0.5), "mContamination_threshold:0.5,\r\n");
}

}  // namespace
}  // namespace brisel::device
