#include "support/firmware_reassembly.h"

#include <algorithm>

#include "device/wifi/crc16.h"

namespace brisel::test {

namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kWriteHeader = 4;  // chunk index and chunk count before the chunk

std::int32_t signed16(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

}  // namespace

std::vector<ReceivedFirmwarePacket> FirmwareReassembly::feed(std::span<const std::uint8_t> bytes) {
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    std::vector<ReceivedFirmwarePacket> packets;
    for (;;) {
        std::size_t magic = 0;
        while (magic + 1 < pending.size() && !(pending[magic] == '#' && pending[magic + 1] == '$')) {
            ++magic;
        }
        if (magic + 1 >= pending.size()) {
            // keep a lone '#' that may begin a magic
            const std::size_t keep = !pending.empty() && pending.back() == '#' ? 1 : 0;
            skipped += pending.size() - keep;
            pending.erase(pending.begin(), pending.end() - static_cast<std::ptrdiff_t>(keep));
            return packets;
        }
        skipped += magic;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(magic));
        if (pending.size() < kHeaderSize) {
            return packets;
        }
        const std::int32_t bodySize = signed16(pending[4], pending[5]);
        if (bodySize < 0) {
            faultList.push_back("negative body size");
            pending.erase(pending.begin(), pending.begin() + 2);
            continue;
        }
        const std::size_t total = kHeaderSize + static_cast<std::size_t>(bodySize) + kCrcSize;
        if (pending.size() < total) {
            return packets;
        }
        std::vector<std::uint8_t> packet(pending.begin(),
                                         pending.begin() + static_cast<std::ptrdiff_t>(total));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
        packets.push_back(judge(std::move(packet)));
    }
}

ReceivedFirmwarePacket FirmwareReassembly::judge(std::vector<std::uint8_t> packet) {
    ReceivedFirmwarePacket judged;
    const std::size_t size = packet.size();
    const std::uint16_t stored = static_cast<std::uint16_t>(packet[size - 2] | (packet[size - 1] << 8));
    const std::uint16_t computed = device::crc16(std::span(packet).first(size - kCrcSize));
    // body: item count, command, data size (2), data
    const std::size_t bodySize = size - kHeaderSize - kCrcSize;
    const char command = bodySize >= 2 ? static_cast<char>(packet[kHeaderSize + 1]) : '\0';
    judged.kind = command == 'S'   ? FirmwarePacketKind::start
                  : command == 'W' ? FirmwarePacketKind::write
                  : command == 'F' ? FirmwarePacketKind::flash
                                   : FirmwarePacketKind::unknown;
    if (stored != computed) {
        judged.fault =
            "CRC mismatch: stored " + std::to_string(stored) + ", computed " + std::to_string(computed);
    } else if (packet[2] != 1 || packet[3] != 'F') {
        judged.fault = "not a version 1 firmware packet";
    } else if (bodySize < 4 || packet[kHeaderSize] != 1) {
        judged.fault = "not one command item";
    } else {
        const std::int32_t dataSize = signed16(packet[kHeaderSize + 2], packet[kHeaderSize + 3]);
        const std::size_t dataStart = kHeaderSize + 4;
        if (dataSize < 0 || dataStart + static_cast<std::size_t>(dataSize) != size - kCrcSize) {
            judged.fault = "data size does not match the body";
        } else if (judged.kind == FirmwarePacketKind::start) {
            started = true;
            flashed = false;
            joined.clear();
            chunkCount.reset();
            nextChunk = 0;
        } else if (judged.kind == FirmwarePacketKind::write) {
            if (!started || dataSize < static_cast<std::int32_t>(kWriteHeader)) {
                judged.fault = started ? "write packet without index and count" : "write packet before start";
            } else {
                const std::int32_t index = signed16(packet[dataStart], packet[dataStart + 1]);
                const std::int32_t count = signed16(packet[dataStart + 2], packet[dataStart + 3]);
                if (index != nextChunk || (chunkCount && count != *chunkCount) || count <= index) {
                    judged.fault = "write packet " + std::to_string(index) + " of " + std::to_string(count) +
                                   " where " + std::to_string(nextChunk) + " was due";
                } else {
                    chunkCount = count;
                    ++nextChunk;
                    joined.insert(joined.end(),
                                  packet.begin() + static_cast<std::ptrdiff_t>(dataStart + kWriteHeader),
                                  packet.end() - static_cast<std::ptrdiff_t>(kCrcSize));
                }
            }
        } else if (judged.kind == FirmwarePacketKind::flash) {
            if (!chunkCount || nextChunk != *chunkCount) {
                judged.fault = "flash packet before the whole image came";
            } else {
                flashed = true;
            }
        } else {
            judged.fault = "unknown command";
        }
    }
    if (judged.fault) {
        faultList.push_back(*judged.fault);
    }
    judged.bytes = std::move(packet);
    return judged;
}

}  // namespace brisel::test
