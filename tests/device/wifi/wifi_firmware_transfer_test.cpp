#include "device/wifi/wifi_firmware_transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "device/wifi/wifi_server.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/firmware_personality.h"
#include "support/wifi_board_simulator.h"
#include "support/wifi_firmware_board.h"
#include "support/wifi_test_board.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using test::AckPolicy;
using test::WifiFirmwareBoard;
using test_support::eventually;
using test_support::readBytes;

const std::vector<std::uint8_t> kStartPacket{0x23, 0x24, 0x01, 0x46, 0x04, 0x00,
                                             0x01, 0x53, 0x00, 0x00, 0x40, 0xFF};
const std::vector<std::uint8_t> kFlashPacket{0x23, 0x24, 0x01, 0x46, 0x04, 0x00,
                                             0x01, 0x46, 0x00, 0x00, 0xD3, 0x57};

std::vector<std::uint8_t> makeImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>((i * 31 + 7) & 0xFF);
    }
    return image;
}

class WifiFirmwareTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dumps = std::filesystem::temp_directory_path() /
                ("wifi-transfer-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dumps);
        std::filesystem::create_directories(dumps);
        WifiServerSettings settings;
        settings.port = 0;
        settings.scope = WifiListenScope::loopbackOnly;
        settings.timings.ackTimeout = 300ms;
        settings.timings.stagePause = 20ms;
        settings.dumpFolder = dumps;
        server = std::make_unique<WifiServer>(settings);
        ASSERT_TRUE(server->start());
    }

    void TearDown() override {
        board.reset();
        server.reset();
        std::filesystem::remove_all(dumps);
    }

    // Connects a firmware board and waits until its mode is known.
    std::shared_ptr<WifiServerConnection> connectBoard(AckPolicy policy) {
        auto connected = test::WifiTestBoard::connect(server->port());
        EXPECT_TRUE(connected);
        board = std::make_unique<WifiFirmwareBoard>(std::move(*connected), policy);
        EXPECT_TRUE(eventually([&] {
            const auto held = server->getConnection();
            return held && held->modeDetected() != WifiMode::none;
        }));
        return server->getConnection();
    }

    std::filesystem::path dumps;
    std::unique_ptr<WifiServer> server;
    std::unique_ptr<WifiFirmwareBoard> board;
};

