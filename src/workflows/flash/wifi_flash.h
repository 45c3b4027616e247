// Flashing a model library onto the board on the WiFi connection: the common start of the WiFi flash
// controllers and the transfer with its reconnection and mode waits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/device_kind.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// How long the board may take to connect again after a transfer, and then to show its mode (scaled).
inline constexpr std::chrono::milliseconds kWifiReconnectLimit{45000};
inline constexpr std::chrono::milliseconds kWifiModeLimit{45000};

// What a WiFi flash request carries.
struct WifiFlashTarget {
    std::string host;
    std::string scheme;
    std::string port;
    std::string authToken;
    std::int64_t runID = 0;
};

// Websocket thread: logs "WIFI: Flash request received", sets the request's cloud, sends "START" and
// starts a workflow thread that reads the run's board kind and hands it to `setupFlash` (or reports the
// failure once as "ERROR"). When the workflows that run at once are at their bound, the one reply is
// "ERROR" with the busy message and the cloud in force stays.
void wifiFlashResponse(const std::shared_ptr<frame::WebSocket>& ws, const WifiFlashTarget& target,
                       std::function<void(common::DeviceKind)> setupFlash);

// Workflow thread: downloads the library `libname` of the run, sends it over the first WiFi connection
// and waits (scaled) for the board to connect again (45 s from the end of the transfer) and to show the
// mode the library makes ("data collection" for "datacollection.bin", "classification" otherwise; 45 s
// from the connection's arrival). A connection that ends without showing a mode (another host on the
// board port, say) is let go and the wait goes on for the next one. Reports every failure itself as
// one "ERROR" and returns false; true means the caller reports success.
bool wifiFlash(frame::WebSocket& ws, std::int64_t runID, const std::string& libname);

}  // namespace brisel::workflows
