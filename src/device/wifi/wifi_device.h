// A board's handle on the WiFi connection that the service's server holds.
#pragma once

#include <cstdint>
#include <memory>

#include "device/wifi/wifi_server.h"

namespace brisel::device {

// Not thread-safe: one workflow owns a handle.
class WifiDevice {
  public:
    // Takes the server's held connection; logs "Wifi connection not found ..." when there is none (or
    // no server), and is then not open.
    explicit WifiDevice(std::shared_ptr<WifiServer> server = getWifiServer());

    bool deviceOpen() const { return open; }
    std::int64_t wifiConnectionId() const { return connectionId; }
    // The connection as last seen; none when there was none or it went away.
    const std::shared_ptr<WifiServerConnection>& wifiServerConnection() const { return connection; }

    // Looks the connection up in the server's table again and keeps the result; true when the server
    // still holds it.
    bool isConnectionAlive();

  private:
    std::shared_ptr<WifiServer> server;
    std::shared_ptr<WifiServerConnection> connection;
    std::int64_t connectionId = 0;
    bool open = false;
};

}  // namespace brisel::device
