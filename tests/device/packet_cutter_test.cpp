#include "device/packet_cutter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "device/sample_packet_builder.h"
#include "support/random_sample_packets.h"

namespace brisel::device {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr common::DeviceKind kBoard = common::DeviceKind::STWINKT1;

Bytes packetWithTemperature(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{5, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

Bytes text(const std::string& value) {
    return Bytes(value.begin(), value.end());
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(PacketCutterTest, BytesBeforeAHeaderAreDiscardedAndThePacketKept) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    const auto packet = packetWithTemperature(1);
    const auto report = cutter.feed(join({text("xyz"), packet}), accepted);
    EXPECT_EQ(report.acceptedPackets, 1u);
    EXPECT_EQ(accepted, packet);
    EXPECT_EQ(cutter.bufferedBytes(), 0u);
}

TEST(PacketCutterTest, TwoPacketsInOneReadAreBothKeptInOrder) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    const auto first = packetWithTemperature(1);
    const auto second = packetWithTemperature(2);
    EXPECT_EQ(cutter.feed(join({first, second}), accepted).acceptedPackets, 2u);
    EXPECT_EQ(accepted, join({first, second}));
}

TEST(PacketCutterTest, HeaderWithoutFooterWaitsForTheRest) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    const auto packet = packetWithTemperature(3);
    const Bytes head(packet.begin(), packet.end() - 5);
    const Bytes tail(packet.end() - 5, packet.end());
    EXPECT_EQ(cutter.feed(head, accepted).acceptedPackets, 0u);
    EXPECT_EQ(cutter.bufferedBytes(), head.size());
    EXPECT_EQ(cutter.feed(tail, accepted).acceptedPackets, 1u);
    EXPECT_EQ(accepted, packet);
}

TEST(PacketCutterTest, HeaderSplitAcrossReadsIsFound) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    const auto packet = packetWithTemperature(4);
    cutter.feed(join({text("garbage"), Bytes(packet.begin(), packet.begin() + 5)}), accepted);
    cutter.feed(Bytes(packet.begin() + 5, packet.end()), accepted);
    EXPECT_EQ(accepted, packet);
}

TEST(PacketCutterTest, FailedPacketIsDroppedAndTheNextKept) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    auto broken = packetWithTemperature(5);
    storeLittleEndian32(broken, 8, 2);
    const auto good = packetWithTemperature(6);
    const auto report = cutter.feed(join({broken, good}), accepted);
    EXPECT_EQ(report.acceptedPackets, 1u);
    EXPECT_EQ(report.rejectedPackets, 1u);
    EXPECT_EQ(report.lastError, SampleError::unsupportedVersion);
    EXPECT_EQ(accepted, good);
}

TEST(PacketCutterTest, FooterInsideThePayloadCutsThePacketShort) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    SamplePacketContents contents;
    contents.entries = {{7, text("END_DATA")}};
    const auto report = cutter.feed(buildSamplePacket(contents), accepted);
    EXPECT_EQ(report.acceptedPackets, 0u);
    EXPECT_EQ(report.rejectedPackets, 1u);
    EXPECT_TRUE(accepted.empty());
}

TEST(PacketCutterTest, GarbageKeepsAtMostAHeadersWorth) {
    PacketCutter cutter(kBoard);
    Bytes accepted;
    std::mt19937 random(1);
    Bytes noise(100000);
    for (auto& byte : noise) {
        byte = static_cast<std::uint8_t>('a' + random() % 26);
    }
    cutter.feed(noise, accepted);
    EXPECT_LE(cutter.bufferedBytes(), 7u);
    const auto packet = packetWithTemperature(7);
    cutter.feed(packet, accepted);
    EXPECT_EQ(accepted, packet);
}

TEST(PacketCutterTest, HeaderWithoutFooterIsGivenUpPastTheBound) {
    constexpr std::size_t bound = 1000;
    PacketCutter cutter(kBoard, bound);
    Bytes accepted;
    const auto packet = packetWithTemperature(8);
    const Bytes header(packet.begin(), packet.begin() + 28);
    std::size_t rejected = cutter.feed(header, accepted).rejectedPackets;
    for (int i = 0; i < 50; ++i) {
        rejected += cutter.feed(Bytes(100, 'z'), accepted).rejectedPackets;
        ASSERT_LE(cutter.bufferedBytes(), cutter.maxBufferedBytes());
    }
    EXPECT_EQ(rejected, 1u);
    EXPECT_LE(cutter.bufferedBytes(), 7u);
    cutter.feed(packet, accepted);
    EXPECT_EQ(accepted, packet);
}

TEST(PacketCutterTest, ManyHeadersWithoutFootersStayBoundedAndLinear) {
    constexpr std::size_t bound = 4096;
    PacketCutter cutter(kBoard, bound);
    Bytes accepted;
    Bytes headers;
    for (int i = 0; i < 20000; ++i) {
        headers.insert(headers.end(), Sample::HEADER_MAGIC.begin(), Sample::HEADER_MAGIC.end());
    }
    const auto report = cutter.feed(headers, accepted);
    EXPECT_GT(report.rejectedPackets, 0u);
    EXPECT_LE(cutter.bufferedBytes(), cutter.maxBufferedBytes());
    EXPECT_TRUE(accepted.empty());
}

TEST(PacketCutterTest, RandomChunkingKeepsExactlyTheValidPackets) {
    std::mt19937_64 random(42);
    PacketCutter cutter(kBoard);
    Bytes stream;
    Bytes expected;
    std::size_t broken = 0;
    for (int i = 0; i < 500; ++i) {
        auto packet = test_support::randomValidPacket(random).bytes;
        switch (random() % 4) {
            case 0:  // noise between packets, without a header magic
                stream.insert(stream.end(), random() % 20, 'q');
                break;
            case 1:  // a wrong version
                storeLittleEndian32(packet, 8, 9);
                ++broken;
                break;
            default:
                break;
        }
        if (packet[8] == 1) {
            expected.insert(expected.end(), packet.begin(), packet.end());
        }
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    Bytes accepted;
    std::size_t rejected = 0;
    for (std::size_t offset = 0; offset < stream.size();) {
        const std::size_t chunk = std::min<std::size_t>(1 + random() % 300, stream.size() - offset);
        rejected += cutter.feed(std::span(stream).subspan(offset, chunk), accepted).rejectedPackets;
        offset += chunk;
    }
    EXPECT_EQ(accepted, expected);
    EXPECT_EQ(rejected, broken);
    EXPECT_EQ(cutter.bufferedBytes(), 0u);
}

}  // namespace
}  // namespace brisel::device
