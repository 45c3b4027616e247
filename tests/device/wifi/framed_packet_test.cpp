#include "device/wifi/framed_packet.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "device/samples/byte_reader.h"
#include "device/wifi/crc16.h"
#include "device/wifi/firmware_packets.h"
#include "support/standard_output_capture.h"

namespace brisel::device {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A board's acknowledgement of a packet of `protocolByte` with `response`, CRC appended.
Bytes acknowledgement(std::uint8_t protocolByte, std::uint8_t response) {
    Bytes ack{0x23, 0x24, 0x01, 'a', 0x02, 0x00, protocolByte, response};
    std::uint16_t crc = crc16(ack);
    ack.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    ack.push_back(static_cast<std::uint8_t>(crc >> 8));
    return ack;
}

TEST(Crc16Test, XmodemCheckValueAndTable) {
    EXPECT_EQ(crc16(bytesOf("123456789")), 0x31C3);
    EXPECT_EQ(crc16({}), 0);
    EXPECT_EQ(CRC16_XMODEM_TABLE[0], 0x0000);
    EXPECT_EQ(CRC16_XMODEM_TABLE[1], 0x1021);
    EXPECT_EQ(CRC16_XMODEM_TABLE[255], 0x1EF0);
}

TEST(FirmwarePacketTest, StartAndFlashPacketsAreByteExact) {
    ProtocolFW protocol;

    EXPECT_EQ(protocol.generateStartPacket(),
              (Bytes{0x23, 0x24, 0x01, 0x46, 0x04, 0x00, 0x01, 0x53, 0x00, 0x00, 0x40, 0xFF}));
    EXPECT_EQ(protocol.generateFlashPacket(),
              (Bytes{0x23, 0x24, 0x01, 0x46, 0x04, 0x00, 0x01, 0x46, 0x00, 0x00, 0xD3, 0x57}));
}

TEST(FirmwarePacketTest, FullChunkMakesOneMaximumSizePacket) {
    Bytes image(1008);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7);
    }

    auto stream = ProtocolFW().generateWritePacket(image);

    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->size(), 1024U);
    EXPECT_EQ(Bytes(stream->begin(), stream->begin() + 14),
              (Bytes{0x23, 0x24, 0x01, 0x46, 0xF8, 0x03, 0x01, 'W', 0xF4, 0x03, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Bytes(stream->begin() + 14, stream->end() - 2), image);
    auto footer = ProtocolBase::parseFooter(*stream, 1022);
    ASSERT_TRUE(footer);
    EXPECT_TRUE(footer->crcCheck);
}

TEST(FirmwarePacketTest, ImageSplitsIntoOnePacketPerMaximumSizePiece) {
    struct Row {
        const char* label;
        std::size_t imageSize;
        std::vector<std::size_t> packetSizes;
    };
    const Row rows[] = {
        {"empty image", 0, {}},
        {"one byte over a chunk", 1009, {1024, 17}},
        {"three chunks", 3000, {1024, 1024, 1000}},
    };
    for (const Row& row : rows) {
        Bytes image(row.imageSize, 0x5A);
        auto stream = ProtocolFW().generateWritePacket(image);
        ASSERT_TRUE(stream) << row.label;

        std::size_t offset = 0;
        for (std::size_t i = 0; i < row.packetSizes.size(); ++i) {
            std::span<const std::uint8_t> packet(stream->data() + offset, row.packetSizes[i]);
            EXPECT_EQ(readInt16LE(packet, 10), static_cast<std::int16_t>(i)) << row.label;
            EXPECT_EQ(readInt16LE(packet, 12), static_cast<std::int16_t>(row.packetSizes.size()))
                << row.label;
            EXPECT_EQ(readInt16LE(packet, 4), static_cast<std::int16_t>(row.packetSizes[i] - 8)) << row.label;
            EXPECT_TRUE(ProtocolBase::parseFooter(packet, packet.size() - 2)->crcCheck) << row.label;
            offset += row.packetSizes[i];
        }
        EXPECT_EQ(offset, stream->size()) << row.label;
    }
}

TEST(FirmwarePacketTest, ImageBeyondTheSixteenBitChunkCountIsRefused) {
    Bytes largest(ProtocolFW::kMaxChunks * ProtocolFW::kChunkSize, 1);
    auto framed = ProtocolFW().generateWritePacket(largest);
    ASSERT_TRUE(framed);
    EXPECT_EQ(framed->size(), ProtocolFW::kMaxChunks * ProtocolFW::kMaxPacketSize);
    EXPECT_EQ(readInt16LE(*framed, framed->size() - 1024 + 10), 32766);

    largest.push_back(1);
    EXPECT_FALSE(ProtocolFW().generateWritePacket(largest));
}

TEST(FramedPacketTest, BodyRulesAreChecked) {
    ProtocolBase protocol(ProtocolType::PROTOCOL_FW);

    ProtocolBase::ProtocolPacket noItems = protocol.createPacket();
    noItems.body.numOfCp = 0;
    auto empty = protocol.serialize(noItems);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 9U);
    EXPECT_EQ(noItems.header.bodySize, 1);
    EXPECT_EQ(noItems.footer.crc, crc16(std::span(*empty).first(7)));

    ProtocolBase::ProtocolPacket tooMany = protocol.createPacket();
    tooMany.body.numOfCp = 2;
    EXPECT_FALSE(protocol.serialize(tooMany));

    ProtocolBase::ProtocolPacket wrongSize = protocol.createPacket();
    wrongSize.body.cp.front().data = {1, 2, 3};
    wrongSize.body.cp.front().dataSize = 2;
    EXPECT_FALSE(protocol.serialize(wrongSize));

    ProtocolBase::ProtocolPacket oversized = protocol.createPacket();
    ProtocolBase::ProtocolCP big{"W", 20000, Bytes(20000, 0)};
    oversized.body.cp = {big, big};
    oversized.body.numOfCp = 2;
    EXPECT_FALSE(protocol.serialize(oversized));
}

