#include "device/samples/packet_cutter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "device/samples/sample_packet_builder.h"
#include "support/random_sample_packets.h"

namespace brisel::device {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes packetWithTemperature(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{5, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

// Gathers the bytes of the packets a cutter hands out, in order.
struct Collector {
    CutReport feed(PacketCutter& cutter, std::span<const std::uint8_t> chunk) {
        std::vector<std::span<const std::uint8_t>> spans;
        const CutReport report = cutter.feed(chunk, spans);
        for (const auto& packet : spans) {
            bytes.insert(bytes.end(), packet.begin(), packet.end());
        }
        return report;
    }
    Bytes bytes;
};

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
    PacketCutter cutter;
    Collector accepted;
    const auto packet = packetWithTemperature(1);
    const auto report = accepted.feed(cutter, join({text("xyz"), packet}));
    EXPECT_EQ(report.acceptedPackets, 1u);
    EXPECT_EQ(accepted.bytes, packet);
    EXPECT_EQ(cutter.bufferedBytes(), 0u);
}

TEST(PacketCutterTest, TwoPacketsInOneReadAreBothKeptInOrder) {
    PacketCutter cutter;
    Collector accepted;
    const auto first = packetWithTemperature(1);
    const auto second = packetWithTemperature(2);
    EXPECT_EQ(accepted.feed(cutter, join({first, second})).acceptedPackets, 2u);
    EXPECT_EQ(accepted.bytes, join({first, second}));
}

TEST(PacketCutterTest, HeaderWithoutFooterWaitsForTheRest) {
    PacketCutter cutter;
    Collector accepted;
    const auto packet = packetWithTemperature(3);
    const Bytes head(packet.begin(), packet.end() - 5);
    const Bytes tail(packet.end() - 5, packet.end());
    EXPECT_EQ(accepted.feed(cutter, head).acceptedPackets, 0u);
    EXPECT_EQ(cutter.bufferedBytes(), head.size());
    EXPECT_EQ(accepted.feed(cutter, tail).acceptedPackets, 1u);
    EXPECT_EQ(accepted.bytes, packet);
}

TEST(PacketCutterTest, HeaderSplitAcrossReadsIsFound) {
    PacketCutter cutter;
    Collector accepted;
    const auto packet = packetWithTemperature(4);
    accepted.feed(cutter, join({text("garbage"), Bytes(packet.begin(), packet.begin() + 5)}));
    accepted.feed(cutter, Bytes(packet.begin() + 5, packet.end()));
    EXPECT_EQ(accepted.bytes, packet);
}

TEST(PacketCutterTest, FailedPacketIsDroppedAndTheNextKept) {
    PacketCutter cutter;
    Collector accepted;
    auto broken = packetWithTemperature(5);
    storeLittleEndian32(broken, 8, 2);
    const auto good = packetWithTemperature(6);
    const auto report = accepted.feed(cutter, join({broken, good}));
    EXPECT_EQ(report.acceptedPackets, 1u);
    EXPECT_EQ(report.rejectedPackets, 1u);
    EXPECT_EQ(report.lastError, SampleError::unsupportedVersion);
    EXPECT_EQ(accepted.bytes, good);
}

TEST(PacketCutterTest, FooterInsideThePayloadCutsThePacketShort) {
    PacketCutter cutter;
    Collector accepted;
    SamplePacketContents contents;
    contents.entries = {{7, text("END_DATA")}};
    const auto report = accepted.feed(cutter, buildSamplePacket(contents));
    EXPECT_EQ(report.acceptedPackets, 0u);
    EXPECT_EQ(report.rejectedPackets, 1u);
    EXPECT_TRUE(accepted.bytes.empty());
}

TEST(PacketCutterTest, GarbageKeepsAtMostAHeadersWorth) {
    PacketCutter cutter;
    Collector accepted;
    std::mt19937 random(1);
    Bytes noise(100000);
    for (auto& byte : noise) {
        byte = static_cast<std::uint8_t>('a' + random() % 26);
    }
    accepted.feed(cutter, noise);
    EXPECT_LE(cutter.bufferedBytes(), 7u);
    const auto packet = packetWithTemperature(7);
    accepted.feed(cutter, packet);
    EXPECT_EQ(accepted.bytes, packet);
}

TEST(PacketCutterTest, HeaderWithoutFooterIsGivenUpPastTheBound) {
    constexpr std::size_t bound = 1000;
    PacketCutter cutter(bound);
    Collector accepted;
    const auto packet = packetWithTemperature(8);
    const Bytes header(packet.begin(), packet.begin() + 28);
    std::size_t rejected = accepted.feed(cutter, header).rejectedPackets;
    for (int i = 0; i < 50; ++i) {
        rejected += accepted.feed(cutter, Bytes(100, 'z')).rejectedPackets;
        ASSERT_LE(cutter.bufferedBytes(), cutter.maxBufferedBytes());
    }
    EXPECT_EQ(rejected, 1u);
    EXPECT_LE(cutter.bufferedBytes(), 7u);
    accepted.feed(cutter, packet);
    EXPECT_EQ(accepted.bytes, packet);
}

TEST(PacketCutterTest, PacketLongerThanTheBoundIsRejectedHoweverItArrives) {
    SamplePacketContents contents;
    contents.entries = {{7, Bytes(2000, 0x01)}};
    const auto longPacket = buildSamplePacket(contents);
    const auto good = packetWithTemperature(9);
    const auto stream = join({longPacket, good});
    for (std::size_t chunk : {stream.size(), std::size_t{64}, std::size_t{1}}) {
        PacketCutter cutter(1000);
        Collector accepted;
        std::size_t rejected = 0;
        for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
            const std::size_t count = std::min(chunk, stream.size() - offset);
            rejected += accepted.feed(cutter, std::span(stream).subspan(offset, count)).rejectedPackets;
        }
        EXPECT_EQ(accepted.bytes, good) << "chunk " << chunk;
        EXPECT_GE(rejected, 1u) << "chunk " << chunk;
    }
}

TEST(PacketCutterTest, ManyHeadersWithoutFootersStayBoundedAndLinear) {
    constexpr std::size_t bound = 4096;
    PacketCutter cutter(bound);
    Collector accepted;
    Bytes headers;
    for (int i = 0; i < 20000; ++i) {
        headers.insert(headers.end(), Sample::HEADER_MAGIC.begin(), Sample::HEADER_MAGIC.end());
    }
    const auto report = accepted.feed(cutter, headers);
    EXPECT_GT(report.rejectedPackets, 0u);
    EXPECT_LE(cutter.bufferedBytes(), cutter.maxBufferedBytes());
    EXPECT_TRUE(accepted.bytes.empty());
}

TEST(PacketCutterTest, RandomChunkingKeepsExactlyTheValidPackets) {
    std::mt19937_64 random(42);
    PacketCutter cutter;
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
    Collector accepted;
    std::size_t rejected = 0;
    for (std::size_t offset = 0; offset < stream.size();) {
        const std::size_t chunk = std::min<std::size_t>(1 + random() % 300, stream.size() - offset);
        rejected += accepted.feed(cutter, std::span(stream).subspan(offset, chunk)).rejectedPackets;
        offset += chunk;
    }
    EXPECT_EQ(accepted.bytes, expected);
    EXPECT_EQ(rejected, broken);
    EXPECT_EQ(cutter.bufferedBytes(), 0u);
}

}  // namespace
}  // namespace brisel::device
