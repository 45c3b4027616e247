// A simulated WiFi board: a TCP client of the service's board port that streams what its firmware
// personality produces (sample packets or prediction lines), receives a framed firmware transfer
// (every CRC and the i/n sequence checked, the image joined, each packet acknowledged as its policy
// says), and connects again after the service closes the connection, running the image it received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/firmware_personality.h"
#include "support/firmware_reassembly.h"
#include "support/wifi_firmware_board.h"
#include "support/wifi_test_board.h"

namespace brisel::test {

struct WifiBoardSnapshot {
    bool connected = false;
    std::size_t connections = 0;      // connections made so far
    FirmwarePersonality firmware;     // what it runs now
    std::size_t bursts = 0;           // bursts of firmware output begun, over all connections
    std::size_t packetsReceived = 0;  // firmware packets, sound or not
    std::vector<std::string> packetFaults;
    std::vector<std::size_t> imageSizes;  // size of each whole image received, in order
    std::optional<FirmwarePersonality> lastImagePersonality;
};

struct WifiBoardOptions {
    AckPolicy acks = AckPolicy::acceptAll;
    std::chrono::milliseconds reconnectDelay{100};
    // The board reconnects by itself when the service closes the connection.
    bool reconnect = true;
    // When set, the board begins no burst after this many until release() (it still reads and answers).
    std::optional<std::size_t> holdAfterBursts{};
};

// Owns its thread, joined on destruction. Any thread.
class WifiBoardSimulator {
  public:
    WifiBoardSimulator(std::uint16_t port, FirmwarePersonality firmware, WifiBoardOptions options = {});
    ~WifiBoardSimulator();
    WifiBoardSimulator(const WifiBoardSimulator&) = delete;
    WifiBoardSimulator& operator=(const WifiBoardSimulator&) = delete;

    WifiBoardSnapshot snapshot() const;
    // Waits until `condition` holds or `timeout` passes; woken by every change.
    bool waitUntil(const std::function<bool(const WifiBoardSnapshot&)>& condition,
                   std::chrono::milliseconds timeout) const;
    nlohmann::ordered_json stateJson() const;
    // Lets a board held by WifiBoardOptions::holdAfterBursts go on.
    void release();

  private:
    void run();
    // One connection: streams and receives until the service closes it or the board stops.
    void session(WifiTestBoard& board);
    void acknowledge(WifiTestBoard& board, const ReceivedFirmwarePacket& packet);
    void change(const std::function<void(WifiBoardSnapshot&)>& edit);
    bool pause(std::chrono::milliseconds duration);
    // True while holdAfterBursts keeps the board from its next burst.
    bool held() const;

    const std::uint16_t port;
    const WifiBoardOptions options;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    WifiBoardSnapshot state;  // guarded by mutex
    bool stopping = false;    // guarded by mutex
    bool released = false;    // guarded by mutex
    std::thread thread;       // last: starts after every member exists
};

}  // namespace brisel::test
