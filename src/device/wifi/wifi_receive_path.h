// What a WiFi connection does with each chunk it reads: mode detection, acknowledgement recognition
// during a firmware transfer, and routing to the data buffer or the prediction mailbox. No socket
// here, so every rule can be driven directly by tests and the fuzzer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/wifi/wifi_data_buffer.h"
#include "device/wifi/wifi_mode.h"
#include "device/wifi/wifi_prediction_mailbox.h"

namespace brisel::device {

// The transfer state seen by one read.
struct TransferFlags {
    bool flashing = false;      // a firmware transfer is running
    bool sendComplete = false;  // its last packet has been handed to the network
};

enum class AckVerdict {
    none,      // the chunk held no whole acknowledgement
    accepted,  // a valid acknowledgement with response 0: release the waiting sender
    rejected,  // a bad CRC or a non-zero response: end the connection
};

// Read lengths of the protocol.
inline constexpr std::size_t kInitialReadLength = 10;
inline constexpr std::size_t kModeKnownReadLength = 4096;
inline constexpr std::size_t kTransferReadLength = 1024;
inline constexpr std::size_t kAckPacketLength = 10;

// The bytes a connection may send before its mode marker. A board shows its marker at once: every
// sample packet begins with "VLK_STLE", and a classification board's first "PRED:" line follows at
// most a few short latency or score lines. A connection that sends more without one, outside a
// firmware transfer, is closed.
inline constexpr std::size_t kUndecidedByteLimit = 128;

// Whether a connection writes its own lines (arrival, reads before its mode, mode, end) to the log.
enum class ConnectionLines { logged, leftOut };

// Position of the first "#$" pair in `bytes`, or -1 when there is none.
std::ptrdiff_t indexOfMagic(std::span<const std::uint8_t> bytes);

// Used on the connection's io thread only, except mode(), which any thread may read.
class WifiReceivePath {
  public:
    WifiReceivePath(std::int64_t connectionId, WifiDataBuffer& dataBuffer, PredictionMailbox& mailbox,
                    ConnectionLines lines = ConnectionLines::logged);

    // Handles one received chunk (not empty) and says what became of an acknowledgement in it.
    AckVerdict receive(std::span<const std::uint8_t> chunk, TransferFlags flags);

    // Looks for an acknowledgement in bytes that were received (and handled by receive()) while the
    // packet they answer was still on its way out, now that its send is complete. None outside a
    // transfer, before the mode is known or before the send completed.
    AckVerdict acknowledgementIn(std::span<const std::uint8_t> bytes, TransferFlags flags);

    // The length of the next read: 10 until the mode is known, then 4096; while a transfer runs, 1024
    // or just the bytes still missing from a split acknowledgement. Outside a transfer it forgets any
    // partial acknowledgement.
    std::size_t nextReadLength(bool flashing);

    WifiMode mode() const { return modeDetected.load(); }

    // Bytes of a partial acknowledgement kept for the next read (at most 9).
    std::size_t pendingAckBytes() const { return pendingAck.size(); }

    // The bytes received while no mode was known, and the first of them (at most kUndecidedByteLimit).
    std::size_t undecidedBytes() const { return bytesBeforeMode; }
    const std::string& firstBytes() const { return opening; }

  private:
    AckVerdict recogniseAck(std::span<const std::uint8_t> chunk);
    void detectMode(std::span<const std::uint8_t> chunk);

    const std::int64_t connectionId;
    const ConnectionLines lines;
    WifiDataBuffer& dataBuffer;
    PredictionMailbox& mailbox;
    std::atomic<WifiMode> modeDetected{WifiMode::none};
    WifiModeDetector detector;
    std::vector<std::uint8_t> pendingAck;
    std::size_t bytesBeforeMode = 0;
    std::string opening;
};

}  // namespace brisel::device
