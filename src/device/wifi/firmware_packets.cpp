#include "device/wifi/firmware_packets.h"

#include <algorithm>
#include <cassert>
#include <string>
#include <utility>

namespace brisel::device {

Bytes ProtocolFW::generateStartPacket() const {
    return singleCommandPacket('S');
}

Bytes ProtocolFW::generateFlashPacket() const {
    return singleCommandPacket('F');
}

Bytes ProtocolFW::singleCommandPacket(char command) const {
    ProtocolPacket packet = createPacket();
    packet.body.cp.front().command = std::string(1, command);
    tl::expected<Bytes, FramingError> bytes = serialize(packet);
    assert(bytes.has_value());  // one empty item always fits
    return std::move(*bytes);
}

tl::expected<Bytes, FramingError> ProtocolFW::generateWritePacket(
    std::span<const std::uint8_t> binaryData) const {
    const std::size_t chunkCount =
        binaryData.size() / kChunkSize + (binaryData.size() % kChunkSize != 0 ? 1 : 0);
    if (chunkCount > kMaxChunks) {
        return tl::unexpected(FramingError{"the image of " + std::to_string(binaryData.size()) +
                                           " bytes is too large for the firmware protocol (at most " +
                                           std::to_string(kMaxChunks * kChunkSize) + " bytes)"});
    }
    Bytes stream;
    stream.reserve(chunkCount * kMaxPacketSize);
    const auto count = static_cast<std::int16_t>(chunkCount);
    for (std::size_t index = 0; index < chunkCount; ++index) {
        const std::size_t offset = index * kChunkSize;
        std::span<const std::uint8_t> chunk =
            binaryData.subspan(offset, std::min(kChunkSize, binaryData.size() - offset));
        ProtocolPacket packet = createPacket();
        ProtocolCP& item = packet.body.cp.front();
        item.command = "W";
        item.data = createCommandPacketRaw(static_cast<std::int16_t>(index), count, chunk);
        item.dataSize = static_cast<std::int16_t>(item.data.size());  // at most 4 + kChunkSize
        tl::expected<Bytes, FramingError> bytes = serialize(packet);
        if (!bytes) {
            return tl::unexpected(bytes.error());
        }
        stream.insert(stream.end(), bytes->begin(), bytes->end());
    }
    return stream;
}

Bytes ProtocolFW::createCommandPacketRaw(std::int16_t i, std::int16_t n, std::span<const std::uint8_t> data) {
    Bytes bytes;
    bytes.reserve(4 + data.size());
    for (std::int16_t value : {i, n}) {
        auto bits = static_cast<std::uint16_t>(value);
        bytes.push_back(static_cast<std::uint8_t>(bits & 0xFFU));
        bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

}  // namespace brisel::device
