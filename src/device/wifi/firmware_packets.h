// The three firmware packets of a WiFi board's update: start, write (the image in chunks) and flash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <tl/expected.hpp>

#include "device/wifi/framed_packet.h"

namespace brisel::device {

class ProtocolFW : public ProtocolBase {
  public:
    // Image bytes per write packet; a full write packet is then exactly kMaxPacketSize bytes.
    static constexpr std::size_t kChunkSize = 1008;
    static constexpr std::size_t kMaxPacketSize = 1024;
    // The chunk index and count travel as signed 16-bit values.
    static constexpr std::size_t kMaxChunks = 32767;

    ProtocolFW() : ProtocolBase(ProtocolType::PROTOCOL_FW) {}

    // One packet with one item, command "S", no data (12 bytes).
    Bytes generateStartPacket() const;
    // One packet with one item, command "F", no data (12 bytes).
    Bytes generateFlashPacket() const;

    // For each kChunkSize chunk i of n (the last may be shorter) one packet whose item has command "W"
    // and data createCommandPacketRaw(i, n, chunk); the packets concatenated in order, so the stream
    // splits into kMaxPacketSize pieces that are one packet each. No bytes for an empty image.
    // Error: more than kMaxChunks chunks (the image cannot be framed).
    tl::expected<Bytes, FramingError> generateWritePacket(std::span<const std::uint8_t> binaryData) const;

    // i and n as signed 16-bit little-endian, then data.
    static Bytes createCommandPacketRaw(std::int16_t i, std::int16_t n, std::span<const std::uint8_t> data);

  private:
    Bytes singleCommandPacket(char command) const;
};

}  // namespace brisel::device
