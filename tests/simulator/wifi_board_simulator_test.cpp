// Simulated WiFi boards against the service's WiFi server and firmware transfer.
#include "support/wifi_board_simulator.h"

#include <gtest/gtest.h>

#include <memory>

#include "device/wifi/firmware_packets.h"
#include "device/wifi/wifi_firmware_transfer.h"
#include "device/wifi/wifi_server.h"
#include "support/eventually.h"
#include "support/temporary_folder.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using device::WifiMode;
using test_support::eventually;

constexpr auto kWait = 10s;

FirmwarePersonality classificationFirmware() {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::classification;
    return firmware;
}

class WifiBoardSimulatorTest : public testing::Test {
  protected:
    void SetUp() override {
        device::WifiServerSettings settings;
        settings.port = 0;
        settings.scope = device::WifiListenScope::loopbackOnly;
        settings.timings.ackTimeout = 2s;
        settings.timings.stagePause = 20ms;
        settings.dumpFolder = folder.path();
        server = std::make_unique<device::WifiServer>(settings);
        ASSERT_TRUE(server->start());
    }

    bool waitForMode(WifiMode mode) {
        return eventually(
            [&] {
                const auto connection = server->getConnection();
                return connection && connection->modeDetected() == mode;
            },
            kWait);
    }

    test_support::TemporaryFolder folder;
    std::unique_ptr<device::WifiServer> server;
};

TEST_F(WifiBoardSimulatorTest, FlashedBoardJoinsTheImageAndComesBackInTheImagesMode) {
    WifiBoardSimulator board(server->port(), FirmwarePersonality{});
    ASSERT_TRUE(waitForMode(WifiMode::datacollect));
    const auto image = makeTestImage(classificationFirmware(), 3000);

    auto sent = device::flashLibrary(*server->getConnection(), image);

    ASSERT_TRUE(sent) << sent.error().message;
    ASSERT_TRUE(
        board.waitUntil([](const WifiBoardSnapshot& state) { return state.connections == 2; }, kWait));
    const auto state = board.snapshot();
    EXPECT_EQ(state.imageSizes, std::vector<std::size_t>{3000});
    EXPECT_TRUE(state.packetFaults.empty());
    EXPECT_EQ(state.packetsReceived, 5U);  // start, three writes, flash
    EXPECT_EQ(state.firmware, classificationFirmware());
    EXPECT_TRUE(waitForMode(WifiMode::classify));
}

TEST_F(WifiBoardSimulatorTest, BoardThatRefusesAcknowledgementsFailsTheTransfer) {
    WifiBoardOptions options;
    options.acks = AckPolicy::refuse;
    WifiBoardSimulator board(server->port(), FirmwarePersonality{}, options);
    ASSERT_TRUE(waitForMode(WifiMode::datacollect));

    auto sent = device::flashLibrary(*server->getConnection(), makeTestImage(classificationFirmware()));

    EXPECT_FALSE(sent);
    EXPECT_TRUE(board.snapshot().imageSizes.empty());
}

TEST(FirmwareReassemblyTest, SoundTransferJoinsTheImage) {
    device::ProtocolFW protocol;
    const std::vector<std::uint8_t> image(2100, 0x5A);
    FirmwareReassembly reassembly;

    reassembly.feed(protocol.generateStartPacket());
    const auto writes = reassembly.feed(*protocol.generateWritePacket(image));
    reassembly.feed(protocol.generateFlashPacket());

    EXPECT_EQ(writes.size(), 3U);
    EXPECT_TRUE(reassembly.complete());
    EXPECT_EQ(reassembly.image(), image);
    EXPECT_TRUE(reassembly.faults().empty());
}

TEST(FirmwareReassemblyTest, CorruptedPacketsAndGapsInTheSequenceAreRefused) {
    device::ProtocolFW protocol;
    const std::vector<std::uint8_t> image(3000, 0x11);
    auto stream = *protocol.generateWritePacket(image);
    FirmwareReassembly reassembly;
    reassembly.feed(protocol.generateStartPacket());

    auto corrupted = std::vector<std::uint8_t>(stream.begin(), stream.begin() + 1024);
    corrupted[100] ^= 0xFF;
    const auto first = reassembly.feed(corrupted);
    const auto skipped = reassembly.feed(std::span(stream).subspan(1024, 1024));  // packet 1 before 0
    const auto flash = reassembly.feed(protocol.generateFlashPacket());

    ASSERT_EQ(first.size(), 1U);
    EXPECT_NE(first[0].fault.value_or("").find("CRC mismatch"), std::string::npos);
    ASSERT_EQ(skipped.size(), 1U);
    EXPECT_EQ(skipped[0].fault, "write packet 1 of 3 where 0 was due");
    ASSERT_EQ(flash.size(), 1U);
    EXPECT_TRUE(flash[0].fault);
    EXPECT_FALSE(reassembly.complete());
}

}  // namespace
}  // namespace brisel::test
