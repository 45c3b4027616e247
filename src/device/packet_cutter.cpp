#include "device/packet_cutter.h"

#include <algorithm>
#include <cstring>

namespace brisel::device {

namespace {

constexpr std::size_t magicBytes = 8;

// Position of `magic` in bytes[from, size), or size when absent.
std::size_t find(const std::vector<std::uint8_t>& bytes, std::size_t from,
                 const std::array<std::uint8_t, 8>& magic) {
    if (from >= bytes.size()) {
        return bytes.size();
    }
    const void* hit = memmem(bytes.data() + from, bytes.size() - from, magic.data(), magic.size());
    if (hit == nullptr) {
        return bytes.size();
    }
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes.data());
}

}  // namespace

PacketCutter::PacketCutter(common::DeviceKind deviceKind, std::size_t maxPacketBytes)
    : deviceKind_(deviceKind),
      maxPacketBytes_(std::max(maxPacketBytes, Sample::fixedHeaderBytes + magicBytes)) {}

CutReport PacketCutter::feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& accepted) {
    CutReport report;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    cut(report, accepted);
    compact();
    return report;
}

void PacketCutter::clear() {
    buffer_.clear();
    start_ = 0;
    noFooterBefore_ = 0;
}

void PacketCutter::cut(CutReport& report, std::vector<std::uint8_t>& accepted) {
    const std::size_t end = buffer_.size();
    while (start_ < end) {
        const std::size_t header = find(buffer_, start_, Sample::HEADER_MAGIC);
        if (header == end) {
            // Keep only what could be the first bytes of a header split across reads.
            start_ = std::max(start_, end >= magicBytes - 1 ? end - (magicBytes - 1) : 0);
            return;
        }
        start_ = header;
        const std::size_t footer = find(buffer_, std::max(start_, noFooterBefore_), Sample::FOOTER_MAGIC);
        if (footer == end) {
            if (end - start_ < maxPacketBytes_) {
                noFooterBefore_ = std::max(start_, end >= magicBytes - 1 ? end - (magicBytes - 1) : 0);
                return;
            }
            // No footer within the largest packet: give this header up and look for the next one.
            ++report.rejectedPackets;
            report.lastError = SampleError::lengthMismatch;
            start_ += 1;
            noFooterBefore_ = std::max(noFooterBefore_, end - (magicBytes - 1));
            continue;
        }
        const std::size_t packetEnd = footer + magicBytes;
        const std::span<const std::uint8_t> packet(buffer_.data() + start_, packetEnd - start_);
        const auto sample = Sample::parse(packet, deviceKind_);
        if (sample) {
            accepted.insert(accepted.end(), packet.begin(), packet.end());
            ++report.acceptedPackets;
        } else {
            ++report.rejectedPackets;
            report.lastError = sample.error();
        }
        start_ = packetEnd;
        noFooterBefore_ = packetEnd;
    }
}

void PacketCutter::compact() {
    if (start_ == 0) {
        return;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    noFooterBefore_ = noFooterBefore_ > start_ ? noFooterBefore_ - start_ : 0;
    start_ = 0;
}

}  // namespace brisel::device
