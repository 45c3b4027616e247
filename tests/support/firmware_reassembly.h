// A WiFi board's receiving end of a firmware transfer: cuts framed packets out of the bytes the service
// sends, checks every CRC and the i/n sequence of the write packets, and joins the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brisel::test {

enum class FirmwarePacketKind { start, write, flash, unknown };

// One whole packet, judged.
struct ReceivedFirmwarePacket {
    FirmwarePacketKind kind = FirmwarePacketKind::unknown;
    std::vector<std::uint8_t> bytes;
    // Why the packet is refused ("CRC mismatch", "write packet 3 of 5 where 2 was due", ...); none
    // when it is sound.
    std::optional<std::string> fault;
};

// Not thread-safe: one owner (the board's thread).
class FirmwareReassembly {
  public:
    // Adds received bytes; returns every packet completed by them, in order. Bytes before a "#$" magic
    // are skipped (counted in `skippedBytes`).
    std::vector<ReceivedFirmwarePacket> feed(std::span<const std::uint8_t> bytes);

    // True once a flash packet followed a complete, sound sequence of write packets.
    bool complete() const { return flashed; }
    // The image joined from the sound write packets so far.
    const std::vector<std::uint8_t>& image() const { return joined; }
    const std::vector<std::string>& faults() const { return faultList; }
    std::size_t skippedBytes() const { return skipped; }

  private:
    ReceivedFirmwarePacket judge(std::vector<std::uint8_t> packet);

    std::vector<std::uint8_t> pending;
    std::vector<std::uint8_t> joined;
    std::vector<std::string> faultList;
    std::optional<std::int32_t> chunkCount;  // n of the first write packet
    std::int32_t nextChunk = 0;
    bool started = false;
    bool flashed = false;
    std::size_t skipped = 0;
};

}  // namespace brisel::test
