// A WiFi board stand-in that receives a firmware transfer: it reads framed packets from the service,
// keeps them, and answers each with an acknowledgement chosen by its policy.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "support/wifi_test_board.h"

namespace brisel::test {

enum class AckPolicy {
    acceptAll,        // a valid acknowledgement for every packet but the flash packet
    acceptStartOnly,  // acknowledges the start packet, then stays silent
    badCrc,           // answers the start packet with a corrupted CRC
    refuse,           // answers the start packet with response 1
    splitAcks,        // every acknowledgement sent as 4 bytes, a pause, then 6 bytes
};

// Pause between the two writes of a split acknowledgement.
inline constexpr std::chrono::milliseconds kSplitAckPause{20};

// What a board writes to acknowledge a firmware packet with `command` ('S', 'W', 'F') under `policy`:
// one write, or two for splitAcks (kSplitAckPause apart); none for the flash packet or when the policy
// stays silent. A packet that is not sound (`packetSound` false) is refused (response 1).
std::vector<std::vector<std::uint8_t>> acknowledgementWrites(AckPolicy policy, char command,
                                                             bool packetSound = true);

class WifiFirmwareBoard {
  public:
    // Takes over a connected board; reading starts at once on an owned thread.
    WifiFirmwareBoard(WifiTestBoard board, AckPolicy policy);
    WifiFirmwareBoard(const WifiFirmwareBoard&) = delete;
    WifiFirmwareBoard& operator=(const WifiFirmwareBoard&) = delete;
    ~WifiFirmwareBoard();

    // Every whole packet received so far, in order.
    std::vector<std::vector<std::uint8_t>> packets() const;
    // The image joined from the data of the write packets.
    std::vector<std::uint8_t> image() const;
    // True once the service closed the connection.
    bool closedByServer() const { return closed.load(); }
    // Waits until `count` packets came; false on timeout.
    bool waitForPackets(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    void run();
    bool readExactly(std::size_t count, std::vector<std::uint8_t>& into);
    void acknowledge(const std::vector<std::uint8_t>& packet);

    WifiTestBoard board;
    const AckPolicy policy;
    std::atomic<bool> stopping{false};
    std::atomic<bool> closed{false};
    mutable std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> received;  // guarded by mutex
    std::thread reader;                               // last: starts after every member exists
};

}  // namespace brisel::test
