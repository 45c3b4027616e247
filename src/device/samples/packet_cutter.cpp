#include "device/samples/packet_cutter.h"

#include <algorithm>
#include <cstring>

namespace brisel::device {

namespace {

constexpr std::size_t magicBytes = 8;

// Position of `magic` in view[from, until), or `until` when absent. memchr on the first byte, then a
// compare, is several times faster than memmem for an 8-byte needle in short spans.
std::size_t find(std::span<const std::uint8_t> view, std::size_t from, std::size_t until,
                 const std::array<std::uint8_t, 8>& magic) {
    if (until < magic.size() || from > until - magic.size()) {
        return until;
    }
    const std::uint8_t* candidate = view.data() + from;
    const std::uint8_t* const last = view.data() + (until - magic.size());
    while (candidate <= last) {
        const void* hit = std::memchr(candidate, magic[0], static_cast<std::size_t>(last - candidate) + 1);
        if (hit == nullptr) {
            break;
        }
        candidate = static_cast<const std::uint8_t*>(hit);
        if (std::memcmp(candidate, magic.data(), magic.size()) == 0) {
            return static_cast<std::size_t>(candidate - view.data());
        }
        ++candidate;
    }
    return until;
}

// Length of the longest end of `view` that is the beginning of the header magic (0 to 7 bytes).
std::size_t headerStartAtEnd(std::span<const std::uint8_t> view) {
    for (std::size_t length = std::min(view.size(), magicBytes - 1); length > 0; --length) {
        if (std::memcmp(view.data() + (view.size() - length), Sample::HEADER_MAGIC.data(), length) == 0) {
            return length;
        }
    }
    return 0;
}

std::uint64_t readField(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return detail::loadLittleEndian<std::uint32_t>(bytes.data() + offset);
}

}  // namespace

PacketCutter::PacketCutter(std::size_t maxPacketBytes)
    : maxPacketBytes_(std::max(maxPacketBytes, Sample::fixedHeaderBytes + magicBytes)) {}

void PacketCutter::clear() {
    pending_.clear();
    noFooterBefore_ = 0;
    ownedPackets_.clear();
}

std::size_t PacketCutter::bytesToComplete() const {
    constexpr std::size_t lengthFieldsEnd = 20;
    if (pending_.size() < lengthFieldsEnd) {
        return lengthFieldsEnd - pending_.size();
    }
    const std::uint64_t total = readField(pending_, 12) + readField(pending_, 16) + magicBytes;
    if (total > pending_.size() && total <= maxPacketBytes_) {
        return static_cast<std::size_t>(total) - pending_.size();
    }
    // Lengths that cannot be right: the footer decides, wherever it is.
    return maxPacketBytes_;
}

CutReport PacketCutter::feed(std::span<const std::uint8_t> bytes,
                             std::vector<std::span<const std::uint8_t>>& accepted) {
    CutReport report;
    ownedPackets_.clear();
    std::size_t used = 0;
    // Complete the held-back packet by copying only as many bytes as it needs.
    while (!pending_.empty() && used < bytes.size()) {
        const std::size_t step = std::min(bytesToComplete(), bytes.size() - used);
        pending_.insert(pending_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(used),
                        bytes.begin() + static_cast<std::ptrdiff_t>(used + step));
        used += step;
        const std::size_t consumed = cutView(pending_, PacketHome::ownStorage, report, accepted);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(consumed));
        noFooterBefore_ -= std::min(noFooterBefore_, consumed);
    }
    if (!pending_.empty()) {
        return report;
    }
    // Nothing held back: cut the rest where it lies and keep only what remains.
    const std::span<const std::uint8_t> rest = bytes.subspan(used);
    noFooterBefore_ = 0;
    const std::size_t consumed = cutView(rest, PacketHome::view, report, accepted);
    pending_.assign(rest.begin() + static_cast<std::ptrdiff_t>(consumed), rest.end());
    noFooterBefore_ -= std::min(noFooterBefore_, consumed);
    return report;
}

std::size_t PacketCutter::cutView(std::span<const std::uint8_t> view, PacketHome home, CutReport& report,
                                  std::vector<std::span<const std::uint8_t>>& accepted) {
    const std::size_t end = view.size();
    const std::size_t firstViewSpan = accepted.size();
    std::size_t start = 0;
    while (start < end) {
        const std::size_t header = find(view, start, end, Sample::HEADER_MAGIC);
        if (header == end) {
            // Keep only what could be the first bytes of a header split across reads.
            return end - headerStartAtEnd(view.subspan(start));
        }
        start = header;
        // The footer must end within the largest packet, however the stream was split.
        const std::size_t searchEnd = std::min(end, start + maxPacketBytes_);
        const std::size_t footer =
            find(view, std::max(start, noFooterBefore_), searchEnd, Sample::FOOTER_MAGIC);
        if (footer == searchEnd) {
            if (end - start < maxPacketBytes_) {
                noFooterBefore_ = std::max(start, end - std::min(end, magicBytes - 1));
                return start;
            }
            // No footer within the largest packet: give this header up and look for the next one.
            ++report.rejectedPackets;
            report.lastError = SampleError::lengthMismatch;
            noFooterBefore_ = std::max(noFooterBefore_, searchEnd - std::min(searchEnd, magicBytes - 1));
            start += 1;
            continue;
        }
        const std::size_t packetEnd = footer + magicBytes;
        const std::span<const std::uint8_t> packet = view.subspan(start, packetEnd - start);
        if (const auto valid = Sample::validate(packet); valid) {
            if (home == PacketHome::view) {
                // Packets that follow each other in the view go out as one span: one copy in the kernel.
                if (accepted.size() > firstViewSpan &&
                    accepted.back().data() + accepted.back().size() == packet.data()) {
                    accepted.back() =
                        std::span(accepted.back().data(), accepted.back().size() + packet.size());
                } else {
                    accepted.push_back(packet);
                }
            } else {
                ownedPackets_.emplace_back(packet.begin(), packet.end());
                accepted.emplace_back(ownedPackets_.back());
            }
            ++report.acceptedPackets;
        } else {
            ++report.rejectedPackets;
            report.lastError = valid.error();
        }
        start = packetEnd;
        noFooterBefore_ = packetEnd;
    }
    return start;
}

}  // namespace brisel::device
