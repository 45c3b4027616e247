// Cuts a board's byte stream into sample packets and keeps the raw bytes of those that are valid
// (`Sample::validate`, the same checks as `Sample::parse`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device/samples/sample.h"

namespace brisel::device {

// What one `PacketCutter::feed` call did.
struct CutReport {
    std::size_t acceptedPackets = 0;       // valid packets, handed out in `accepted`
    std::size_t rejectedPackets = 0;       // packets that failed to parse or never found a footer
    std::optional<SampleError> lastError;  // reason of the latest rejected packet of this call
};

// A packet runs from a header magic "VLK_STLE" through the first footer magic "END_DATA" after it.
// Bytes before a header are discarded. The buffer stays bounded: without a header it keeps at most
// the 7 last bytes that could begin a header split across reads; a header that has no footer within
// `maxPacketBytes` bytes is given up (counted as rejected with `lengthMismatch`) and the search goes on
// after it. The result does not depend on how the stream is split into `feed` calls.
// Not thread-safe: one owner (the reader's loop thread).
class PacketCutter {
  public:
    explicit PacketCutter(std::size_t maxPacketBytes = Sample::maxSampleBytes());

    // Adds `bytes` to the held-back ones and cuts every whole packet out of them, in stream order. The
    // valid packets are appended to `accepted` as spans into `bytes` or into the cutter's own storage
    // (packets that follow each other directly share one span);
    // the spans stay valid until the next `feed` or `clear` and until `bytes` changes.
    CutReport feed(std::span<const std::uint8_t> bytes, std::vector<std::span<const std::uint8_t>>& accepted);

    // Bytes held back for the next call (an incomplete packet or the start of a header).
    std::size_t bufferedBytes() const { return pending_.size(); }

    // The largest number of bytes the cutter can hold back between calls.
    std::size_t maxBufferedBytes() const { return maxPacketBytes_ - 1; }

    // Forgets every held-back byte.
    void clear();

  private:
    enum class PacketHome { view, ownStorage };

    // Cuts packets out of view[0, size) from `consumed` on; returns where unconsumed bytes begin.
    std::size_t cutView(std::span<const std::uint8_t> view, PacketHome home, CutReport& report,
                        std::vector<std::span<const std::uint8_t>>& accepted);
    // How many more bytes the held-back packet needs before its footer can be checked.
    std::size_t bytesToComplete() const;

    std::size_t maxPacketBytes_;
    std::vector<std::uint8_t> pending_;                    // held back from earlier calls
    std::size_t noFooterBefore_ = 0;                       // in the current view: no footer starts before it
    std::vector<std::vector<std::uint8_t>> ownedPackets_;  // packets cut out of `pending_` in this call
};

}  // namespace brisel::device
