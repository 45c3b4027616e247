// Settings of the WiFi board server: port, timings, where transfer dumps go, who hears about boards.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "device/wifi/wifi_data_buffer.h"

namespace brisel::device {

// Every wait of the WiFi link. The defaults are the service's; tests shorten them.
struct WifiTimings {
    // A liveness check runs this long after a read is armed...
    std::chrono::milliseconds livenessDelay{10000};
    // ...and ends the connection when no read completed within this limit (outside a transfer).
    std::chrono::milliseconds idleLimit{5000};
    // A connection that has shown no mode marker by this time after it was accepted (outside a
    // transfer) is closed, so that a peer that is no board cannot hold the one board slot. A board
    // sends its marker at once; as long as the idle limit, a board may be silent already.
    std::chrono::milliseconds undecidedLimit{5000};
    // Wait for a board's acknowledgement of a firmware packet.
    std::chrono::milliseconds ackTimeout{10000};
    // Pause between the stages of a firmware transfer.
    std::chrono::milliseconds stagePause{5000};
    // Bound on waiting for the io thread to carry out a request from another thread.
    std::chrono::milliseconds ioRequestWait{5000};
};

// Called on the server's io thread with true when a board connects (twice: started and ready) and
// with false when a board whose mode was detected goes away.
using PresenceNotifier = std::function<void(bool present)>;

inline constexpr std::uint16_t kWifiServerPort = 6012;

// Boards reach the server over the network; tests keep it on the loopback interface.
enum class WifiListenScope { allInterfaces, loopbackOnly };

struct WifiServerSettings {
    std::uint16_t port = kWifiServerPort;  // 0 picks a free port (tests)
    WifiListenScope scope = WifiListenScope::allInterfaces;
    WifiTimings timings;
    std::filesystem::path dumpFolder;  // folder of the "send_<stage>.bin" transfer dumps; empty: none
    PresenceNotifier notifyPresence;   // may be empty
    std::size_t dataBufferCapacity = WifiDataBuffer::kDefaultCapacity;
};

}  // namespace brisel::device
