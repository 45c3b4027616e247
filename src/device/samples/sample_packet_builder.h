// Encodes sample packets from their fields: what boards send. Used by the board simulator, the tests,
// the fuzz targets and the benchmarks; the service itself only decodes packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace brisel::device {

// One sensor entry: the id as the board sends it and the entry's bytes.
struct SampleEntry {
    std::uint32_t sensorId = 0;
    std::vector<std::uint8_t> bytes;
};

// The fields of one packet. Header length, payload length and entry count follow from `entries`.
struct SamplePacketContents {
    std::uint32_t version = 1;
    std::uint32_t timeStamp = 0;
    std::vector<SampleEntry> entries;
};

// The packet's bytes: header magic, the six fields, the entries, their bytes, footer magic.
std::vector<std::uint8_t> buildSamplePacket(const SamplePacketContents& contents);

// Writes `value` little-endian at `offset`; the four bytes must lie inside `bytes`.
void storeLittleEndian32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

}  // namespace brisel::device
