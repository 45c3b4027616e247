// The WiFi board object against a test board on the loopback interface: the board streams sample
// packets to a WiFi server on port 0, the board object records them and hands its segments on.
#include "device/boards/brisel_wifi_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/samples/sample_packet_builder.h"
#include "support/collected_segments.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/log_capture.h"
#include "support/temporary_folder.h"
#include "support/wifi_test_board.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using common::DeviceKind;
using test::WifiTestBoard;
using test_support::eventually;
using test_support::readBytes;

constexpr std::int64_t kCollection = 23;

Bytes packetWithTemperature(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{5, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

Bytes joined(const std::vector<Bytes>& packets) {
    Bytes all;
    for (const Bytes& packet : packets) {
        all.insert(all.end(), packet.begin(), packet.end());
    }
    return all;
}

std::int64_t packetsInFile(BriselDeviceBase& board) {
    SampleReader& reader = *board.sampleReader();
    return reader.withFileLock([&] { return reader.packetCount(); });
}

class WifiBoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WifiServerSettings serverSettings;
        serverSettings.port = 0;
        serverSettings.scope = WifiListenScope::loopbackOnly;
        server_ = std::make_shared<WifiServer>(serverSettings);
        ASSERT_TRUE(server_->start());
    }

    BoardSettings settings() const {
        BoardSettings result;
        result.temporaryDirectory = folder_.path();
        // Far longer than any test: only the connection's end can be seen as a disconnect.
        result.reader.silenceLimit = 60s;
        result.resetSettle = 0ms;
        result.retryPause = 10ms;
        return result;
    }

    // Connects a test board, takes it as the board object of a collection and puts the connection in
    // data-collection mode (the chunk that decides the mode is not recorded).
    std::shared_ptr<BriselWifiDevice> connectDataBoard() {
        auto connected = WifiTestBoard::connect(server_->port());
        EXPECT_TRUE(connected);
        if (!connected) {
            return nullptr;
        }
        testBoard_.emplace(std::move(*connected));
        EXPECT_TRUE(eventually([&] { return server_->getConnection() != nullptr; }));
        auto board = BriselWifiDevice::initDataCollection(DeviceKind::NANO_33_IOT, std::nullopt, 3,
                                                          kCollection, settings(), server_);
        EXPECT_TRUE(board);
        if (!board) {
            return nullptr;
        }
        EXPECT_TRUE(testBoard_->send("VLK_STLE"));
        EXPECT_TRUE(eventually([&] { return connectionOf(*board).modeDetected() == WifiMode::datacollect; }));
        return board;
    }

    static WifiServerConnection& connectionOf(const BriselWifiDevice& board) {
        return *board.wifiDevice().wifiServerConnection();
    }

    void sendFromBoard(const Bytes& bytes) { ASSERT_TRUE(testBoard_->send(bytes)); }

    std::filesystem::path collectionFolder() const {
        return folder_.path() / "velko_brisel_collection" / std::to_string(kCollection);
    }

    test_support::TemporaryFolder folder_;
    test_support::LogCapture log_;
    std::shared_ptr<WifiServer> server_;
    std::optional<WifiTestBoard> testBoard_;
};

TEST_F(WifiBoardTest, RecordsPacketsSplitAcrossChunksIntoTheCollectionFolder) {
    auto board = connectDataBoard();
    ASSERT_TRUE(board);
    EXPECT_TRUE(connectionOf(*board).getSaveStatus());
    EXPECT_EQ(board->sensors().size(), common::SENSOR_LIST.size());
    board->reset();
    EXPECT_TRUE(board->readTime().has_value());

    const std::vector<Bytes> packets{packetWithTemperature(1), packetWithTemperature(2),
                                     packetWithTemperature(3)};
    Bytes stream{'n', 'o', 'i', 's', 'e'};
    const Bytes all = joined(packets);
    stream.insert(stream.end(), all.begin(), all.end());
    // Chunks that cut through headers, payloads and footers.
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        const auto end = std::min(stream.size(), at + 7);
        sendFromBoard(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 3; }));

    test_support::CollectedSegments uploads;
    auto saved = board->saveBinaryFile(uploads);

    ASSERT_TRUE(saved);
    const auto handedOver = uploads.handedOver();
    ASSERT_EQ(handedOver.size(), 1U);
    EXPECT_EQ(handedOver[0].path, collectionFolder() / "sensors_0.bin");
    EXPECT_EQ(readBytes(handedOver[0].path), all);
    EXPECT_EQ(board->totalPacketsReceived(), 3);
    EXPECT_EQ(board->sampleReader()->numPacketsDropped(), 0);
    board->close();
}