TEST(FramedPacketTest, FewerDeclaredItemsSerialiseOnlyThoseAndLog) {
    ProtocolBase protocol(ProtocolType::PROTOCOL_FW);
    ProtocolBase::ProtocolBody body{1, {{"S", 0, {}}, {"F", 0, {}}}};

    test_support::captureStandardOutput();
    auto bytes = protocol.serializeBody(body);
    std::string log = test_support::capturedStandardOutput();

    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, (Bytes{0x01, 'S', 0x00, 0x00}));
    EXPECT_NE(log.find("WIFI: num_of_cp is not matched!!"), std::string::npos);
}

TEST(FramedPacketTest, HeaderVersionByteFollowsTheRawValue) {
    ProtocolBase protocol(ProtocolType::PROTOCOL_WIFI);
    ProtocolBase::ProtocolHeader header;
    header.protocolType = ProtocolType::PROTOCOL_WIFI;
    header.bodySize = -2;

    EXPECT_EQ(protocol.serializeHeader(header), (Bytes{0x23, 0x24, 0x01, 'W', 0xFE, 0xFF}));
    header.version = ProtocolType::MAX_PACKET_SIZE;
    EXPECT_EQ(protocol.serializeHeader(header)[2], 0x00);  // 1024 truncated to 8 bits
    header.version = ProtocolType::PROTOCOL_USB;
    EXPECT_EQ(protocol.serializeHeader(header)[2], 0xFF);
}

TEST(AcknowledgementTest, AcceptedOnlyWithMatchingCrcAndZeroResponse) {
    auto accepted = ProtocolBase::parseAcknowledgement(acknowledgement('F', 0));
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(accepted->accepted());
    EXPECT_EQ(accepted->ack.dataProtocol, 'F');
    EXPECT_EQ(accepted->header.protocolType, 'a');

    auto refused = ProtocolBase::parseAcknowledgement(acknowledgement('F', 3));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->crcCheck);
    EXPECT_FALSE(refused->accepted());

    Bytes damaged = acknowledgement('F', 0);
    damaged[9] ^= 0x01;
    test_support::captureStandardOutput();
    auto corrupt = ProtocolBase::parseAcknowledgement(damaged);
    std::string log = test_support::capturedStandardOutput();
    ASSERT_TRUE(corrupt);
    EXPECT_FALSE(corrupt->crcCheck);
    EXPECT_FALSE(corrupt->accepted());
    std::uint16_t stored = static_cast<std::uint16_t>(damaged[8] | damaged[9] << 8);
    std::uint16_t computed = crc16(std::span(damaged).first(8));
    EXPECT_NE(log.find("WIFI: CRC error expected " + std::to_string(stored) + " got " +
                       std::to_string(computed) + "!!"),
              std::string::npos);
}

TEST(AcknowledgementTest, ShortOrOffsetReadsAreErrorsNotOverreads) {
    Bytes ack = acknowledgement('F', 0);
    EXPECT_FALSE(ProtocolBase::parseAcknowledgement(std::span(ack).first(9)));
    EXPECT_FALSE(ProtocolBase::parseAcknowledgement({}));

    Bytes longer = ack;
    longer.push_back(0x99);
    EXPECT_TRUE(ProtocolBase::parseAcknowledgement(longer)->accepted());

    const std::size_t far = std::numeric_limits<std::size_t>::max();
    EXPECT_FALSE(ProtocolBase::parseHeader(ack, 5));
    EXPECT_FALSE(ProtocolBase::parseHeader(ack, far - 2));
    EXPECT_FALSE(ProtocolBase::parseFooter(ack, 9));
    EXPECT_FALSE(ProtocolBase::parseFooter(ack, far));
    EXPECT_FALSE(ProtocolBase::parseFooter({}, 0));
    EXPECT_EQ(ProtocolBase::parseHeader(ack, 4)->nextOffset, 10U);
}

}  // namespace
}  // namespace brisel::device
