// A board that sends its sample packets over the WiFi server's connection.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/boards/brisel_device_base.h"
#include "device/wifi/wifi_device.h"
#include "device/wifi/wifi_server.h"

namespace brisel::device {

// Threads: the owner calls startReadThread, reset and close; the connection itself is shared with the
// server's io thread, which fills its data buffer while saving is on.
class BriselWifiDevice final : public BriselDeviceBase {
  public:
    // Takes the server's connection (WifiDevice), up to `maxConnectionRetries` attempts
    // `settings.retryPause` apart. Returns the board (default sensors, no maximum length) with saving
    // switched on at the connection, or null when no attempt found a connection (logged with what to
    // do). Blocks the calling thread meanwhile.
    static std::shared_ptr<BriselWifiDevice> initDataCollection(
        common::DeviceKind deviceKind, std::optional<SensorOdrs> sensorOdrs, int maxConnectionRetries,
        std::int64_t collectionID, BoardSettings settings = {},
        std::shared_ptr<WifiServer> server = getWifiServer());

    BriselWifiDevice(WifiDevice wifiDevice, std::optional<std::int64_t> maxLen,
                     std::optional<std::vector<std::string>> sensors, common::DeviceKind deviceKind,
                     std::optional<SensorOdrs> sensorOdrs, std::int64_t collectionID,
                     BoardSettings settings = {});
    // As close(): the read thread stops and the connection no longer keeps sample bytes.
    ~BriselWifiDevice() override;

    // Starts the reader on the connection's data buffer ("WIFI: Connection not established at " when
    // the handle holds no connection, "WIFI: Sample Reader nil at " without a reader). A connection
    // that has ended is seen by the reader as a disconnect.
    void startReadThread() override;

    // Stops the read thread (keeping the current file), then switches saving off at the connection,
    // which empties its data buffer. Idempotent.
    void close() override;

    const WifiDevice& wifiDevice() const { return wifiDevice_; }

  private:
    WifiDevice wifiDevice_;
};

}  // namespace brisel::device