TEST_F(WifiFirmwareTransferTest, StartAndFlashPacketsHaveTheirExactBytesAndTheConnectionEnds) {
    const auto connection = connectBoard(AckPolicy::acceptAll);
    ASSERT_TRUE(flashLibrary(*connection, {}));
    EXPECT_TRUE(connection->hasEnded());
    EXPECT_EQ(server->connections(), 0U);
    ASSERT_TRUE(board->waitForPackets(2, 5s));
    EXPECT_EQ(board->packets(), (std::vector<std::vector<std::uint8_t>>{kStartPacket, kFlashPacket}));
    EXPECT_TRUE(eventually([&] { return board->closedByServer(); }));

    EXPECT_EQ(readBytes(dumps / "send_start.bin"), kStartPacket);
    EXPECT_EQ(readBytes(dumps / "send_write.bin"), std::vector<std::uint8_t>{});
    EXPECT_EQ(readBytes(dumps / "send_flash.bin"), kFlashPacket);
    struct stat status {};
    ASSERT_EQ(::stat((dumps / "send_start.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600U);
}

TEST_F(WifiFirmwareTransferTest, ImageIsSentInWritePacketsAndReassembledIdentical) {
    struct Row {
        std::size_t imageSize;
        std::vector<std::size_t> writePacketSizes;
    };
    const std::vector<Row> rows = {
        {1008, {1024}},
        {1009, {1024, 17}},
        {3000, {1024, 1024, 1000}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("image of " + std::to_string(row.imageSize) + " bytes");
        const auto connection = connectBoard(AckPolicy::acceptAll);
        const auto image = makeImage(row.imageSize);
        ASSERT_TRUE(flashLibrary(*connection, image));

        const std::size_t total = row.writePacketSizes.size() + 2;
        ASSERT_TRUE(board->waitForPackets(total, 5s));
        const auto packets = board->packets();
        ASSERT_EQ(packets.size(), total);
        EXPECT_EQ(packets.front(), kStartPacket);
        EXPECT_EQ(packets.back(), kFlashPacket);
        const auto chunkCount = static_cast<std::uint8_t>(row.writePacketSizes.size());
        for (std::size_t i = 0; i < row.writePacketSizes.size(); ++i) {
            const auto& packet = packets[i + 1];
            EXPECT_EQ(packet.size(), row.writePacketSizes[i]);
            EXPECT_EQ(packet[7], 'W');
            EXPECT_EQ(packet[10], i) << "chunk index";
            EXPECT_EQ(packet[12], chunkCount) << "chunk count";
        }
        EXPECT_EQ(board->image(), image);
        board.reset();
        ASSERT_TRUE(eventually([&] { return server->connections() == 0; }));
    }
}

TEST_F(WifiFirmwareTransferTest, MissingAcknowledgementStopsTheTransferAndKeepsTheConnection) {
    const auto connection = connectBoard(AckPolicy::acceptStartOnly);
    const auto result = flashLibrary(*connection, makeImage(3000));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, WifiTransferErrorKind::ackTimeout);
    EXPECT_FALSE(connection->isFlashing());
    EXPECT_FALSE(connection->hasEnded());
    ASSERT_TRUE(board->waitForPackets(2, 5s));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(board->packets().size(), 2U) << "nothing after the unacknowledged piece";
    EXPECT_TRUE(std::filesystem::exists(dumps / "send_start.bin"));
    EXPECT_EQ(readBytes(dumps / "send_write.bin").size(), 3048U);
    EXPECT_FALSE(std::filesystem::exists(dumps / "send_flash.bin"));

    // A retry on the same connection starts afresh instead of waiting for the missing acknowledgement.
    const auto retry = flashLibrary(*connection, makeImage(3000));
    ASSERT_FALSE(retry);
    const auto packets = board->packets();
    ASSERT_EQ(packets.size(), 4U);
    EXPECT_EQ(packets[2], kStartPacket);
}

TEST_F(WifiFirmwareTransferTest, BadAcknowledgementEndsTheConnection) {
    for (const AckPolicy policy : {AckPolicy::badCrc, AckPolicy::refuse}) {
        SCOPED_TRACE(policy == AckPolicy::badCrc ? "bad CRC" : "non-zero response");
        const auto connection = connectBoard(policy);
        const auto result = flashLibrary(*connection, makeImage(3000));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, WifiTransferErrorKind::ackTimeout);
        EXPECT_TRUE(connection->hasEnded());
        EXPECT_TRUE(eventually([&] { return board->closedByServer(); }));
        EXPECT_EQ(board->packets().size(), 1U) << "only the start packet";
        board.reset();
    }
}

TEST_F(WifiFirmwareTransferTest, SplitAcknowledgementsAreJoined) {
    const auto connection = connectBoard(AckPolicy::splitAcks);
    const auto image = makeImage(3000);
    ASSERT_TRUE(flashLibrary(*connection, image));
    ASSERT_TRUE(board->waitForPackets(5, 5s));
    EXPECT_EQ(board->image(), image);
}

TEST_F(WifiFirmwareTransferTest, SecondTransferOnTheSameConnectionIsRefused) {
    const auto connection = connectBoard(AckPolicy::acceptAll);
    const auto image = makeImage(3000);
    tl::expected<void, WifiTransferError> first;
    std::thread firstTransfer([&] { first = flashLibrary(*connection, image); });
    ASSERT_TRUE(board->waitForPackets(1, 5s));
    const auto second = flashLibrary(*connection, image);
    firstTransfer.join();
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind, WifiTransferErrorKind::alreadyRunning);
    EXPECT_TRUE(first);
    EXPECT_EQ(board->image(), image) << "no packet of the second transfer interleaved";
}

// A board that streams samples answers each packet at once: the answer may be read before the io thread
// has seen the packet's send complete, and must count all the same.
TEST_F(WifiFirmwareTransferTest, AnAnswerReadBeforeTheSendsCompletionCounts) {
    test::FirmwarePersonality streaming;
    streaming.period = 1ms;
    const auto image = test::makeTestImage(streaming, 1500);
    test::WifiBoardSimulator streamingBoard(server->port(), streaming, {.reconnectDelay = 5ms});
    for (int transfer = 0; transfer < 30; ++transfer) {
        SCOPED_TRACE(transfer);
        std::shared_ptr<WifiServerConnection> connection;
        ASSERT_TRUE(eventually(
            [&] {
                connection = server->getConnection();
                return connection && connection->modeDetected() == WifiMode::datacollect;
            },
            10s));
        const auto flashed = flashLibrary(*connection, image);
        ASSERT_TRUE(flashed) << flashed.error().message;
    }
}

TEST(WifiPacketDumpTest, ReplacesAnExistingFileAndMakesItPrivate) {
    const auto folder = std::filesystem::temp_directory_path() / ("wifi-dump-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto path = folder / "send_start.bin";
    { std::ofstream(path) << "an older and longer dump"; }
    ::chmod(path.c_str(), 0644);
    savePacketSent(folder, kStartPacket, "start");
    EXPECT_EQ(readBytes(path), kStartPacket);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600U);

    const auto link = folder / "send_flash.bin";
    std::filesystem::create_symlink(folder / "elsewhere.bin", link);
    savePacketSent(folder, kFlashPacket, "flash");
    EXPECT_FALSE(std::filesystem::exists(folder / "elsewhere.bin")) << "a link is never followed";
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace brisel::device
