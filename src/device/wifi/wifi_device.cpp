#include "device/wifi/wifi_device.h"

#include <utility>

#include "common/logger.h"

namespace brisel::device {

WifiDevice::WifiDevice(std::shared_ptr<WifiServer> server_) : server(std::move(server_)) {
    if (server) {
        connection = server->getConnection();
    }
    if (!connection) {
        common::logger().info("Wifi connection not found ...");
        return;
    }
    connectionId = connection->id();
    open = true;
}

bool WifiDevice::isConnectionAlive() {
    connection = server ? server->connectionById(connectionId) : nullptr;
    return connection != nullptr;
}

}  // namespace brisel::device