TEST_F(WifiBoardTest, SavedSegmentsAreHandedOverWithTheirFirstPacketIndex) {
    test_support::CollectedSegments uploads;
    auto board = connectDataBoard();
    ASSERT_TRUE(board);
    board->reset();

    const std::vector<Bytes> first{packetWithTemperature(1), packetWithTemperature(2)};
    const std::vector<Bytes> second{packetWithTemperature(3), packetWithTemperature(4),
                                    packetWithTemperature(5)};
    sendFromBoard(joined(first));
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 2; }));
    board->saveBinaryFile(uploads);
    sendFromBoard(joined(second));
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 3; }));
    board->saveBinaryFile(uploads);

    const auto handedOver = uploads.handedOver();
    ASSERT_EQ(handedOver.size(), 2U);
    EXPECT_EQ(handedOver[0].firstPacketIndex, 0);
    EXPECT_EQ(readBytes(handedOver[0].path), joined(first));
    EXPECT_EQ(handedOver[1].firstPacketIndex, 2);
    EXPECT_EQ(handedOver[1].path, collectionFolder() / "sensors_2.bin");
    EXPECT_EQ(readBytes(handedOver[1].path), joined(second));
    EXPECT_EQ(board->getDeviceState(uploads), DeviceStatus::DEVICE_OK);
    board->close();
}

TEST_F(WifiBoardTest, TheBoardGoingAwayIsSeenAsADisconnectAndKeepsWhatWasRecorded) {
    auto board = connectDataBoard();
    ASSERT_TRUE(board);
    std::atomic<int> disconnects{0};
    board->setDisconnectEvent([&] { disconnects.fetch_add(1); });
    board->reset();
    sendFromBoard(packetWithTemperature(7));
    ASSERT_TRUE(eventually([&] { return packetsInFile(*board) == 1; }));

    testBoard_->close();

    // The silence limit is a minute: only the ended connection can end the read this early.
    ASSERT_TRUE(eventually([&] { return board->sampleReader()->disconnected(); }, 20s));
    EXPECT_TRUE(log_.waitFor("Error occured during read: deviceNotConnected", 5s));
    EXPECT_TRUE(test_support::eventuallyEquals([&] { return disconnects.load(); }, 1, 20s));
    EXPECT_FALSE(board->sampleReader()->running());
    test_support::CollectedSegments uploads;
    auto saved = board->saveBinaryFile(uploads);
    ASSERT_TRUE(saved);
    EXPECT_EQ(readBytes(saved->path), packetWithTemperature(7));

    // A reset cannot revive an ended connection: the new loop ends on it at once.
    board->stopReadThread();
    board->reset();
    EXPECT_TRUE(eventually([&] { return disconnects.load() == 2; }, 20s));
    EXPECT_FALSE(board->sampleReader()->running());
    board->close();
}

TEST_F(WifiBoardTest, CloseReturnsAtOnceWhileTheBoardIsSilentAndStopsSaving) {
    auto board = connectDataBoard();
    ASSERT_TRUE(board);
    board->reset();
    ASSERT_TRUE(board->sampleReader()->running());
    std::this_thread::sleep_for(50ms);  // the loop is inside its wait for bytes

    const auto stopping = std::chrono::steady_clock::now();
    board->close();

    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);  // far below the minute of silence
    EXPECT_FALSE(board->sampleReader()->running());
    EXPECT_FALSE(board->sampleReader()->disconnected());
    WifiServerConnection& connection = connectionOf(*board);
    EXPECT_FALSE(connection.getSaveStatus());
    EXPECT_FALSE(connection.hasEnded());  // closing the board object leaves the board connected
}

TEST_F(WifiBoardTest, NoConnectionGivesNoBoardAfterTheAttempts) {
    EXPECT_FALSE(BriselWifiDevice::initDataCollection(DeviceKind::NANO_33_IOT, std::nullopt, 0, kCollection,
                                                      settings(), server_));
    EXPECT_EQ(log_.count("WIFI: Could not find device of type NANO_33_IOT at "), 1U);

    EXPECT_FALSE(BriselWifiDevice::initDataCollection(DeviceKind::NANO_33_IOT, std::nullopt, 3, kCollection,
                                                      settings(), server_));
    EXPECT_EQ(log_.count("Wifi connection not found ..."), 3U);
    EXPECT_EQ(log_.count("WIFI: Could not find device of type NANO_33_IOT at "), 2U);

    EXPECT_FALSE(BriselWifiDevice::initDataCollection(DeviceKind::NANO_33_IOT, std::nullopt, 1, kCollection,
                                                      settings(), nullptr));
}

TEST_F(WifiBoardTest, ABoardWithoutConnectionStartsNoReader) {
    BriselWifiDevice board(WifiDevice(server_), std::nullopt, std::nullopt, DeviceKind::NANO_33_IOT,
                           std::nullopt, kCollection, settings());

    board.reset();

    EXPECT_TRUE(log_.contains("WIFI: Connection not established at "));
    EXPECT_FALSE(board.sampleReader()->hasLoop());
    board.close();  // nothing to stop
}

}  // namespace
}  // namespace brisel::device
