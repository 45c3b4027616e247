#include "device/samples/sample_packet_builder.h"

#include <cassert>

#include "device/samples/sample.h"

namespace brisel::device {

void storeLittleEndian32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    assert(offset <= bytes.size() && bytes.size() - offset >= 4);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::vector<std::uint8_t> buildSamplePacket(const SamplePacketContents& contents) {
    std::size_t payloadLength = 0;
    for (const SampleEntry& entry : contents.entries) {
        payloadLength += entry.bytes.size();
    }
    const std::size_t headerLength = Sample::fixedHeaderBytes + Sample::entryBytes * contents.entries.size();
    std::vector<std::uint8_t> packet(headerLength + payloadLength + Sample::footerBytes);
    std::copy(Sample::HEADER_MAGIC.begin(), Sample::HEADER_MAGIC.end(), packet.begin());
    storeLittleEndian32(packet, 8, contents.version);
    storeLittleEndian32(packet, 12, static_cast<std::uint32_t>(headerLength));
    storeLittleEndian32(packet, 16, static_cast<std::uint32_t>(payloadLength));
    storeLittleEndian32(packet, 20, static_cast<std::uint32_t>(contents.entries.size()));
    storeLittleEndian32(packet, 24, contents.timeStamp);
    std::size_t entryOffset = Sample::fixedHeaderBytes;
    std::size_t payloadOffset = headerLength;
    for (const SampleEntry& entry : contents.entries) {
        storeLittleEndian32(packet, entryOffset, entry.sensorId);
        storeLittleEndian32(packet, entryOffset + 4, static_cast<std::uint32_t>(entry.bytes.size()));
        std::copy(entry.bytes.begin(), entry.bytes.end(),
                  packet.begin() + static_cast<std::ptrdiff_t>(payloadOffset));
        entryOffset += Sample::entryBytes;
        payloadOffset += entry.bytes.size();
    }
    std::copy(Sample::FOOTER_MAGIC.begin(), Sample::FOOTER_MAGIC.end(),
              packet.begin() + static_cast<std::ptrdiff_t>(payloadOffset));
    return packet;
}

}  // namespace brisel::device
