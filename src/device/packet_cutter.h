// Cuts a board's byte stream into sample packets and keeps the raw bytes of those that parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/kinds_placeholder.h"
#include "device/sample.h"

namespace brisel::device {

// What one `PacketCutter::feed` call did.
struct CutReport {
    std::size_t acceptedPackets = 0;       // packets that parsed; their bytes went to `accepted`
    std::size_t rejectedPackets = 0;       // packets that failed to parse or never found a footer
    std::optional<SampleError> lastError;  // reason of the latest rejected packet of this call
};

// A packet runs from a header magic "VLK_STLE" through the first footer magic "END_DATA" after it.
// Bytes before a header are discarded. The buffer stays bounded: without a header it keeps at most
// the last 7 bytes (the start of a header split across reads); a header that has no footer within
// `maxPacketBytes` bytes is given up (counted as rejected with `lengthMismatch`) and the search goes on
// after it. Not thread-safe: one owner (the reader's loop thread).
class PacketCutter {
  public:
    explicit PacketCutter(common::DeviceKind deviceKind,
                          std::size_t maxPacketBytes = Sample::maxSampleBytes());

    // Adds `bytes` to the buffered ones and cuts every whole packet out of them, in order. The bytes of
    // each packet that parses are appended to `accepted`, one after the other.
    CutReport feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& accepted);

    // Bytes held back for the next call (an incomplete packet or the tail of garbage).
    std::size_t bufferedBytes() const { return buffer_.size() - start_; }

    // The largest number of bytes the cutter can hold back between calls.
    std::size_t maxBufferedBytes() const { return maxPacketBytes_ - 1; }

    // Forgets every buffered byte.
    void clear();

  private:
    void cut(CutReport& report, std::vector<std::uint8_t>& accepted);
    void compact();

    common::DeviceKind deviceKind_;
    std::size_t maxPacketBytes_;
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;           // first byte not yet consumed
    std::size_t noFooterBefore_ = 0;  // no footer begins in [start_, noFooterBefore_)
};

}  // namespace brisel::device
